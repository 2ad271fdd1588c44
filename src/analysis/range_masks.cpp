#include "analysis/range_masks.hpp"

#include <cmath>
#include <cstdint>

#include <opencv2/imgproc.hpp>

namespace {

// |z'| truncated to whole mm as a 16-bit value, 0 outside 24..240. A height that is not finite or
// would not fit in 16 bits (it would wrap back into the band) counts as outside.
std::uint16_t banded_height(double z)
{
    const double magnitude = std::abs(z);
    if (!(magnitude < 65536.0)) {
        return 0;
    }
    const auto A = static_cast<std::uint16_t>(magnitude);
    if (A > 240 || A < 24) {
        return 0;
    }
    return A;
}

// y' inside [-2000, -400], else 0. A NaN fails both comparisons, so it is caught first.
double banded_depth(double y)
{
    if (!std::isfinite(y) || y < -2000.0 || y > -400.0) {
        return 0.0;
    }
    return y;
}

// x' inside [-600, 600], else 0.
double banded_lateral(double x)
{
    if (!std::isfinite(x) || x > 600.0 || x < -600.0) {
        return 0.0;
    }
    return x;
}

void check_aligned_size(const std::vector<cv::Point3d>& aligned)
{
    CV_Assert(aligned.size() == static_cast<std::size_t>(480 * 640));
}

}  // namespace

cv::Mat make_height_mask(const std::vector<cv::Point3d>& aligned)
{
    BandMaskScratch scratch;
    return make_height_mask(aligned, scratch);
}

cv::Mat make_depth_band_mask(const std::vector<cv::Point3d>& aligned)
{
    BandMaskScratch scratch;
    return make_depth_band_mask(aligned, scratch);
}

cv::Mat make_lateral_band_mask(const std::vector<cv::Point3d>& aligned)
{
    BandMaskScratch scratch;
    return make_lateral_band_mask(aligned, scratch);
}

cv::Mat make_combined_band_mask(const std::vector<cv::Point3d>& aligned)
{
    BandMaskScratch scratch;
    return make_combined_band_mask(aligned, scratch);
}

const cv::Mat& make_height_mask(const std::vector<cv::Point3d>& aligned, BandMaskScratch& scratch)
{
    check_aligned_size(aligned);
    cv::Mat& height = scratch.height;
    height.create(480, 640, CV_16UC1);
    std::size_t i = 0;
    for (int v = 0; v < 480; ++v) {
        std::uint16_t* row = height.ptr<std::uint16_t>(v);
        for (int u = 0; u < 640; ++u, ++i) {
            row[u] = banded_height(aligned[i].z);
        }
    }
    height.convertTo(scratch.height_8bit, CV_8U, 1.0, 0.0);
    cv::threshold(scratch.height_8bit, scratch.height_mask, 40, 255, cv::THRESH_BINARY);
    return scratch.height_mask;
}

const cv::Mat& make_depth_band_mask(const std::vector<cv::Point3d>& aligned,
                                    BandMaskScratch& scratch)
{
    check_aligned_size(aligned);
    cv::Mat& depth_band = scratch.depth_band;
    depth_band.create(480, 640, CV_64FC1);
    std::size_t i = 0;
    for (int v = 0; v < 480; ++v) {
        double* row = depth_band.ptr<double>(v);
        for (int u = 0; u < 640; ++u, ++i) {
            row[u] = banded_depth(aligned[i].y);
        }
    }
    // |y'| >= 400 saturates to 255
    cv::convertScaleAbs(depth_band, scratch.depth_band_8bit, 1.0, 0.0);
    // Otsu ignores the 150; on an image of only 0 and 255 it picks 0.
    cv::threshold(scratch.depth_band_8bit, scratch.depth_band_mask, 150, 255,
                  cv::THRESH_BINARY | cv::THRESH_OTSU);
    return scratch.depth_band_mask;
}

const cv::Mat& make_lateral_band_mask(const std::vector<cv::Point3d>& aligned,
                                      BandMaskScratch& scratch)
{
    check_aligned_size(aligned);
    cv::Mat& lateral_band = scratch.lateral_band;
    lateral_band.create(480, 640, CV_64FC1);
    std::size_t i = 0;
    for (int v = 0; v < 480; ++v) {
        double* row = lateral_band.ptr<double>(v);
        for (int u = 0; u < 640; ++u, ++i) {
            row[u] = banded_lateral(aligned[i].x);
        }
    }
    // |x'| rounded: below 0.5 is 0
    cv::convertScaleAbs(lateral_band, scratch.lateral_band_8bit, 1.0, 0.0);
    cv::threshold(scratch.lateral_band_8bit, scratch.lateral_band_mask, 0, 255, cv::THRESH_BINARY);
    return scratch.lateral_band_mask;
}

const cv::Mat& make_combined_band_mask(const std::vector<cv::Point3d>& aligned,
                                       BandMaskScratch& scratch)
{
    const cv::Mat& height_mask = make_height_mask(aligned, scratch);
    const cv::Mat& depth_band_mask = make_depth_band_mask(aligned, scratch);
    const cv::Mat& lateral_band_mask = make_lateral_band_mask(aligned, scratch);
    cv::bitwise_and(height_mask, depth_band_mask, scratch.first_and, cv::noArray());
    cv::bitwise_and(scratch.first_and, lateral_band_mask, scratch.combined_band_mask, cv::noArray());
    return scratch.combined_band_mask;
}

std::vector<Contour> find_candidate_contours(const cv::Mat& combined_band_mask)
{
    return find_candidate_contours_in(combined_band_mask, cv::Point(0, 0));
}

std::vector<Contour> find_candidate_contours(const cv::Mat& combined_band_mask,
                                             ContourScratch& scratch)
{
    return find_candidate_contours_in(combined_band_mask, cv::Point(0, 0), scratch);
}

std::vector<Contour> find_candidate_contours_in(const cv::Mat& mask_window,
                                                const cv::Point& window_corner)
{
    ContourScratch scratch;
    return find_candidate_contours_in(mask_window, window_corner, scratch);
}

std::vector<Contour> find_candidate_contours_in(const cv::Mat& mask_window,
                                                const cv::Point& window_corner,
                                                ContourScratch& scratch)
{
    cv::GaussianBlur(mask_window, scratch.blurred, cv::Size(3, 3), 0, 0, cv::BORDER_DEFAULT);
    const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5), cv::Point(-1, -1));
    cv::erode(scratch.blurred, scratch.eroded, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
              cv::morphologyDefaultBorderValue());
    cv::dilate(scratch.eroded, scratch.region, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());
    return candidate_contours_in_region(scratch.region, window_corner);
}

std::vector<Contour> candidate_contours_in_region(const cv::Mat& region,
                                                  const cv::Point& window_corner)
{
    // Searched as it is: every non-zero pixel counts, the blur's soft rim included.
    std::vector<Contour> contours;
    std::vector<cv::Vec4i> hierarchy;
    cv::findContours(region, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE,
                     window_corner);

    std::vector<Contour> candidate_contours;
    for (Contour& contour : contours) {
        if (contour.size() >= 50) {
            candidate_contours.push_back(std::move(contour));
        }
    }
    return candidate_contours;
}
