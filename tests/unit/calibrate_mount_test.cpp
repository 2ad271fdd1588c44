#include <cmath>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/sequences.hpp"
#include "tools/calibrate_mount.hpp"

namespace {

// A camera 230 mm above the floor, 350 mm behind the vehicle's origin and 120 mm to its left,
// looking 7.5 degrees up, rolled 1.2 degrees and turned 3 degrees left.
const CameraMount known{-350.0, 120.0, 230.0, 1.2, -7.5, 3.0};

CalibrationFrames frames_of(const std::vector<sim::Scene>& scenes, const PalletTarget* target, std::uint64_t seed)
{
    CalibrationFrames frames;
    DetectorWorkspace workspace;
    for (std::size_t k = 0; k < scenes.size(); ++k) {
        const sim::Frame frame = sim::render(scenes[k], seed + k);
        add_calibration_frame(frames, frame.depth, target, workspace);
    }
    return frames;
}

std::vector<sim::Scene> copies(const sim::Scene& scene, std::size_t n)
{
    return std::vector<sim::Scene>(n, scene);
}

}  // namespace

TEST(CalibrateMount, FloorFramesGiveHeightPitchAndRoll)
{
    const CalibrationFrames frames = frames_of(copies(sim::calibration_floor_scene(known), 30), nullptr, 100);
    ASSERT_EQ(frames.floors.size(), 30u);
    const CameraMount given{-340.0, 110.0, 0.0, 0.0, 0.0, 2.0};
    const MountCalibration c = calibrate_mount(frames, nullptr, given);
    ASSERT_EQ(c.status, CalibrationStatus::calibrated);
    EXPECT_NEAR(c.mount.z_mm, 230.0, 2.0);
    EXPECT_NEAR(c.mount.pitch_deg, -7.5, 0.1);
    EXPECT_NEAR(c.mount.roll_deg, 1.2, 0.1);
    // What the floor cannot tell is taken as given.
    EXPECT_EQ(c.mount.x_mm, -340.0);
    EXPECT_EQ(c.mount.y_mm, 110.0);
    EXPECT_EQ(c.mount.yaw_deg, 2.0);
    EXPECT_EQ(c.floor.kept, 30u);
    EXPECT_EQ(c.floor.outliers, 0u);
    EXPECT_EQ(c.frames_without_floor, 0u);
    // The spread over the frames and the standard error of the mean, from the noise.
    const Estimate& height = c.floor.values[0];
    EXPECT_GT(height.spread, 0.0);
    EXPECT_LT(height.spread, 1.0);
    EXPECT_NEAR(height.standard_error, height.spread / std::sqrt(30.0), 1e-12);
}

TEST(CalibrateMount, PlacedPalletGivesYawAndPlace)
{
    // The pallet's face square ahead, its middle 1.3 m ahead of the origin and 150 mm to the left.
    const PalletTarget target{1300.0, 150.0};
    const CalibrationFrames frames =
        frames_of(copies(sim::calibration_pallet_scene(known, target.x_mm, target.y_mm), 30), &target, 200);
    ASSERT_EQ(frames.pallets.size(), 30u);
    const MountCalibration c = calibrate_mount(frames, &target, CameraMount{});
    ASSERT_EQ(c.status, CalibrationStatus::calibrated);
    EXPECT_NEAR(c.mount.yaw_deg, 3.0, 0.3);
    EXPECT_NEAR(c.mount.x_mm, -350.0, 10.0);
    EXPECT_NEAR(c.mount.y_mm, 120.0, 10.0);
    EXPECT_NEAR(c.mount.z_mm, 230.0, 2.0);
    EXPECT_NEAR(c.mount.pitch_deg, -7.5, 0.1);
    EXPECT_NEAR(c.mount.roll_deg, 1.2, 0.1);
    EXPECT_EQ(c.frames_without_pallet, 0u);
    EXPECT_GT(c.pallet.values[2].standard_error, 0.0);
}

TEST(CalibrateMount, FramesThatDoNotFitAreLeftOut)
{
    // 24 frames of the floor, 3 with a person walking past 1 to 2 m ahead (the floor still
    // fits), 3 where the camera was knocked 15 mm up and 1 degree down, 4 without any depth.
    std::vector<sim::Scene> scenes = copies(sim::calibration_floor_scene(known), 24);
    for (int k = 0; k < 3; ++k) {
        sim::Scene walking = sim::calibration_floor_scene(known);
        sim::Box person;
        person.centre = {-600.0 + 400.0 * k, 1000.0 + 500.0 * k, 900.0};
        person.size = {500.0, 300.0, 1800.0};
        walking.boxes.push_back(person);
        scenes.push_back(walking);
    }
    const CameraMount knocked{-350.0, 120.0, 245.0, 1.2, -6.5, 3.0};
    for (int k = 0; k < 3; ++k) scenes.push_back(sim::calibration_floor_scene(knocked));
    CalibrationFrames frames = frames_of(scenes, nullptr, 300);
    const cv::Mat blank = cv::Mat::zeros(480, 640, CV_16UC1);
    DetectorWorkspace workspace;
    for (int k = 0; k < 4; ++k) add_calibration_frame(frames, blank, nullptr, workspace);

    const MountCalibration c = calibrate_mount(frames, nullptr, CameraMount{});
    ASSERT_EQ(c.status, CalibrationStatus::calibrated);
    EXPECT_EQ(frames.frames, 34u);
    EXPECT_EQ(c.frames_without_floor, 4u);
    EXPECT_EQ(c.floor.outliers, 3u);
    EXPECT_EQ(c.floor.kept, 27u);
    EXPECT_NEAR(c.mount.z_mm, 230.0, 2.0);
    EXPECT_NEAR(c.mount.pitch_deg, -7.5, 0.1);
}

TEST(CalibrateMount, WithoutFloorOrPalletNothingIsCalibrated)
{
    const cv::Mat blank = cv::Mat::zeros(480, 640, CV_16UC1);
    CalibrationFrames frames;
    DetectorWorkspace workspace;
    for (int k = 0; k < 10; ++k) add_calibration_frame(frames, blank, nullptr, workspace);
    MountCalibration c = calibrate_mount(frames, nullptr, CameraMount{});
    EXPECT_EQ(c.status, CalibrationStatus::no_floor);
    EXPECT_EQ(c.frames_without_floor, 10u);
    EXPECT_EQ(c.floor.kept, 0u);
    EXPECT_TRUE(std::isnan(c.floor.values[0].mean));
    EXPECT_EQ(calibrate_mount(CalibrationFrames{}, nullptr, CameraMount{}).status, CalibrationStatus::no_floor);

    // Two frames that fit are too few.
    const CalibrationFrames two = frames_of(copies(sim::calibration_floor_scene(known), 2), nullptr, 400);
    EXPECT_EQ(calibrate_mount(two, nullptr, CameraMount{}).status, CalibrationStatus::no_floor);

    // Floor frames but no pallet in them, with a target: the floor is measured, the pallet not.
    const PalletTarget target{1300.0, 0.0};
    const CalibrationFrames floor_only = frames_of(copies(sim::calibration_floor_scene(known), 5), &target, 500);
    c = calibrate_mount(floor_only, &target, CameraMount{});
    EXPECT_EQ(c.status, CalibrationStatus::no_pallet);
    EXPECT_EQ(c.frames_without_pallet, 5u);
    EXPECT_NEAR(c.floor.values[0].mean, 230.0, 2.0);
}

TEST(CalibrateMount, ConsensusOfRows)
{
    // A column with one wild value and one with none: the wild row goes, whatever its other
    // columns say.
    const std::vector<std::vector<double>> rows{{10.0, 1.0}, {10.2, 1.1}, {9.8, 0.9}, {10.1, 1.05},
                                                {9.9, 0.95}, {40.0, 1.0}, {10.0, 1.0}};
    const Consensus c = consensus_of(rows, {0.01, 0.01});
    EXPECT_EQ(c.kept, 6u);
    EXPECT_EQ(c.outliers, 1u);
    EXPECT_NEAR(c.values[0].mean, 10.0, 1e-12);
    EXPECT_NEAR(c.values[0].spread, std::sqrt(0.1 / 5.0), 1e-12);
    EXPECT_NEAR(c.values[0].standard_error, std::sqrt(0.1 / 5.0) / std::sqrt(6.0), 1e-12);
    EXPECT_NEAR(c.values[1].mean, 1.0, 1e-12);

    // Rows alike but for rounding have no spread to judge by: the tolerance keeps them.
    const Consensus alike = consensus_of({{5.0}, {5.0}, {5.0}, {5.0004}, {5.0}}, {0.001});
    EXPECT_EQ(alike.kept, 5u);
    const Consensus strict = consensus_of({{5.0}, {5.0}, {5.0}, {5.0004}, {5.0}}, {0.0001});
    EXPECT_EQ(strict.kept, 4u);

    // One row: a mean, no spread.
    const Consensus one = consensus_of({{3.0}}, {1.0});
    EXPECT_EQ(one.values[0].mean, 3.0);
    EXPECT_TRUE(std::isnan(one.values[0].spread));
    EXPECT_TRUE(consensus_of({}, {1.0}).values[0].mean != consensus_of({}, {1.0}).values[0].mean);  // NaN
}
