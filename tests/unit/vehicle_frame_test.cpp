#include <cmath>

#include <Eigen/LU>
#include <gtest/gtest.h>

#include "analysis/detector/detect_pallets.hpp"

#include "analysis/depth_intake.hpp"
#include "analysis/dock_pose.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/vehicle_frame.hpp"
#include "sim/render.hpp"
#include "sim/sequences.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

double sin_deg(double deg)
{
    return std::sin(deg * pi / 180.0);
}

double cos_deg(double deg)
{
    return std::cos(deg * pi / 180.0);
}

void expect_near(const Eigen::Vector3d& actual, const Eigen::Vector3d& expected, double tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.z(), expected.z(), tolerance);
}

const Eigen::Vector3d ahead(0.0, 0.0, 1000.0);  // camera frame: along the optical axis
const Eigen::Vector3d right(1000.0, 0.0, 0.0);
const Eigen::Vector3d down(0.0, 1000.0, 0.0);

}  // namespace

TEST(VehicleFrame, AxesOfALevelCamera)
{
    const CameraMount mount{-300.0, 50.0, 200.0, 0.0, 0.0, 0.0};
    expect_near(camera_to_vehicle(mount, ahead), {700.0, 50.0, 200.0}, 1e-12);   // x forward
    expect_near(camera_to_vehicle(mount, right), {-300.0, -950.0, 200.0}, 1e-12);  // y left
    expect_near(camera_to_vehicle(mount, down), {-300.0, 50.0, -800.0}, 1e-12);  // z up
    expect_near(camera_to_vehicle(mount, Eigen::Vector3d::Zero()), {-300.0, 50.0, 200.0}, 0.0);
}

TEST(VehicleFrame, PitchRollAndYawOfTheCamera)
{
    const Eigen::Vector3d origin(-300.0, 0.0, 200.0);
    // Looking 6 degrees up is pitch -6: the axis rises, the image's down tilts forward.
    const CameraMount up{-300.0, 0.0, 200.0, 0.0, -6.0, 0.0};
    expect_near(camera_to_vehicle(up, ahead), origin + Eigen::Vector3d(1000.0 * cos_deg(6), 0.0, 1000.0 * sin_deg(6)), 1e-9);
    expect_near(camera_to_vehicle(up, down), origin + Eigen::Vector3d(1000.0 * sin_deg(6), 0.0, -1000.0 * cos_deg(6)), 1e-9);
    // Roll > 0 turns the camera clockwise as seen from behind: its right side dips.
    const CameraMount rolled{-300.0, 0.0, 200.0, 10.0, 0.0, 0.0};
    expect_near(camera_to_vehicle(rolled, right), origin + Eigen::Vector3d(0.0, -1000.0 * cos_deg(10), -1000.0 * sin_deg(10)), 1e-9);
    expect_near(camera_to_vehicle(rolled, ahead), origin + Eigen::Vector3d(1000.0, 0.0, 0.0), 1e-9);
    // Yaw > 0 turns it to the left.
    const CameraMount yawed{-300.0, 0.0, 200.0, 0.0, 0.0, 30.0};
    expect_near(camera_to_vehicle(yawed, ahead), origin + Eigen::Vector3d(1000.0 * cos_deg(30), 500.0, 0.0), 1e-9);

    // Yaw first, then pitch and roll about the turned axes: turned left by 90 degrees and tipped
    // 30 degrees down, the camera looks left and down (a pitch about the vehicle's own y would
    // have tipped its image sideways instead); rolled, its right side (now forward) dips.
    const CameraMount left_down{0.0, 0.0, 200.0, 0.0, 30.0, 90.0};
    expect_near(camera_to_vehicle(left_down, ahead), {0.0, 1000.0 * cos_deg(30), 200.0 - 500.0}, 1e-9);
    const CameraMount left_rolled{0.0, 0.0, 200.0, 10.0, 0.0, 90.0};
    expect_near(camera_to_vehicle(left_rolled, right), {1000.0 * cos_deg(10), 0.0, 200.0 - 1000.0 * sin_deg(10)}, 1e-9);

    // The axes stay a rotation, and the inverse takes every point back.
    const CameraMount any{123.0, -45.0, 678.0, 7.5, -12.25, 143.0};
    const Eigen::Matrix3d axes = camera_axes_in_vehicle(any);
    EXPECT_NEAR((axes.transpose() * axes - Eigen::Matrix3d::Identity()).norm(), 0.0, 1e-15);
    EXPECT_NEAR(axes.determinant(), 1.0, 1e-15);
    const Eigen::Vector3d p(-250.0, 140.0, 2300.0);
    expect_near(vehicle_to_camera(any, camera_to_vehicle(any, p)), p, 1e-9);
}

TEST(VehicleFrame, FloorFramePointsAndYaw)
{
    // The floor frame (X right, Y forward along the camera's heading) turned by the mount's yaw.
    const CameraMount mount{-300.0, 100.0, 200.0, 1.0, -6.0, 90.0};
    expect_near(floor_to_vehicle(mount, {0.0, 1000.0, 72.0}), {-300.0, 1100.0, 72.0}, 1e-9);  // ahead: left
    expect_near(floor_to_vehicle(mount, {1000.0, 0.0, 0.0}), {700.0, 100.0, 0.0}, 1e-9);      // right: forward
    const Eigen::Vector3d q(-420.0, 1830.0, 71.0);
    expect_near(vehicle_to_floor(mount, floor_to_vehicle(mount, q)), q, 1e-9);

    EXPECT_EQ(vehicle_yaw_deg({0, 0, 200, 0, -6, 0}, 12.5), 12.5);
    EXPECT_EQ(vehicle_yaw_deg({0, 0, 200, 0, -6, -2}, 12.5), 10.5);
    EXPECT_EQ(vehicle_yaw_deg({0, 0, 200, 0, -6, 170}, 20.0), -170.0);  // wrapped to (-180, 180]
    EXPECT_EQ(vehicle_yaw_deg({0, 0, 200, 0, -6, 170}, 10.0), 180.0);
    EXPECT_EQ(wrapped_deg(-180.0), 180.0);
    EXPECT_EQ(wrapped_deg(540.5), 180.5 - 360.0);

    // What no floor measured stays unmeasured.
    const VehiclePallet none = vehicle_pallet(mount, DockPose{});
    EXPECT_TRUE(std::isnan(none.centre.x()) && std::isnan(none.yaw_deg));
    EXPECT_TRUE(none.pocket_centres.empty());
}

TEST(VehicleFrame, AgreesWithTheRenderersFrames)
{
    // The renderer places the camera by its own rotation (sim::camera_to_floor); the conversions
    // must put the renderer's face centre where the sequence's truth says it stands, through the
    // camera frame and through the floor frame.
    for (const CameraMount& mount : {CameraMount{-300.0, 0.0, 200.0, 0.0, -6.0, 0.0},
                                     CameraMount{-250.0, 140.0, 230.0, 2.0, -7.5, 4.0},
                                     CameraMount{100.0, -80.0, 900.0, -3.0, 15.0, -25.0}}) {
        const sim::WorldPallet pallet{1600.0, 300.0, 9.0, "block_1200x800"};
        const sim::PalletInView truth = sim::pallet_in_view(mount, {}, 0.0, pallet);
        const Eigen::Vector3d camera_point = sim::floor_to_camera(sim::renderer_mount(mount), truth.centre_floor);
        expect_near(truth.centre_vehicle, {1600.0, 300.0, 72.0}, 1e-9);
        expect_near(camera_to_vehicle(mount, camera_point), truth.centre_vehicle, 1e-6);
        expect_near(floor_to_vehicle(mount, truth.centre_floor), truth.centre_vehicle, 1e-6);
        EXPECT_NEAR(vehicle_yaw_deg(mount, truth.yaw_floor_deg), 9.0, 1e-9);
    }
}

TEST(VehicleFrame, MeasuredPalletInTheVehicleFrame)
{
    // A rendered pallet 1.3 m ahead of the origin, 150 mm to the left, square to the vehicle, seen
    // by a camera turned 3 degrees left and mounted 120 mm left of the middle: the dock
    // measurement in the vehicle frame finds it there.
    const CameraMount mount{-300.0, 120.0, 200.0, 0.5, -6.0, 3.0};
    const sim::Frame frame = sim::render(sim::calibration_pallet_scene(mount, 1300.0, 150.0), 5);
    DetectorWorkspace workspace;
    const DockPose pose = dock_of(detect_pallets(frame.depth, builtin_pallet_types(), DetectorParams{}, workspace));
    ASSERT_EQ(pose.verdict, DockVerdict::pallet) << dock_reason_name(pose.reason);
    const VehiclePallet pallet = vehicle_pallet(mount, pose);
    expect_near(pallet.centre, {1300.0, 150.0, 72.0}, 5.0);
    EXPECT_NEAR(pallet.yaw_deg, 0.0, 0.3);
    // The pockets lie on the face, 263.75 mm either side of its middle (the left one, as the
    // camera sees it, at larger y).
    ASSERT_EQ(pallet.pocket_centres.size(), 2u);
    expect_near(pallet.pocket_centres[0], {1300.0, 150.0 + 263.75, 50.0}, 8.0);
    expect_near(pallet.pocket_centres[1], {1300.0, 150.0 - 263.75, 50.0}, 8.0);
}

TEST(VehicleFrame, CameraPlacementFromAFace)
{
    // Where a face stands on the floor frame, and where it is known to stand on the vehicle, give
    // back the mount's x, y and yaw.
    const CameraMount mount{-310.0, 75.0, 210.0, 0.0, -6.0, -4.0};
    const Eigen::Vector3d face_vehicle(1500.0, -200.0, 72.0);
    const double face_vehicle_yaw = 2.5;
    const Eigen::Vector3d face_floor = vehicle_to_floor(mount, face_vehicle);
    const CameraPlacement placement =
        camera_placement_from_face(face_floor, face_vehicle_yaw - mount.yaw_deg, 1500.0, -200.0, face_vehicle_yaw);
    EXPECT_NEAR(placement.x_mm, -310.0, 1e-9);
    EXPECT_NEAR(placement.y_mm, 75.0, 1e-9);
    EXPECT_NEAR(placement.yaw_deg, -4.0, 1e-12);
}

TEST(VehicleFrame, ViewOfTheDepthCamera)
{
    const CameraView view = depth_camera_view();
    EXPECT_DOUBLE_EQ(view.x_min, -camera_model.cx / camera_model.fx);
    EXPECT_DOUBLE_EQ(view.y_max, (479.0 - camera_model.cy) / camera_model.fy);
    // The renderer's pixel rays at the corners are these.
    EXPECT_NEAR(sim::pixel_ray(0, 639).x(), view.x_max, 1e-12);
    EXPECT_NEAR(sim::pixel_ray(0, 0).y(), view.y_min, 1e-12);
}
