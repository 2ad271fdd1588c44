// Ground reference and cloud alignment: every pixel re-expressed in a floor-aligned frame.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

// Fits the floor on the ground patch (rows 380..459, columns 240..399, zero depths included),
// takes the point of row 420, column 320 as origin P0 and returns M * (p - P0) for every pixel
// in row-major order (entry v * 640 + u); a pixel without depth gives exactly (0, 0, 0).
// The depth image must be 480 x 640 CV_16UC1.
std::vector<cv::Point3d> align_to_ground(const cv::Mat& depth);
