#include "analysis/detector/floor_fit.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "common/random.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

// The floor of a depth image with the default parameters and the given seed.
DockFloor fit(const cv::Mat& depth, const DetectorParams& params = DetectorParams{}, std::uint64_t seed = 1)
{
    std::vector<Eigen::Vector3d> points;
    std::uint64_t random = seed;
    FloorFrame frame;
    return fit_floor(depth, params, points, random, frame);
}

// The floor found, the mount measured: height within 2 mm, tilt and roll within 0.1 degrees.
void expect_mount(const cv::Mat& depth, const sim::Mount& mount, const DetectorParams& params = DetectorParams{},
                  std::uint64_t seed = 1)
{
    const DockFloor floor = fit(depth, params, seed);
    ASSERT_TRUE(floor.found);
    EXPECT_NEAR(floor.camera_height_mm, mount.height_mm, 2.0);
    EXPECT_NEAR(floor.camera_tilt_deg, mount.pitch_deg, 0.1);
    EXPECT_NEAR(floor.camera_roll_deg, mount.roll_deg, 0.1);
}

sim::Frame exact_frame(sim::Scene scene, std::uint64_t seed = 3)
{
    scene.sensor = sim::exact_sensor();
    return sim::render(scene, seed);
}

}  // namespace

TEST(DetectorFloor, MountsOverTheWholeRangeAreMeasured)
{
    for (const double height : {50.0, 120.0, 250.0, 500.0}) {
        for (const double tilt : {-10.0, 0.0, 6.0, 15.0}) {
            for (const double roll : {-5.0, 0.0, 5.0}) {
                SCOPED_TRACE("height " + std::to_string(height) + " tilt " + std::to_string(tilt) + " roll " +
                             std::to_string(roll));
                const sim::Frame frame = exact_frame(sim::floor_scene(sim::Mount{height, tilt, roll}));
                expect_mount(frame.depth, frame.truth.mount);
                const DockFloor floor = fit(frame.depth);
                EXPECT_NEAR(floor.normal.norm(), 1.0, 1e-9);
                EXPECT_GT(floor.normal.dot(frame.truth.floor_normal), std::cos(0.1 * 3.14159265358979 / 180.0));
                EXPECT_GE(floor.inliers, DetectorParams{}.floor_min_inliers);
                EXPECT_LT(floor.residual_mm, 1.0);
            }
        }
    }
}

TEST(DetectorFloor, ATopCloseToTheCameraIsNoFloor)
{
    // A box's top (or a pallet's deck) 400 mm ahead holds more of the image than the floor around
    // and beyond it (without the lower-plane rule the top wins); the points below it say that it
    // is no floor.
    const sim::Mount mounts[] = {{300.0, -10.0, 0.0}, {300.0, 0.0, 0.0}, {300.0, 6.0, 0.0}, {400.0, -10.0, 0.0},
                                 {400.0, 0.0, 0.0},   {400.0, 6.0, 0.0}, {500.0, -10.0, 0.0}, {500.0, 0.0, 0.0}};
    for (const sim::Mount& mount : mounts) {
        for (const double top : {100.0, 150.0}) {
            if (mount.height_mm < 400.0 && top > 100.0) continue;
            sim::Scene scene = sim::floor_scene(mount);
            sim::Box box;
            box.centre = {0.0, 900.0, top / 2.0};
            box.size = {1200.0, 1000.0, top};
            scene.boxes.push_back(box);
            const sim::Frame frame = exact_frame(scene);
            const std::string name = "height " + std::to_string(mount.height_mm) + " tilt " +
                                     std::to_string(mount.pitch_deg) + " top " + std::to_string(top);
            for (std::uint64_t seed = 1; seed <= 4; ++seed) {
                SCOPED_TRACE(name + " seed " + std::to_string(seed));
                expect_mount(frame.depth, mount, DetectorParams{}, seed);
            }
            DetectorParams no_rule;
            no_rule.floor_lower_plane_share = 1e9;
            EXPECT_NEAR(fit(frame.depth, no_rule).camera_height_mm, mount.height_mm - top, 2.0) << name;
        }
    }
}

TEST(DetectorFloor, AMatTwelveMillimetresUpIsNotTheFloor)
{
    // A mat 12 mm thick over the floor left of the camera: two parallel levels, the floor's the
    // larger in the image. The floor's band is narrower than the step, so the fit keeps to one level
    // (it may roll a little across the edge) and never settles between them.
    sim::Scene scene = sim::floor_scene();
    sim::Box mat;
    mat.centre = {-2600.0, 3000.0, 6.0};
    mat.size = {5000.0, 6000.0, 12.0};
    mat.label = sim::Label::floor;
    scene.boxes.push_back(mat);
    const sim::Frame frame = exact_frame(scene);
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const DockFloor floor = fit(frame.depth, DetectorParams{}, seed);
        ASSERT_TRUE(floor.found) << seed;
        EXPECT_NEAR(floor.camera_height_mm, frame.truth.mount.height_mm, 2.0) << seed;
    }
}

TEST(DetectorFloor, PixelsWithoutDepthNeverTiltIt)
{
    // Half the pixels lost at random, the nearest rows lost, every other 8 x 8 block lost: a pixel
    // without depth is no point at the camera's centre, so the floor stays where it is.
    const sim::Mount mount{250.0, 4.0, 2.0};
    const sim::Frame frame = exact_frame(sim::floor_scene(mount));
    std::uint64_t state = 12345;
    cv::Mat scattered = frame.depth.clone();
    for (int v = 0; v < scattered.rows; ++v) {
        for (int u = 0; u < scattered.cols; ++u) {
            if (splitmix64(state) % 2 == 0) scattered.at<std::uint16_t>(v, u) = 0;
        }
    }
    cv::Mat near_rows = frame.depth.clone();
    near_rows.rowRange(380, 480).setTo(0);
    cv::Mat blocks = frame.depth.clone();
    for (int v = 0; v < blocks.rows; v += 8) {
        for (int u = (v / 8) % 2 * 8; u < blocks.cols; u += 16) blocks(cv::Rect(u, v, 8, 8)).setTo(0);
    }
    for (const cv::Mat* depth : {&scattered, &near_rows, &blocks}) {
        for (std::uint64_t seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE("image " + std::to_string(depth == &scattered ? 0 : depth == &near_rows ? 1 : 2) + " seed " +
                         std::to_string(seed));
            expect_mount(*depth, mount, DetectorParams{}, seed);
        }
    }

    // With too few measured pixels there is no floor.
    cv::Mat sparse = cv::Mat::zeros(frame.depth.size(), CV_16UC1);
    frame.depth(cv::Rect(300, 440, 40, 40)).copyTo(sparse(cv::Rect(300, 440, 40, 40)));
    EXPECT_FALSE(fit(sparse).found);
}
