// Plane fit and the rotation that turns the plane's normal onto +Z.
#pragma once

#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

// Least-squares plane z = a*x + b*y + c through the points (mm); returns (a, b, c).
// No rank test: points that span no plane give non-finite coefficients (no points give zeros).
Eigen::Vector3d fit_plane(const std::vector<cv::Point3d>& points);

// Rotation taking the unit normal (a, b, -1)/|.| of the plane onto +Z; c is not read.
// a = b = 0 gives -I.
Eigen::Matrix3d rotation_onto_z(const Eigen::Vector3d& plane);

// 3 x 3 CV_64F header over R's column-major storage: element (r, c) reads R(c, r), that is R
// transposed. Copies nothing; valid while R lives.
cv::Mat rotation_view(Eigen::Matrix3d& R);
