#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/depth_intake.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/plane_fit_replica.hpp"

namespace {

// The fit from every form of the replica this processor runs.
struct FitOf {
    std::vector<Eigen::Vector3d> forms;
};

FitOf replica_fit(const std::vector<cv::Point3d>& points)
{
    PlaneFitReplica replica;
    const PlaneFitReplica::Points buffers = replica.start(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        buffers.x[i] = points[i].x;
        buffers.y[i] = points[i].y;
        buffers.z[i] = points[i].z;
    }
    // What a vector writer may leave past the last point must not count.
    for (std::size_t i = points.size(); i < points.size() + PlaneFitReplica::spare; ++i) {
        buffers.x[i] = buffers.y[i] = buffers.z[i] = 1e6;
    }
    FitOf fit;
    for (const auto lanes : {PlaneFitReplica::Lanes::automatic, PlaneFitReplica::Lanes::portable,
                             PlaneFitReplica::Lanes::avx2, PlaneFitReplica::Lanes::avx512}) {
        if (PlaneFitReplica::available(lanes)) fit.forms.push_back(replica.solve(lanes));
    }
    return fit;
}

// Back-projected pixels of a tilted face with noise: the kind of points the face fit gets,
// ill-conditioned enough that any other summation order changes the last bits.
std::vector<cv::Point3d> face_points(std::size_t n, std::mt19937_64& random)
{
    std::uniform_int_distribution<int> column(0, 639), row(200, 330);
    std::normal_distribution<double> noise(0.0, 3.0);
    const double tilt_u = std::uniform_real_distribution<double>(-2.0, 2.0)(random);
    std::vector<cv::Point3d> points;
    points.reserve(n);
    while (points.size() < n) {
        const int u = column(random), v = row(random);
        const double d = std::round(1300.0 + tilt_u * (u - 320) + 4.0 * (v - 240) + noise(random));
        if (d < 1.0 || d > 65535.0) continue;
        points.push_back(depth_to_point(v, u, static_cast<std::uint16_t>(d)));
    }
    return points;
}

bool same_bits(const Eigen::Vector3d& a, const Eigen::Vector3d& b)
{
    for (int i = 0; i < 3; ++i) {
        if (std::signbit(a(i)) != std::signbit(b(i))) return false;
        if (!(a(i) == b(i)) && !(std::isnan(a(i)) && std::isnan(b(i)))) return false;
    }
    return true;
}

}  // namespace

TEST(PlaneFitReplica, EqualsTheMatrixFitBitForBitAtEverySize)
{
    std::mt19937_64 random(2026);
    // Sizes around the 16-point blocks, the four-block groups and the library's depth blocks, up
    // to many depth blocks; each size also once with another face.
    std::vector<std::size_t> sizes = {128, 129, 143, 144, 191, 192, 193, 255, 256, 257, 500, 511,
                                      512, 513, 1000, 1023, 1024, 1025, 2047, 2048, 2049, 4095};
    for (int i = 0; i < 40; ++i) sizes.push_back(128 + random() % 60000);
    for (const std::size_t n : sizes) {
        SCOPED_TRACE(n);
        ASSERT_TRUE(PlaneFitReplica::covers(n));
        const std::vector<cv::Point3d> points = face_points(n, random);
        const Eigen::Vector3d literal = fit_plane(points);
        const FitOf replica = replica_fit(points);
        for (std::size_t form = 0; form < replica.forms.size(); ++form) {
            EXPECT_TRUE(same_bits(replica.forms[form], literal))
                << "form " << form << ": " << replica.forms[form].transpose() << " vs "
                << literal.transpose();
        }
    }
}

TEST(PlaneFitReplica, KeepsDegenerateFitsAsTheMatrixFitGivesThem)
{
    // Collinear points make A^T A singular: whatever the inverse gives (infinities, NaN), the
    // replica gives the same; and a reused replica forgets the points of its last fit.
    std::vector<cv::Point3d> line;
    for (int i = 0; i < 300; ++i) line.push_back(depth_to_point(240, 100 + i, 1500));
    PlaneFitReplica replica;
    for (int round = 0; round < 2; ++round) {
        const PlaneFitReplica::Points buffers = replica.start(line.size());
        for (std::size_t i = 0; i < line.size(); ++i) {
            buffers.x[i] = line[i].x;
            buffers.y[i] = line[i].y;
            buffers.z[i] = line[i].z;
        }
        EXPECT_TRUE(same_bits(replica.solve(), fit_plane(line)));
        EXPECT_TRUE(same_bits(replica.solve_portable(), fit_plane(line)));
        if (PlaneFitReplica::available(PlaneFitReplica::Lanes::avx2)) {
            EXPECT_TRUE(same_bits(replica.solve(PlaneFitReplica::Lanes::avx2), fit_plane(line)));
        }
    }
    EXPECT_FALSE(PlaneFitReplica::covers(127));
}
