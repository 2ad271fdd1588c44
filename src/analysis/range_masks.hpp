// Band masks over the aligned point list and the candidate regions they form.
#pragma once

#include <cmath>
#include <vector>

#include <opencv2/core.hpp>

using Contour = std::vector<cv::Point>;

// Each mask is 480 x 640 CV_8UC1 holding 0 or 255; aligned holds 480 * 640 points, row-major.

// 255 where 41 <= |z'| < 241 mm (|z'| truncated to whole mm); non-finite z' is outside.
cv::Mat make_height_mask(const std::vector<cv::Point3d>& aligned);

// 255 where -2000 <= y' <= -400 mm; non-finite y' is outside.
cv::Mat make_depth_band_mask(const std::vector<cv::Point3d>& aligned);

// 255 where -600 <= x' <= 600 mm and |x'| does not round to 0; non-finite x' is outside.
cv::Mat make_lateral_band_mask(const std::vector<cv::Point3d>& aligned);

// The pixels inside all three bands.
cv::Mat make_combined_band_mask(const std::vector<cv::Point3d>& aligned);

// The images of the band masks, kept by the caller from call to call so that none is allocated
// afresh: each stage writes into its own image, made on the first call. Their contents between
// two calls are of no meaning.
struct BandMaskScratch {
    cv::Mat height, height_8bit, height_mask;               // CV_16UC1, then CV_8UC1
    cv::Mat depth_band, depth_band_8bit, depth_band_mask;   // CV_64FC1, then CV_8UC1
    cv::Mat lateral_band, lateral_band_8bit, lateral_band_mask;
    cv::Mat first_and;
    cv::Mat combined_band_mask;
};

// The masks above, the same pixels computed the same way, into the scratch's images; each
// returns its mask (the scratch's image: valid until the next call with this scratch).
const cv::Mat& make_height_mask(const std::vector<cv::Point3d>& aligned, BandMaskScratch& scratch);
const cv::Mat& make_depth_band_mask(const std::vector<cv::Point3d>& aligned,
                                    BandMaskScratch& scratch);
const cv::Mat& make_lateral_band_mask(const std::vector<cv::Point3d>& aligned,
                                      BandMaskScratch& scratch);
const cv::Mat& make_combined_band_mask(const std::vector<cv::Point3d>& aligned,
                                       BandMaskScratch& scratch);

// Whether an aligned point is inside all three bands, as the combined band mask says of its
// pixel: 41 <= |z'| < 241, -2000 <= y' <= -400, and -600 <= x' <= 600 with |x'| not rounding to 0
// (the lateral image is turned to 8 bits through single precision, so |x'| is rounded to float
// first: 0.5 + 2^-25 still gives 0). Any non-finite coordinate is outside.
inline bool in_combined_bands(const cv::Point3d& aligned)
{
    const double height = std::abs(aligned.z);
    return height >= 41.0 && height < 241.0 && aligned.y >= -2000.0 && aligned.y <= -400.0 &&
           aligned.x >= -600.0 && aligned.x <= 600.0 &&
           static_cast<float>(std::abs(aligned.x)) > 0.5f;
}

// Blurs (3 x 3 Gaussian) and opens (5 x 5 square) the combined band mask, traces every outer
// and hole boundary of the non-zero area and keeps, in search order, those of 50 points or more.
std::vector<Contour> find_candidate_contours(const cv::Mat& combined_band_mask);

// The filtered images of the contour search, kept from call to call (of no meaning between calls).
struct ContourScratch {
    cv::Mat blurred, eroded, region;  // CV_8UC1, the size of the mask searched
};

// find_candidate_contours(combined_band_mask), its filters writing into the scratch's images.
std::vector<Contour> find_candidate_contours(const cv::Mat& combined_band_mask,
                                             ContourScratch& scratch);

// The same for a window of the combined band mask (a view into it, whose blur reads the mask
// around it), with the contours in image coordinates: window_corner is the window's top left.
std::vector<Contour> find_candidate_contours_in(const cv::Mat& mask_window,
                                                const cv::Point& window_corner);
std::vector<Contour> find_candidate_contours_in(const cv::Mat& mask_window,
                                                const cv::Point& window_corner,
                                                ContourScratch& scratch);

// The second half of find_candidate_contours_in: the contours of the non-zero pixels of the
// filtered region (a window whose top-left pixel is window_corner) with 50 points or more.
std::vector<Contour> candidate_contours_in_region(const cv::Mat& region,
                                                  const cv::Point& window_corner);
