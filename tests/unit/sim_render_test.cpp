#include <cmath>
#include <cstdint>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "analysis/depth_intake.hpp"
#include "common/pallet_types.hpp"
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
    return sim::floor_to_camera(scene.mount, sim::pallet_to_floor(scene.pallets[0], pallet_point));
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
        ASSERT_EQ(frame.truth.pallets.size(), 1u);
        ASSERT_FALSE(frame.truth.pallets[0].faces.empty());
        const sim::FaceTruth& truth = frame.truth.pallets[0].faces[0];
        EXPECT_EQ(truth.width_mm, c.width) << c.yaw_deg;
        // Yaw turns counter-clockwise seen from above: the front normal (0, -1, 0) becomes
        // (sin yaw, -cos yaw, 0) in the floor frame.
        const Eigen::Vector3d normal_on_floor =
            sim::pallet_to_floor(scene.pallets[0], c.side_normal) - sim::pallet_to_floor(scene.pallets[0], {0.0, 0.0, 0.0});
        const Eigen::Vector3d expected = sim::camera_to_floor(scene.mount).transpose() * normal_on_floor;
        EXPECT_LT((truth.normal - expected).norm(), 1e-12) << c.yaw_deg;
        EXPECT_LT(truth.normal.dot(truth.centre), 0.0) << "the face must turn to the camera";
        // The face centre (72 mm up, the middle of a block or stringer) is what the pixel shows.
        EXPECT_NEAR(depth_at(frame, sim::project(truth.centre)), truth.centre.z(), 2.0) << c.yaw_deg;
    }
    const Eigen::Vector3d turned = sim::pallet_to_floor({0.0, 0.0, 30.0}, {0.0, -1.0, 0.0});
    EXPECT_NEAR(turned.x(), 0.5, 1e-12);
    EXPECT_NEAR(turned.y(), -std::sqrt(3.0) / 2.0, 1e-12);
    EXPECT_TRUE(sim::render(sim::floor_scene(), 1).truth.pallets.empty());
}

TEST(SimPallets, BlockPalletBoxesAsBuiltFromItsTwoFaces)
{
    const std::vector<sim::PalletPart> parts = sim::pallet_parts(*find_pallet_model("block_1200x800"));
    ASSERT_EQ(parts.size(), 20u);  // 3 bottom boards, 9 blocks, 3 stringer boards, 5 deck boards
    double volume = 0.0;
    int blocks = 0;
    for (const sim::PalletPart& p : parts) {
        const Eigen::Vector3d size = p.hi - p.lo;
        volume += size.x() * size.y() * size.z();
        blocks += p.label == sim::Label::pallet_block;
        EXPECT_GE(p.lo.x(), -600.0);
        EXPECT_LE(p.hi.x(), 600.0);
        EXPECT_GE(p.lo.y(), 0.0);
        EXPECT_LE(p.hi.y(), 800.0);
    }
    EXPECT_EQ(blocks, 9);
    const double expected = 3 * 145.0 * 800.0 * 22.0 + 9 * 145.0 * 145.0 * 78.0 + 3 * 1200.0 * 145.0 * 22.0 +
                            (3 * 145.0 + 2 * 100.0) * 800.0 * 22.0;
    EXPECT_DOUBLE_EQ(volume, expected);
    // Layer by layer from the floor: the first box is the left bottom board, the last the right
    // deck board.
    EXPECT_EQ(parts.front().lo, Eigen::Vector3d(-600.0, 0.0, 0.0));
    EXPECT_EQ(parts.back().hi, Eigen::Vector3d(600.0, 800.0, 144.0));
}

TEST(SimPallets, EveryModelShowsItsFaceAndOpenings)
{
    for (const PalletModel& model : builtin_pallet_models()) {
        SCOPED_TRACE(model.name);
        for (const double yaw : {0.0, 90.0}) {  // the front, then the left side turned to the camera
            // Either face's middle 1.5 m straight ahead.
            const bool side = yaw != 0.0;
            sim::Scene scene = exact(sim::pallet_scene(side ? 1500.0 + model.front.width_mm / 2.0 : 1500.0,
                                                       side ? model.side.width_mm / 2.0 : 0.0, yaw));
            scene.pallets[0].model = model.name;
            const sim::Frame frame = sim::render(scene, 3);
            ASSERT_EQ(frame.truth.pallets.size(), 1u);
            const sim::FaceTruth& face = frame.truth.pallets[0].faces.at(0);
            const PalletType& shown = side ? model.side : model.front;
            EXPECT_NEAR(face.centre.x(), 0.0, 1e-6);
            EXPECT_EQ(face.type, shown.name);
            EXPECT_EQ(face.width_mm, shown.width_mm);
            EXPECT_NEAR(face.yaw_deg, 0.0, 1e-9);
            ASSERT_EQ(face.opening_centres.size(), shown.openings.size());
            // The face's plane at a pixel: the truth centre's depth (square on, the camera looks up
            // 6 degrees, so the plane's depth changes with the row; compare along the normal).
            const auto off_face = [&](const Eigen::Vector3d& point) {
                const cv::Point2d pixel = sim::project(point);
                EXPECT_TRUE(cv::Rect2d(0.0, 0.0, 639.0, 479.0).contains(pixel));
                const double d = depth_at(frame, pixel);
                const Eigen::Vector3d seen = d * sim::pixel_ray(std::lround(pixel.y), std::lround(pixel.x));
                return face.normal.dot(face.centre - seen);  // > 0: behind the face
            };
            for (const Eigen::Vector3d& opening : face.opening_centres) {
                EXPECT_GT(off_face(opening), 100.0) << "the opening is open";
            }
            // Solid at the left end, halfway to the first opening and halfway up to its top.
            const Eigen::Vector3d& up = frame.truth.floor_normal;
            const Eigen::Vector3d to_right = up.cross(face.normal);  // as seen from outside
            const Eigen::Vector3d bottom_left = face.centre - to_right * (shown.width_mm / 2.0) -
                                                up * (shown.height_mm / 2.0);
            const FaceRect first = shown.openings.empty() ? FaceRect{shown.width_mm, 0.0, 0.0, shown.height_mm}
                                                          : shown.openings.front();
            const Eigen::Vector3d block = bottom_left + to_right * (first.left_mm / 2.0) + up * (first.top_mm / 2.0);
            EXPECT_NEAR(off_face(block), 0.0, 2.0) << "the end block is on the face";
        }
    }
}

TEST(SimPallets, SeveralPalletsEachWithTruthAndCavities)
{
    sim::Scene scene = exact(sim::pallet_scene(1600.0, -700.0, 0.0));
    scene.pallets.push_back(sim::PalletPlacement{2000.0, 700.0, 10.0, "plastic_9leg_1200x800"});
    scene.sensor.cavity_no_return = true;
    const sim::Frame frame = sim::render(scene, 4);
    ASSERT_EQ(frame.truth.pallets.size(), 2u);
    EXPECT_EQ(frame.truth.pallets[1].faces.at(0).type, "plastic_9leg_1200");
    EXPECT_NEAR(frame.truth.pallets[1].faces[0].yaw_deg, 10.0, 1e-9);
    for (const sim::PalletTruth& pallet : frame.truth.pallets) {
        const sim::FaceTruth& face = pallet.faces.at(0);
        EXPECT_NEAR(depth_at(frame, sim::project(face.centre)), face.centre.z(), 2.0);
        // Deep in an opening the sensor loses the return, but the label says what was there.
        const cv::Point2d opening = sim::project(face.opening_centres.at(0));
        EXPECT_EQ(depth_at(frame, opening), 0);
        EXPECT_NE(label_at(frame, opening), sim::Label::none);
    }
    const sim::Scene unknown = [] {
        sim::Scene s = sim::pallet_scene(1500.0);
        s.pallets[0].model = "no_such_model";
        return s;
    }();
    EXPECT_THROW(sim::render(unknown, 1), std::invalid_argument);
}
