#include "analysis/plane_fit.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include <Eigen/LU>
#include <gtest/gtest.h>

namespace {

void expect_matrix_near(const Eigen::Matrix3d& actual, const Eigen::Matrix3d& expected, double tol)
{
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(actual(r, c), expected(r, c), tol) << "element (" << r << ", " << c << ")";
        }
    }
}

}  // namespace

TEST(PlaneFit, RecoversAnExactPlane)
{
    std::vector<cv::Point3d> points;
    for (int i = -5; i <= 5; ++i) {
        for (int j = -4; j <= 6; ++j) {
            const double x = 37.0 * i + 1.5;
            const double y = 23.0 * j - 4.0;
            points.emplace_back(x, y, 2.0 * x - 3.0 * y + 5.0);
        }
    }
    const Eigen::Vector3d plane = fit_plane(points);
    EXPECT_NEAR(plane(0), 2.0, 1e-9);
    EXPECT_NEAR(plane(1), -3.0, 1e-9);
    EXPECT_NEAR(plane(2), 5.0, 1e-7);
}

TEST(PlaneFit, EmptyListGivesZeroCoefficientsAndMinusIdentity)
{
    const Eigen::Vector3d plane = fit_plane({});
    EXPECT_EQ(plane(0), 0.0);
    EXPECT_EQ(plane(1), 0.0);
    EXPECT_EQ(plane(2), 0.0);
    const Eigen::Matrix3d R = rotation_onto_z(plane);
    expect_matrix_near(R, -Eigen::Matrix3d::Identity(), 1e-15);
}

TEST(RotationOntoZ, LevelPlaneGivesMinusIdentity)
{
    // n = (0, 0, -1), angle pi, zero axis: the rotation is -I and still takes n onto +Z.
    // c takes no part.
    const Eigen::Matrix3d R = rotation_onto_z(Eigen::Vector3d(0.0, 0.0, 1234.0));
    expect_matrix_near(R, -Eigen::Matrix3d::Identity(), 1e-15);
    EXPECT_DOUBLE_EQ(R(2, 2), -1.0);
    const Eigen::Vector3d image = R * Eigen::Vector3d(0.0, 0.0, -1.0);
    EXPECT_NEAR((image - Eigen::Vector3d::UnitZ()).norm(), 0.0, 1e-15);
}

TEST(RotationOntoZ, FloorSlopingAlongYAndItsView)
{
    const double h = 1.0 / std::sqrt(2.0);
    Eigen::Matrix3d R = rotation_onto_z(Eigen::Vector3d(0.0, -1.0, 77.0));
    Eigen::Matrix3d expected;
    expected << 1.0, 0.0, 0.0,
                0.0, -h, h,
                0.0, -h, -h;
    expect_matrix_near(R, expected, 1e-12);

    const Eigen::Vector3d n(0.0, -h, -h);
    EXPECT_NEAR((R * n - Eigen::Vector3d::UnitZ()).norm(), 0.0, 1e-12);

    // The view lies over R's storage and reads it transposed.
    const cv::Mat view = rotation_view(R);
    EXPECT_EQ(view.rows, 3);
    EXPECT_EQ(view.cols, 3);
    EXPECT_EQ(view.type(), CV_64F);
    EXPECT_EQ(view.ptr<double>(0), R.data());
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(view.at<double>(r, c), R(c, r)) << "view element (" << r << ", " << c << ")";
        }
    }
    EXPECT_NEAR(view.at<double>(1, 2), -h, 1e-12);
    EXPECT_NEAR(view.at<double>(2, 1), h, 1e-12);

    // Inverting the view (the transpose of a rotation) gives R back.
    const cv::Mat inverse = view.inv(cv::DECOMP_LU);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(inverse.at<double>(r, c), R(r, c), 1e-12) << "inverse (" << r << ", " << c << ")";
        }
    }
}

TEST(RotationOntoZ, GeneralSlopeTakesNormalOntoZAndKeepsItAsLastRow)
{
    const double a = 0.3;
    const double b = -0.7;
    const Eigen::Matrix3d R = rotation_onto_z(Eigen::Vector3d(a, b, 5.0));
    const Eigen::Vector3d n = Eigen::Vector3d(a, b, -1.0).normalized();
    EXPECT_NEAR((R * n - Eigen::Vector3d::UnitZ()).norm(), 0.0, 1e-12);
    EXPECT_NEAR((R.row(2).transpose() - n).norm(), 0.0, 1e-12);
    EXPECT_NEAR((R * R.transpose() - Eigen::Matrix3d::Identity()).norm(), 0.0, 1e-12);
    EXPECT_NEAR(R.determinant(), 1.0, 1e-12);
}

// fit_plane's result is a function of the points alone: each entry of N = A^T A and each
// coefficient of (N^-1 A^T) w is summed in point order, every product and sum rounded on its own.
// The reference here forces each rounding through a volatile store, so a build that fused a
// product into a sum, or summed in another order, gives other bits.
TEST(PlaneFit, SumsInPointOrderEachStepRounded)
{
    std::vector<cv::Point3d> points;
    std::uint64_t state = 12345;
    const auto next = [&state] {  // a small LCG: the same points on every platform
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    for (int i = 0; i < 5000; ++i) {
        const double d = 800.0 + 3000.0 * next();
        points.emplace_back(d * (next() - 0.5), d * (next() - 0.3), d);
    }
    volatile double xx = 0.0, xy = 0.0, x = 0.0, yy = 0.0, y = 0.0;
    for (const cv::Point3d& p : points) {
        volatile double t = p.x * p.x;
        xx = xx + t;
        t = p.x * p.y;
        xy = xy + t;
        x = x + p.x;
        t = p.y * p.y;
        yy = yy + t;
        y = y + p.y;
    }
    const double sxx = xx, sxy = xy, sx = x, syy = yy, sy = y;
    Eigen::Matrix3d N;
    N << sxx, sxy, sx, sxy, syy, sy, sx, sy, static_cast<double>(points.size());
    const Eigen::Matrix3d P = lu_inverse(N);
    volatile double coefficient[3] = {0.0, 0.0, 0.0};
    for (const cv::Point3d& p : points) {
        for (int r = 0; r < 3; ++r) {
            volatile double t = P(r, 0) * p.x;
            volatile double u = P(r, 1) * p.y;
            t = t + u;
            t = t + P(r, 2);
            t = t * p.z;
            coefficient[r] = coefficient[r] + t;
        }
    }
    const Eigen::Vector3d plane = fit_plane(points);
    EXPECT_EQ(plane(0), coefficient[0]);
    EXPECT_EQ(plane(1), coefficient[1]);
    EXPECT_EQ(plane(2), coefficient[2]);
}

TEST(PlaneFit, LuInversePivotsAndSingularIsNotFinite)
{
    Eigen::Matrix3d N;  // a zero in the first pivot's place: the rows must be exchanged
    N << 0.0, 2.0, 1.0, 3.0, 1.0, 0.5, 1.0, 4.0, 7.0;
    EXPECT_TRUE((N * lu_inverse(N)).isIdentity(1e-12));
    Eigen::Matrix3d tiny_first;  // partial pivoting takes the largest, not the first non-zero
    tiny_first << 1e-18, 1.0, 2.0, 1.0, 3.0, 1.0, 2.0, 1.0, 5.0;
    EXPECT_TRUE((tiny_first * lu_inverse(tiny_first)).isIdentity(1e-9));
    Eigen::Matrix3d singular;
    singular << 1.0, 2.0, 3.0, 2.0, 4.0, 6.0, 1.0, 0.0, 1.0;
    EXPECT_FALSE(lu_inverse(singular).allFinite());
    EXPECT_FALSE(lu_inverse(Eigen::Matrix3d::Zero()).allFinite());
}
