#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "sim/render.hpp"

namespace {

int count_differences(const cv::Mat& a, const cv::Mat& b)
{
    return cv::countNonZero(a != b);
}

// Pallet scene with the given sensor and nothing random unless the sensor says so.
sim::Scene pallet_with(const sim::Sensor& sensor, double distance_mm = 1500.0)
{
    sim::Scene scene = sim::pallet_scene(distance_mm);
    scene.sensor = sensor;
    return scene;
}

}  // namespace

TEST(SimSensor, SeedFixesEveryRandomEffect)
{
    const sim::Scene scene = sim::warehouse_scene();  // default sensor: noise and dropouts
    const sim::Frame first = sim::render(scene, 42);
    const sim::Frame again = sim::render(scene, 42);
    const sim::Frame other = sim::render(scene, 43);
    EXPECT_EQ(count_differences(first.depth, again.depth), 0);
    EXPECT_EQ(count_differences(first.labels, again.labels), 0);
    EXPECT_GT(count_differences(first.depth, other.depth), 640 * 480 / 4);
    EXPECT_EQ(count_differences(first.labels, other.labels), 0) << "labels are geometry, not noise";
}

TEST(SimSensor, NoiseGrowsWithTheSquareOfTheDepth)
{
    sim::Sensor noisy = sim::exact_sensor();
    noisy.noise_k_per_mm = 2.0e-6;
    const sim::Scene floor_noisy = [&] {
        sim::Scene s = sim::floor_scene();
        s.sensor = noisy;
        return s;
    }();
    sim::Scene floor_exact = floor_noisy;
    floor_exact.sensor = sim::exact_sensor();
    const cv::Mat exact = sim::render(floor_exact, 9).depth;
    const cv::Mat measured = sim::render(floor_noisy, 9).depth;
    // Bands of about 600 and 2000 mm: rows whose floor depth sits near those values.
    for (const double band_mm : {600.0, 2000.0}) {
        double sum = 0.0;
        double sum_sq = 0.0;
        int n = 0;
        for (int v = 0; v < 480; ++v) {
            for (int u = 0; u < 640; ++u) {
                const double z = exact.at<std::uint16_t>(v, u);
                if (z > 0 && std::abs(z - band_mm) < 0.05 * band_mm) {
                    const double e = measured.at<std::uint16_t>(v, u) - z;
                    sum += e;
                    sum_sq += e * e;
                    ++n;
                }
            }
        }
        ASSERT_GT(n, 2000);
        const double sigma = std::sqrt(sum_sq / n - (sum / n) * (sum / n));
        const double expected = noisy.noise_k_per_mm * band_mm * band_mm;  // 0.72 and 8 mm
        EXPECT_NEAR(sigma, std::sqrt(expected * expected + 1.0 / 6.0), 0.15 * expected) << band_mm;
        EXPECT_NEAR(sum / n, 0.0, 0.1 * expected + 0.1) << band_mm;
    }
}

TEST(SimSensor, DropoutsOnlyRemoveReturnsAndGrowWithDistance)
{
    sim::Sensor lossy = sim::exact_sensor();
    lossy.dropout_rate = 0.5;
    lossy.max_range_mm = 3000.0;
    sim::Sensor lossless = sim::exact_sensor();
    lossless.max_range_mm = lossy.max_range_mm;
    const sim::Frame exact = sim::render(pallet_with(lossless), 4);
    const sim::Frame frame = sim::render(pallet_with(lossy), 4);
    // Near (ray under 1 m) and far (over 2 m) surfaces: expected and observed losses.
    double expected[2] = {0.0, 0.0};
    int lost[2] = {0, 0};
    int surface[2] = {0, 0};
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const std::uint16_t want = exact.depth.at<std::uint16_t>(v, u);
            const std::uint16_t got = frame.depth.at<std::uint16_t>(v, u);
            ASSERT_TRUE(got == want || got == 0) << "row " << v << " column " << u;
            const double length = want * sim::pixel_ray(v, u).norm();
            if (want == 0 || length > lossy.max_range_mm || (length > 1000.0 && length < 2000.0)) {
                continue;
            }
            const int far = length >= 2000.0;
            const double reach = length / lossy.max_range_mm;
            expected[far] += lossy.dropout_rate * reach * reach;
            lost[far] += got == 0;
            ++surface[far];
        }
    }
    for (int far = 0; far < 2; ++far) {
        ASSERT_GT(surface[far], 5000);
        EXPECT_NEAR(lost[far], expected[far], 4.0 * std::sqrt(expected[far])) << "far " << far;
    }
    EXPECT_GT(lost[1] / static_cast<double>(surface[1]), 2.0 * lost[0] / static_cast<double>(surface[0]));
    EXPECT_EQ(count_differences(exact.labels, frame.labels), 0) << "a lost return keeps its label";
}

TEST(SimSensor, CavitiesReturnNothingOnlyInsideThePallet)
{
    sim::Sensor cavity = sim::exact_sensor();
    cavity.cavity_no_return = true;
    const sim::Scene scene = pallet_with(cavity);
    const sim::Frame exact = sim::render(pallet_with(sim::exact_sensor()), 4);
    const sim::Frame frame = sim::render(scene, 4);
    const auto pixel_of = [&](const Eigen::Vector3d& pallet_point) {
        const cv::Point2d p = sim::project(
            sim::floor_to_camera(scene.mount, sim::pallet_to_floor(scene.pallets[0], pallet_point)));
        return cv::Point(static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y)));
    };
    const cv::Point opening = pixel_of({-263.75, 0.0, 50.0});
    const cv::Point block = pixel_of({0.0, 0.0, 60.0});
    const cv::Point floor_in_front = pixel_of({0.0, -300.0, 0.0});
    EXPECT_NE(exact.depth.at<std::uint16_t>(opening), 0);
    EXPECT_EQ(frame.depth.at<std::uint16_t>(opening), 0);
    EXPECT_EQ(frame.depth.at<std::uint16_t>(block), exact.depth.at<std::uint16_t>(block));
    EXPECT_EQ(frame.depth.at<std::uint16_t>(floor_in_front), exact.depth.at<std::uint16_t>(floor_in_front));
    // Every lost return lies within the image outline of the pallet's eight corners.
    cv::Rect outline(pixel_of({-600.0, 0.0, 0.0}), cv::Size(1, 1));
    for (const double x : {-600.0, 600.0}) {
        for (const double y : {0.0, 800.0}) {
            for (const double z : {0.0, 144.0}) {
                outline |= cv::Rect(pixel_of({x, y, z}), cv::Size(1, 1));
            }
        }
    }
    const cv::Mat lost = (exact.depth != frame.depth);
    int lost_pixels = 0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            if (lost.at<std::uint8_t>(v, u) != 0) {
                ++lost_pixels;
                ASSERT_TRUE(outline.contains({u, v})) << "row " << v << " column " << u;
                ASSERT_EQ(frame.depth.at<std::uint16_t>(v, u), 0);
            }
        }
    }
    EXPECT_GT(lost_pixels, 1000);
}
