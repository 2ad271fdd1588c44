#include "analysis/plane_fit.hpp"

#include <cmath>
#include <utility>

#include <Eigen/Geometry>

Eigen::Vector3d fit_plane(const std::vector<cv::Point3d>& points)
{
    // N = A^T A: entry (j, k) is the sum over the points of A(i, j) A(i, k), in point order.
    double xx = 0.0, xy = 0.0, x = 0.0, yy = 0.0, y = 0.0;
    for (const cv::Point3d& p : points) {
        xx += p.x * p.x;
        xy += p.x * p.y;
        x += p.x;
        yy += p.y * p.y;
        y += p.y;
    }
    const auto n = static_cast<double>(points.size());  // the sum of n ones, exactly
    Eigen::Matrix3d N;
    N << xx, xy, x, xy, yy, y, x, y, n;
    const Eigen::Matrix3d P = lu_inverse(N);
    // Column i of the 3 x n product N^-1 A^T is N^-1 (x_i, y_i, 1), each entry summed left to
    // right; it meets w_i in point order. N^-1 (A^T w) would round differently.
    double a = 0.0, b = 0.0, c = 0.0;
    for (const cv::Point3d& p : points) {
        a += ((P(0, 0) * p.x + P(0, 1) * p.y) + P(0, 2)) * p.z;
        b += ((P(1, 0) * p.x + P(1, 1) * p.y) + P(1, 2)) * p.z;
        c += ((P(2, 0) * p.x + P(2, 1) * p.y) + P(2, 2)) * p.z;
    }
    return {a, b, c};
}

Eigen::Matrix3d lu_inverse(const Eigen::Matrix3d& N)
{
    // LU = N with its rows permuted: L unit lower triangular below the diagonal, U on and above.
    Eigen::Matrix3d LU = N;
    int row_of[3] = {0, 1, 2};  // row_of[k]: the row of N that sits in row k of LU
    for (int k = 0; k < 3; ++k) {
        int pivot = k;
        for (int i = k + 1; i < 3; ++i) {
            if (std::abs(LU(i, k)) > std::abs(LU(pivot, k))) pivot = i;
        }
        if (pivot != k) {
            LU.row(k).swap(LU.row(pivot));
            std::swap(row_of[k], row_of[pivot]);
        }
        for (int i = k + 1; i < 3; ++i) {
            LU(i, k) /= LU(k, k);  // a zero pivot makes the inverse non-finite, as it should
            for (int j = k + 1; j < 3; ++j) LU(i, j) -= LU(i, k) * LU(k, j);
        }
    }
    // Column c of the inverse solves L U x = (column c of I, rows permuted).
    Eigen::Matrix3d inverse;
    for (int c = 0; c < 3; ++c) {
        double x[3];
        for (int i = 0; i < 3; ++i) {
            x[i] = row_of[i] == c ? 1.0 : 0.0;
            for (int j = 0; j < i; ++j) x[i] -= LU(i, j) * x[j];
        }
        for (int i = 2; i >= 0; --i) {
            for (int j = i + 1; j < 3; ++j) x[i] -= LU(i, j) * x[j];
            x[i] /= LU(i, i);
        }
        for (int i = 0; i < 3; ++i) inverse(i, c) = x[i];
    }
    return inverse;
}

Eigen::Matrix3d rotation_onto_z(const Eigen::Vector3d& plane)
{
    const double a = plane(0);
    const double b = plane(1);
    const double s = std::sqrt((a * a + b * b) + 1.0);
    Eigen::Vector3d n(a / s, b / s, -1.0 / s);
    n = n.normalized();  // a zero or not-a-number vector comes back unchanged
    const Eigen::Vector3d Z(0.0, 0.0, 1.0);
    const double angle = std::acos(n.dot(Z));
    // n on the left: the axis is (n_y, -n_x, 0); for a = b = 0 it stays the zero vector.
    const Eigen::Vector3d axis = n.cross(Z).normalized();
    const Eigen::AngleAxisd axis_angle(angle, axis);
    return axis_angle.toRotationMatrix();
}

cv::Mat rotation_view(Eigen::Matrix3d& R)
{
    return cv::Mat(3, 3, CV_64F, R.data());  // reads the column-major storage row by row
}
