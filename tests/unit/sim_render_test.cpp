#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "analysis/depth_intake.hpp"
#include "sim/render.hpp"

namespace {

sim::Scene exact(sim::Scene scene)
{
    scene.sensor = sim::exact_sensor();
    return scene;
}

std::uint16_t depth_at(const sim::Frame& frame, const cv::Point2d& pixel)
{
    return frame.depth.at<std::uint16_t>(static_cast<int>(std::lround(pixel.y)),
                                         static_cast<int>(std::lround(pixel.x)));
}

sim::Label label_at(const sim::Frame& frame, const cv::Point2d& pixel)
{
    return static_cast<sim::Label>(frame.labels.at<std::uint8_t>(static_cast<int>(std::lround(pixel.y)),
                                                                 static_cast<int>(std::lround(pixel.x))));
}

// Camera-frame point of a pallet-frame point.
Eigen::Vector3d seen(const sim::Scene& scene, const Eigen::Vector3d& pallet_point)
{
    return sim::floor_to_camera(scene.mount, sim::pallet_to_floor(*scene.pallet, pallet_point));
}

}  // namespace

TEST(SimCamera, IntrinsicsEqualTheProgramsCameraModel)
{
    EXPECT_EQ(sim::depth_camera.width, depth_cols);
    EXPECT_EQ(sim::depth_camera.height, depth_rows);
    EXPECT_EQ(sim::depth_camera.fx, camera_model.fx);
    EXPECT_EQ(sim::depth_camera.fy, camera_model.fy);
    EXPECT_EQ(sim::depth_camera.cx, camera_model.cx);
    EXPECT_EQ(sim::depth_camera.cy, camera_model.cy);
}

TEST(SimRender, FloorPixelsBackProjectOntoTheFloorPlane)
{
    const sim::Mount mounts[] = {sim::default_mount(), {1000.0, -10.0, 0.0}, {350.0, 3.0, 7.0}};
    for (const sim::Mount& mount : mounts) {
        const sim::Frame frame = sim::render(exact(sim::floor_scene(mount)), 1);
        ASSERT_EQ(frame.depth.type(), CV_16UC1);
        ASSERT_EQ(frame.labels.type(), CV_8UC1);
        ASSERT_EQ(frame.depth.size(), cv::Size(640, 480));
        const Eigen::Vector3d& up = frame.truth.floor_normal;
        int floor_pixels = 0;
        for (int v = 0; v < 480; ++v) {
            for (int u = 0; u < 640; ++u) {
                const std::uint16_t d = frame.depth.at<std::uint16_t>(v, u);
                const Eigen::Vector3d ray = sim::pixel_ray(v, u);
                const double climb = up.dot(ray);  // height gained per mm of z-depth
                if (d == 0) {
                    // Nothing but the sky and the floor beyond 6 m along the ray.
                    const bool beyond_range = climb < 0.0 && mount.height_mm / -climb * ray.norm() > 5999.0;
                    ASSERT_TRUE(climb >= 0.0 || beyond_range) << "row " << v << " column " << u;
                    ASSERT_EQ(frame.labels.at<std::uint8_t>(v, u), 0);
                    continue;
                }
                ++floor_pixels;
                ASSERT_EQ(frame.labels.at<std::uint8_t>(v, u), static_cast<std::uint8_t>(sim::Label::floor));
                const cv::Point3d p = depth_to_point(v, u, d);
                const double height = up.dot(Eigen::Vector3d(p.x, p.y, p.z)) + mount.height_mm;
                ASSERT_LE(std::abs(height), 0.5 * std::abs(climb) + 1e-9) << "row " << v << " column " << u;
            }
        }
        EXPECT_GT(floor_pixels, 640 * 100);
    }
}

TEST(SimRender, CameraBelowTheFloorOrNotANumberSeesNothing)
{
    for (const double height : {-100.0, std::nan("")}) {
        sim::Scene scene = sim::pallet_scene(1500.0);
        scene.mount.height_mm = height;
        const sim::Frame frame = sim::render(scene, 1);
        EXPECT_EQ(cv::countNonZero(frame.labels == static_cast<std::uint8_t>(sim::Label::floor)), 0) << height;
    }
    sim::Scene scene = sim::pallet_scene(std::nan(""));
    EXPECT_EQ(cv::countNonZero(sim::render(scene, 1).labels >= 2), 0);
}

TEST(SimRender, PalletFaceSpansThePinholeWidth)
{
    for (const double distance : {900.0, 1500.0, 2200.0}) {
        const sim::Scene scene = exact(sim::pallet_scene(distance));
        const sim::Frame frame = sim::render(scene, 3);
        // Along the row through the front stringer board (111 mm up), which spans the whole face.
        const cv::Point2d left = sim::project(seen(scene, {-600.0, 0.0, 111.0}));
        const cv::Point2d right = sim::project(seen(scene, {600.0, 0.0, 111.0}));
        const int v = static_cast<int>(std::lround((left.y + right.y) / 2.0));
        int first = -1;
        int last = -1;
        for (int u = 0; u < 640; ++u) {
            if (frame.labels.at<std::uint8_t>(v, u) == static_cast<std::uint8_t>(sim::Label::pallet_board)) {
                first = first < 0 ? u : first;
                last = u;
            }
        }
        // A pixel is pallet when its centre ray meets the face: columns ceil(left) to floor(right).
        EXPECT_EQ(first, static_cast<int>(std::ceil(left.x))) << distance;
        EXPECT_EQ(last, static_cast<int>(std::floor(right.x))) << distance;
        const double predicted_width = 1200.0 * sim::depth_camera.fx / seen(scene, {0.0, 0.0, 111.0}).z();
        EXPECT_NEAR(last - first + 1, predicted_width, 1.5) << distance;
    }
}

TEST(SimRender, LabelsAndDepthsFollowTheGeometry)
{
    sim::Scene scene = exact(sim::warehouse_scene());
    const sim::Frame frame = sim::render(scene, 5);
    using sim::Label;

    const Eigen::Vector3d block = seen(scene, {527.5, 0.0, 60.0});  // right block column, front face
    EXPECT_EQ(label_at(frame, sim::project(block)), Label::pallet_block);
    EXPECT_NEAR(depth_at(frame, sim::project(block)), block.z(), 1.0);

    const Eigen::Vector3d bottom_board = seen(scene, {-527.5, 0.0, 11.0});
    EXPECT_EQ(label_at(frame, sim::project(bottom_board)), Label::pallet_board);

    // Through the middle of a fork opening the camera sees deeper than the face.
    const Eigen::Vector3d opening = seen(scene, {-263.75, 0.0, 60.0});
    EXPECT_GT(depth_at(frame, sim::project(opening)), opening.z() + 100.0);

    const Eigen::Vector3d floor_beside = seen(scene, {-900.0, 100.0, 0.0});
    EXPECT_EQ(label_at(frame, sim::project(floor_beside)), Label::floor);
    const cv::Point2d floor_pixel = sim::project(floor_beside);
    const double floor_climb = frame.truth.floor_normal.dot(
        sim::pixel_ray(std::round(floor_pixel.y), std::round(floor_pixel.x)));
    EXPECT_NEAR(depth_at(frame, floor_pixel), scene.mount.height_mm / -floor_climb, 0.5);

    const Eigen::Vector3d load = seen(scene, {0.0, 25.0, 600.0});  // the load's front face
    EXPECT_EQ(label_at(frame, sim::project(load)), Label::load);
    EXPECT_NEAR(depth_at(frame, sim::project(load)), load.z(), 1.0);

    // The ray towards a box's centre meets its surface first.
    const Eigen::Vector3d clutter = sim::floor_to_camera(scene.mount, scene.boxes[1].centre);
    ASSERT_TRUE(cv::Rect2d(0.0, 0.0, 639.0, 479.0).contains(sim::project(clutter)));
    EXPECT_EQ(label_at(frame, sim::project(clutter)), Label::clutter);
    const Eigen::Vector3d platform = sim::floor_to_camera(scene.mount, {-1500.0, 2200.0, 200.0});
    EXPECT_EQ(label_at(frame, sim::project(platform)), Label::platform);
    EXPECT_NEAR(depth_at(frame, sim::project(platform)), platform.z(), 1.0);
    const Eigen::Vector3d wall = sim::floor_to_camera(scene.mount, {2500.0, 4200.0, 1500.0});
    EXPECT_EQ(label_at(frame, sim::project(wall)), Label::wall);
    EXPECT_NEAR(depth_at(frame, sim::project(wall)), wall.z(), 1.0);
}

TEST(SimTruth, FaceCentreAndNormalFollowThePlacement)
{
    struct Case {
        double distance, lateral, yaw_deg;
        Eigen::Vector3d side_normal;  // pallet frame: which side faces the camera
        double width;
    };
    const Case cases[] = {{1500.0, 0.0, 0.0, -Eigen::Vector3d::UnitY(), 1200.0},
                          {1200.0, 250.0, 20.0, -Eigen::Vector3d::UnitY(), 1200.0},
                          {2000.0, -300.0, -35.0, -Eigen::Vector3d::UnitY(), 1200.0},
                          {1800.0, 0.0, 80.0, -Eigen::Vector3d::UnitX(), 800.0},
                          {1800.0, 0.0, 180.0, Eigen::Vector3d::UnitY(), 1200.0}};
    for (const Case& c : cases) {
        const sim::Scene scene = exact(sim::pallet_scene(c.distance, c.lateral, c.yaw_deg));
        const sim::Frame frame = sim::render(scene, 2);
        const sim::Truth& truth = frame.truth;
        ASSERT_TRUE(truth.has_pallet);
        EXPECT_EQ(truth.face_width_mm, c.width) << c.yaw_deg;
        // Yaw turns counter-clockwise seen from above: the front normal (0, -1, 0) becomes
        // (sin yaw, -cos yaw, 0) in the floor frame.
        const Eigen::Vector3d normal_on_floor =
            sim::pallet_to_floor(*scene.pallet, c.side_normal) - sim::pallet_to_floor(*scene.pallet, {0.0, 0.0, 0.0});
        const Eigen::Vector3d expected = sim::camera_to_floor(scene.mount).transpose() * normal_on_floor;
        EXPECT_LT((truth.face_normal - expected).norm(), 1e-12) << c.yaw_deg;
        EXPECT_LT(truth.face_normal.dot(truth.face_centre), 0.0) << "the face must turn to the camera";
        // The face centre (72 mm up, the middle of a block or stringer) is what the pixel shows.
        EXPECT_NEAR(depth_at(frame, sim::project(truth.face_centre)), truth.face_centre.z(), 2.0) << c.yaw_deg;
    }
    const Eigen::Vector3d turned = sim::pallet_to_floor({0.0, 0.0, 30.0}, {0.0, -1.0, 0.0});
    EXPECT_NEAR(turned.x(), 0.5, 1e-12);
    EXPECT_NEAR(turned.y(), -std::sqrt(3.0) / 2.0, 1e-12);
    EXPECT_FALSE(sim::render(sim::floor_scene(), 1).truth.has_pallet);
}
