// Step 3: a candidate's points: every measured pixel near its line, at the heights of the face,
// above the floor right in front of it.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_geometry.hpp"
#include "analysis/detector/face_scan.hpp"
#include "analysis/detector/floor_frame.hpp"

// Where a candidate's face is sought: along its line from t_lo to t_hi, from r_lo (in front) to
// r_hi (behind), and the image pixels that can see that box at the face's heights.
struct FaceWindow {
    Line line;
    double t_lo, t_hi, r_lo, r_hi;
    cv::Rect pixels;
};

FaceWindow window_of(const FaceCandidate& candidate, const FloorFrame& floor, const DetectorParams& params);

// The height of the floor right in front of the face above the fitted floor: the median over a
// sparse grid of the window's pixels within local_floor_band_mm of the fitted floor and up to
// local_floor_reach_mm in front of the line; 0 with fewer than 20 of them. `values` is scratch.
double local_floor_height(const cv::Mat& depth, const FaceWindow& window, const FloorFrame& floor,
                          const DetectorParams& params, std::vector<double>& values);

// Every measured pixel of the window whose height above the local floor (`floor_height` above the
// fitted one) lies in band_low_mm..band_high_mm (into band: blocks and boards) or above it up to
// top_high_mm (into upper: the top of the face and whatever stands on it), row by row, each row
// left to right; heights relative to the local floor. Each row is looked at every fourth pixel
// first and scanned whole only around the pixels at those heights.
void window_points(const cv::Mat& depth, const FaceWindow& window, const FloorFrame& floor, double floor_height,
                   const DetectorParams& params, std::vector<FacePoint>& band, std::vector<FacePoint>& upper);
