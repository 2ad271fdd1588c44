#include "analysis/plane_fit.hpp"

#include <cmath>

#include <Eigen/Geometry>
#include <Eigen/LU>

Eigen::Vector3d fit_plane(const std::vector<cv::Point3d>& points)
{
    const auto n = static_cast<Eigen::Index>(points.size());
    Eigen::MatrixXd A(n, 3);
    Eigen::VectorXd w(n);
    for (Eigen::Index i = 0; i < n; ++i) {
        const cv::Point3d& p = points[static_cast<std::size_t>(i)];
        A(i, 0) = p.x;
        A(i, 1) = p.y;
        A(i, 2) = 1.0;
        w(i) = p.z;
    }
    const Eigen::MatrixXd At = A.transpose();
    // Evaluated from the left: the 3 x n product (At A)^-1 At is formed in full before it meets w.
    // The dynamic-size inverse goes through a partial-pivoting LU; there is no rank test.
    return (At * A).inverse() * At * w;
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
