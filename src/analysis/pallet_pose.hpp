// Pallet selection and pose: the face contour, its points, its centre and its rotation.
#pragma once

#include <array>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/range_masks.hpp"

using BoxCorners = std::array<cv::Point2f, 4>;

// Entry 0: the candidate of largest area (earliest on ties); then, in candidate order, every
// other candidate whose first point lies inside or on the face contour. Empty in, empty out.
std::vector<Contour> select_pallet_contours(const std::vector<Contour>& candidate_contours);

// Corners of the minimum-area rectangle of a contour, in cv::RotatedRect::points order.
BoxCorners box_corners(const Contour& contour);

// Mask of the given size: selection entry 0 filled with 255, every later entry filled with 0.
cv::Mat fill_face_mask(const std::vector<Contour>& selection, cv::Size size);

// The same mask drawn into face_mask (made or remade at that size and CV_8UC1 if needed, then
// cleared); returns face_mask.
const cv::Mat& fill_face_mask(const std::vector<Contour>& selection, cv::Size size,
                              cv::Mat& face_mask);

// Camera points of the face pixels that are also in the combined band mask and have a depth,
// in column-major pixel order.
std::vector<cv::Point3d> gather_face_points(const cv::Mat& face_mask,
                                            const cv::Mat& combined_band_mask,
                                            const cv::Mat& depth);

// The same points into face_points (emptied first, its storage reused).
void gather_face_points(const cv::Mat& face_mask, const cv::Mat& combined_band_mask,
                        const cv::Mat& depth, std::vector<cv::Point3d>& face_points);

// Camera point of the rectangle's centre pixel (x + width / 2, y + height / 2, integer halves);
// (0, 0, 0) when that pixel has no depth.
cv::Point3d rect_centre_point(const cv::Rect& bounding_rect, const cv::Mat& depth);

struct RotationAngles {
    double yaw_deg;    // about Z, atan2(R10, R00)
    double pitch_deg;  // about Y
    double roll_deg;   // about X
};

// Yaw, pitch and roll of R = Rz(yaw) * Ry(pitch) * Rx(roll), in degrees.
RotationAngles rotation_angles(const Eigen::Matrix3d& R);

// Z-Y-X Euler angles (e0, e1, e2) in radians with e0 in [0, pi], e1 and e2 in [-pi, pi].
Eigen::Vector3d euler_zyx(const Eigen::Matrix3d& R);

// The Euler angles in degrees, each element as (e * 180) / pi.
Eigen::Vector3d euler_degrees(const Eigen::Vector3d& euler_rad);
