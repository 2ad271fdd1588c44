// The bumpy floor: a smooth height field of a few mm, and the renderer's floor on it.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "sim/floor_relief.hpp"
#include "sim/render.hpp"
#include "sim/sensor_presets.hpp"

namespace {

sim::FloorRelief typical_relief()
{
    return sim::typical_tof().floor;
}

double degrees_of_slope(double slope)
{
    return std::atan(slope) * 180.0 / M_PI;
}

}  // namespace

TEST(SimFloorRelief, HeightsStayWithinTheAmplitudesAndSpanThem)
{
    const sim::FloorRelief relief = typical_relief();
    const double bound = relief.bump_mm + relief.undulation_mm;
    double low = 0.0;
    double high = 0.0;
    double sum_sq = 0.0;
    double steepest = 0.0;
    int n = 0;
    for (double y = 0.0; y <= 8000.0; y += 25.0) {  // the floor the camera sees, 8 x 8 m
        for (double x = -4000.0; x <= 4000.0; x += 25.0) {
            const sim::FloorSample s = sim::floor_sample(relief, x, y);
            ASSERT_LE(std::abs(s.height_mm), bound);
            low = std::min(low, s.height_mm);
            high = std::max(high, s.height_mm);
            sum_sq += s.height_mm * s.height_mm;
            steepest = std::max(steepest, std::hypot(s.slope_x, s.slope_y));
            ++n;
        }
    }
    EXPECT_GT(high - low, bound) << "a few mm up and down";
    const double rms = std::sqrt(sum_sq / n);
    EXPECT_GT(rms, 0.25 * relief.bump_mm);
    EXPECT_LT(rms, 0.6 * bound);
    EXPECT_GT(degrees_of_slope(steepest), 0.3);
    EXPECT_LT(degrees_of_slope(steepest), 1.2) << "bumps, not steps";

    sim::FloorRelief off = relief;
    off.on = false;
    EXPECT_EQ(sim::floor_height_mm(off, 1234.0, 567.0), 0.0);
    sim::FloorRelief other = relief;
    other.seed += 1;
    EXPECT_NE(sim::floor_height_mm(other, 1234.0, 567.0), sim::floor_height_mm(relief, 1234.0, 567.0));
}

TEST(SimFloorRelief, SlopesAreTheHeightsDerivativesAndContinuousAcrossTheGrid)
{
    const sim::FloorRelief relief = typical_relief();
    const double h = 0.01;  // mm
    for (double y = -1500.0; y <= 3000.0; y += 137.0) {
        for (double x = -2000.0; x <= 2000.0; x += 211.0) {
            const sim::FloorSample s = sim::floor_sample(relief, x, y);
            const double dx = (sim::floor_height_mm(relief, x + h, y) - sim::floor_height_mm(relief, x - h, y)) / (2 * h);
            const double dy = (sim::floor_height_mm(relief, x, y + h) - sim::floor_height_mm(relief, x, y - h)) / (2 * h);
            EXPECT_NEAR(s.slope_x, dx, 1e-6) << x << ", " << y;
            EXPECT_NEAR(s.slope_y, dy, 1e-6) << x << ", " << y;
        }
    }
    // Either side of a grid line (and of the origin, where cells change sign).
    for (const double line : {0.0, relief.bump_cell_mm, -3.0 * relief.bump_cell_mm}) {
        for (double along = -900.0; along <= 900.0; along += 300.0) {
            const sim::FloorSample before = sim::floor_sample(relief, line - 1e-6, along);
            const sim::FloorSample after = sim::floor_sample(relief, line + 1e-6, along);
            EXPECT_NEAR(before.height_mm, after.height_mm, 1e-6);
            EXPECT_NEAR(before.slope_x, after.slope_x, 1e-6);
            EXPECT_NEAR(before.slope_y, after.slope_y, 1e-6);
        }
    }
}

TEST(SimFloorRelief, GridGivesTheSameBitsEverywhere)
{
    const sim::FloorRelief relief = typical_relief();
    const sim::FloorGrid grid = sim::make_floor_grid(relief, 3000.0);
    ASSERT_FALSE(grid.heights.empty());
    for (double y = -5000.0; y <= 5000.0; y += 97.3) {  // inside and outside the grid's square
        for (double x = -5000.0; x <= 5000.0; x += 101.7) {
            const sim::FloorSample a = sim::floor_sample(relief, x, y);
            const sim::FloorSample b = sim::floor_sample(grid, x, y);
            ASSERT_EQ(a.height_mm, b.height_mm) << x << ", " << y;
            ASSERT_EQ(a.slope_x, b.slope_x) << x << ", " << y;
            ASSERT_EQ(a.slope_y, b.slope_y) << x << ", " << y;
        }
    }
    // A grid finer than the table holds is computed as it goes, with the same values.
    sim::FloorRelief fine = relief;
    fine.bump_cell_mm = 5.0;
    const sim::FloorGrid untabled = sim::make_floor_grid(fine, 3000.0);
    EXPECT_TRUE(untabled.heights.empty());
    EXPECT_EQ(sim::floor_sample(untabled, 12.3, 45.6).height_mm, sim::floor_height_mm(fine, 12.3, 45.6));
}

TEST(SimFloorRelief, TheRenderedFloorLiesOnTheHeightField)
{
    sim::Scene scene = sim::floor_scene();
    scene.tof = sim::with_effect(sim::ideal_tof(), sim::TofEffect::floor_relief, true);
    const sim::Frame frame = sim::render(scene, 1);
    const sim::FloorRelief& relief = frame.truth.floor_relief;
    ASSERT_TRUE(relief.on);
    const Eigen::Matrix3d to_floor = sim::camera_to_floor(scene.mount);
    // The reference plane is the truth's floor: the camera's height above it, its normal.
    EXPECT_NEAR(frame.truth.floor_normal.dot(to_floor.transpose() * Eigen::Vector3d::UnitZ()), 1.0, 1e-12);
    int points = 0;
    double worst = 0.0;
    double off_plane = 0.0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const std::uint16_t z = frame.depth.at<std::uint16_t>(v, u);
            if (z == 0) continue;
            const Eigen::Vector3d ray = to_floor * sim::pixel_ray(v, u);
            // Where the ray's z-depth z meets the floor: rounding z by up to 0.5 mm moves the point
            // along the ray, its height by 0.5 * ray.z and the floor's under it by 0.5 * the slope.
            const Eigen::Vector3d p = z * ray + Eigen::Vector3d(0.0, 0.0, scene.mount.height_mm);
            const double height = sim::floor_height_mm(relief, p.x(), p.y());
            const sim::FloorSample s = sim::floor_sample(relief, p.x(), p.y());
            const double slope_along = std::hypot(s.slope_x, s.slope_y) * ray.head<2>().norm();
            const double allowed = 0.51 * (std::abs(ray.z()) + slope_along) + 1e-3;  // and the solver's 5e-3 mm
            worst = std::max(worst, std::abs(p.z() - height) / allowed);
            off_plane = std::max(off_plane, std::abs(p.z()));
            ++points;
        }
    }
    EXPECT_GT(points, 100000);
    EXPECT_LE(worst, 1.0);
    EXPECT_GT(off_plane, relief.bump_mm) << "the floor is not the plane";
}
