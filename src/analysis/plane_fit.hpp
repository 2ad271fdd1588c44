// Plane fit and the rotation that turns the plane's normal onto +Z.
#pragma once

#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

// Least-squares plane z = a*x + b*y + c through the points (mm); returns (a, b, c).
// (A^T A)^-1 A^T w with row i of A = (x_i, y_i, 1) and w_i = z_i: the normal matrix summed in
// point order, inverted through an LU decomposition with partial pivoting, and the 3 x n product
// (A^T A)^-1 A^T met with w from the left, again in point order. Every sum is a plain double sum
// in the order of the points, so the result is a function of the points alone.
// No rank test: points that span no plane give non-finite coefficients (no points give zeros).
Eigen::Vector3d fit_plane(const std::vector<cv::Point3d>& points);

// The inverse of a 3 x 3 matrix through its LU decomposition with partial pivoting (the largest
// magnitude of the column below the diagonal, the first of equal ones). A singular matrix gives
// non-finite entries.
Eigen::Matrix3d lu_inverse(const Eigen::Matrix3d& N);

// Rotation taking the unit normal (a, b, -1)/|.| of the plane onto +Z; c is not read.
// a = b = 0 gives -I.
Eigen::Matrix3d rotation_onto_z(const Eigen::Vector3d& plane);

// 3 x 3 CV_64F header over R's column-major storage: element (r, c) reads R(c, r), that is R
// transposed. Copies nothing; valid while R lives.
cv::Mat rotation_view(Eigen::Matrix3d& R);
