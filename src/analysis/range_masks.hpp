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

// The same for a window of the combined band mask (a view into it, whose blur reads the mask
// around it), with the contours in image coordinates: window_corner is the window's top left.
std::vector<Contour> find_candidate_contours_in(const cv::Mat& mask_window,
                                                const cv::Point& window_corner);

// The second half of find_candidate_contours_in: the contours of the non-zero pixels of the
// filtered region (a window whose top-left pixel is window_corner) with 50 points or more.
std::vector<Contour> candidate_contours_in_region(const cv::Mat& region,
                                                  const cv::Point& window_corner);
