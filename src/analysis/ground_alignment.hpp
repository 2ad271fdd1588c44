// Ground reference and cloud alignment: every pixel re-expressed in a floor-aligned frame.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/depth_intake.hpp"

// The floor-aligned frame of one depth image: p' = M * (p - P0).
struct GroundFrame {
    cv::Point3d P0;  // camera point of row 420, column 320 (mm)
    cv::Matx33d M;   // the inverse of the ground rotation's transposed view: R up to rounding
};

// Fits the floor on the ground patch (rows 380..459, columns 240..399, zero depths included, in
// row-major order) and takes the point of row 420, column 320 as P0. ground_points receives the
// 12,800 patch points (its storage is reused). The depth image must be 480 x 640 CV_16UC1.
GroundFrame ground_frame_of(const cv::Mat& depth, std::vector<cv::Point3d>& ground_points);

// M * (p - P0) for the camera point p of row v, column u and depth d (not 0), each row of M
// dotted with p - P0 left to right.
inline cv::Point3d aligned_point(const GroundFrame& ground, int v, int u, std::uint16_t d)
{
    const cv::Point3d p = depth_to_point(v, u, d);
    const double dx = p.x - ground.P0.x;
    const double dy = p.y - ground.P0.y;
    const double dz = p.z - ground.P0.z;
    const cv::Matx33d& m = ground.M;
    return {(m(0, 0) * dx + m(0, 1) * dy) + m(0, 2) * dz,
            (m(1, 0) * dx + m(1, 1) * dy) + m(1, 2) * dz,
            (m(2, 0) * dx + m(2, 1) * dy) + m(2, 2) * dz};
}

// Every pixel of the depth image aligned, in row-major order (entry v * 640 + u); a pixel
// without depth gives exactly (0, 0, 0). The depth image must be 480 x 640 CV_16UC1.
std::vector<cv::Point3d> align_to_ground(const cv::Mat& depth);

// The lists of the alignment, kept by the caller from call to call so that none is allocated
// (and its 7 MB faulted in) afresh: their contents between two calls are of no meaning.
struct AlignmentScratch {
    std::vector<cv::Point3d> ground_points;  // the ground patch's points
    std::vector<cv::Point3d> camera_points;  // every pixel's camera point, row-major
    std::vector<cv::Point3d> aligned;        // what align_to_ground returns
};

// align_to_ground(depth), the same points computed the same way, into scratch.aligned; returns
// it (valid until the next call with this scratch).
const std::vector<cv::Point3d>& align_to_ground(const cv::Mat& depth, AlignmentScratch& scratch);
