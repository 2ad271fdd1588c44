#include <cmath>
#include <stdexcept>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/sequences.hpp"

namespace {

void expect_near(const Eigen::Vector3d& actual, const Eigen::Vector3d& expected, double tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.z(), expected.z(), tolerance);
}

double wrapped(double deg)
{
    return deg - 360.0 * std::ceil((deg - 180.0) / 360.0);
}

}  // namespace

TEST(SimSequences, StraightApproachFromFourMetresToSixHundredMillimetres)
{
    const sim::ApproachSequence& approach = sim::approach_sequence("straight");
    // 3.4 m at 0.3 m/s: 11.33 s, 341 frames at 30 a second.
    ASSERT_EQ(sim::sequence_frame_count(approach), 341u);
    const sim::SequenceFrame first = sim::sequence_frame(approach, 0);
    const sim::SequenceFrame last = sim::sequence_frame(approach, 340);
    // The camera 300 mm behind the vehicle's origin: 4 m from the face at the start, 0.6 m at the end.
    expect_near(first.pallets[0].centre_floor, {0.0, 4000.0, 72.0}, 1e-9);
    expect_near(first.pallets[0].centre_vehicle, {3700.0, 0.0, 72.0}, 1e-9);
    expect_near(last.pallets[0].centre_floor, {0.0, 600.0, 72.0}, 1e-9);
    expect_near(last.pallets[0].centre_vehicle, {300.0, 0.0, 72.0}, 1e-9);
    EXPECT_EQ(first.pallets[0].yaw_vehicle_deg, 0.0);
    EXPECT_TRUE(first.pallets[0].face_in_view);
    // Beyond the end the vehicle stands at 0.6 m.
    expect_near(sim::sequence_frame(approach, 1000).pallets[0].centre_vehicle, {300.0, 0.0, 72.0}, 1e-9);

    // 10 mm a frame; the mount's pitch shakes by at most 0.3 degrees, and does shake.
    double smallest = 0.0;
    double largest = 0.0;
    for (std::uint64_t k = 1; k < 341; ++k) {
        const sim::SequenceFrame f = sim::sequence_frame(approach, k);
        const sim::SequenceFrame before = sim::sequence_frame(approach, k - 1);
        EXPECT_NEAR(f.vehicle.x_mm - before.vehicle.x_mm, 10.0, 1e-9);
        EXPECT_DOUBLE_EQ(f.scene.mount.pitch_deg, 6.0 - f.vibration_deg);
        smallest = std::min(smallest, f.vibration_deg);
        largest = std::max(largest, f.vibration_deg);
    }
    EXPECT_LE(largest, 0.3);
    EXPECT_GE(smallest, -0.3);
    EXPECT_GT(largest - smallest, 0.4);
}

TEST(SimSequences, EveryApproachStaysWithinTheVehiclesLimits)
{
    for (const sim::ApproachSequence& approach : sim::approach_sequences()) {
        SCOPED_TRACE(approach.name);
        const std::uint64_t frames = sim::sequence_frame_count(approach);
        EXPECT_GE(approach.speed_mm_s, 300.0);
        EXPECT_LE(approach.speed_mm_s, 1500.0);
        double fastest_turn = 0.0;
        std::uint64_t driving_frames = 0;
        for (std::uint64_t k = 1; k < frames; ++k) {
            const sim::SequenceFrame f = sim::sequence_frame(approach, k);
            const sim::SequenceFrame before = sim::sequence_frame(approach, k - 1);
            // The speed holds along the approach, less in the frames where the vehicle stops to
            // turn on the spot; the curve's path is a few per cent longer.
            const double ahead = (f.vehicle.x_mm - before.vehicle.x_mm) * approach.frame_rate;
            EXPECT_LE(ahead, approach.speed_mm_s + 1e-6) << k;
            driving_frames += std::abs(ahead - approach.speed_mm_s) < 1e-6;
            const double step = std::hypot(f.vehicle.x_mm - before.vehicle.x_mm, f.vehicle.y_mm - before.vehicle.y_mm);
            EXPECT_LE(step * approach.frame_rate, approach.speed_mm_s * 1.061) << k;
            fastest_turn = std::max(fastest_turn, std::abs(f.vehicle.heading_deg - before.vehicle.heading_deg) * approach.frame_rate);
        }
        EXPECT_LE(fastest_turn, 30.0);
        // A swing's stop and start each take speed / (1 m/s^2) below full speed and cover half
        // the way full speed would: the full-speed time is shorter by one such ramp.
        const double ramp_s = approach.swing_deg != 0.0 ? approach.speed_mm_s / 1000.0 : 0.0;
        const double driving_s = (approach.start_distance_mm - approach.end_distance_mm) / approach.speed_mm_s - ramp_s;
        EXPECT_NEAR(static_cast<double>(driving_frames), driving_s * approach.frame_rate, 2.0);
        // No sudden change of speed: 1 m/s^2 at most (1.1 mm per frame squared) along the way.
        for (std::uint64_t k = 2; k < frames; ++k) {
            const double x0 = sim::sequence_frame(approach, k - 2).vehicle.x_mm;
            const double x1 = sim::sequence_frame(approach, k - 1).vehicle.x_mm;
            const double x2 = sim::sequence_frame(approach, k).vehicle.x_mm;
            EXPECT_LE(std::abs(x2 - 2.0 * x1 + x0), 1000.0 / (approach.frame_rate * approach.frame_rate) + 1e-6) << k;
        }
        // Every approach ends square on, on the target's axis, its camera 0.6 m from the face.
        const sim::SequenceFrame last = sim::sequence_frame(approach, frames - 1);
        EXPECT_NEAR(last.vehicle.heading_deg, 0.0, 1e-6);
        EXPECT_NEAR(last.vehicle.y_mm, 0.0, 1.0);
        EXPECT_NEAR(-(last.vehicle.x_mm + approach.mount.x_mm), 600.0, approach.speed_mm_s / approach.frame_rate);
    }
    EXPECT_THROW(sim::approach_sequence("no_such"), std::invalid_argument);
}

TEST(SimSequences, CurvesSwingsAndPalletsLeavingTheView)
{
    // The curve starts 800 mm to the left and turns right onto the axis, then level again.
    const sim::ApproachSequence& curve = sim::approach_sequence("curve");
    EXPECT_EQ(sim::sequence_frame(curve, 0).vehicle.y_mm, 800.0);
    EXPECT_LT(sim::sequence_frame(curve, 50).vehicle.heading_deg, -5.0);
    EXPECT_EQ(sim::sequence_frame(curve, 0).pallets[0].yaw_vehicle_deg, 8.0);

    // The swing takes the target out of view and back; the rest of the time it is in view.
    const sim::ApproachSequence& swing = sim::approach_sequence("swing");
    int changes = 0;
    bool was_in_view = true;
    double widest = 0.0;
    for (std::uint64_t k = 0; k < sim::sequence_frame_count(swing); ++k) {
        const sim::SequenceFrame f = sim::sequence_frame(swing, k);
        changes += f.pallets[0].centre_in_view != was_in_view;
        was_in_view = f.pallets[0].centre_in_view;
        widest = std::max(widest, f.vehicle.heading_deg);
        // The pallet stands still in the world: its yaw in the vehicle frame is minus the heading.
        EXPECT_NEAR(f.pallets[0].yaw_vehicle_deg, wrapped(-f.vehicle.heading_deg), 1e-9);
    }
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(was_in_view);
    EXPECT_NEAR(widest, 70.0, 0.1);

    // Approaching two pallets side by side, the neighbour leaves the view before the end.
    const sim::ApproachSequence& two = sim::approach_sequence("two_pallets");
    const sim::SequenceFrame start = sim::sequence_frame(two, 0);
    const sim::SequenceFrame end = sim::sequence_frame(two, sim::sequence_frame_count(two) - 1);
    ASSERT_EQ(start.scene.pallets.size(), 2u);
    EXPECT_EQ(start.scene.pallets[1].model, "plastic_9leg_1200x800");
    EXPECT_TRUE(start.pallets[0].face_in_view && start.pallets[1].face_in_view);
    EXPECT_TRUE(end.pallets[0].centre_in_view);
    EXPECT_FALSE(end.pallets[1].centre_in_view);
}

TEST(SimSequences, TruthAgreesWithTheRenderer)
{
    // The renderer's own truth of the frame's scene puts each front face where the sequence says:
    // the camera's mount turned by the mount yaw and shaken by the vibration.
    const sim::ApproachSequence& two = sim::approach_sequence("two_pallets");
    for (const std::uint64_t k : {0u, 20u, 45u}) {
        const sim::SequenceFrame f = sim::sequence_frame(two, k);
        const sim::Truth truth = sim::truth_of(f.scene);
        for (std::size_t p = 0; p < 2; ++p) {
            const sim::FaceTruth& face = truth.pallets[p].faces.front();
            expect_near(face.centre, sim::floor_to_camera(f.scene.mount, f.pallets[p].centre_floor), 1e-9);
            EXPECT_NEAR(face.yaw_deg, f.pallets[p].yaw_floor_deg, 1e-9);
            // The vehicle frame: the floor frame turned by the mount's -2 degrees of yaw, moved by
            // its x and y.
            const Eigen::Vector2d q(f.pallets[p].centre_floor.y(), -f.pallets[p].centre_floor.x());
            const double c = std::cos(-2.0 * 3.14159265358979323846 / 180.0);
            const double s = std::sin(-2.0 * 3.14159265358979323846 / 180.0);
            expect_near(f.pallets[p].centre_vehicle,
                        {-300.0 + c * q.x() - s * q.y(), 150.0 + s * q.x() + c * q.y(), face.height_mm / 2.0}, 1e-6);
            EXPECT_NEAR(f.pallets[p].yaw_vehicle_deg, f.pallets[p].yaw_floor_deg - 2.0, 1e-9);
        }
    }
    // A frame is the same every time it is asked for; its noise differs from the next frame's.
    const sim::SequenceFrame a = sim::sequence_frame(two, 7);
    const sim::SequenceFrame b = sim::sequence_frame(two, 7);
    EXPECT_EQ(a.seed, b.seed);
    EXPECT_EQ(a.scene.pallets[0].distance_mm, b.scene.pallets[0].distance_mm);
    EXPECT_NE(a.seed, sim::sequence_frame(two, 8).seed);
    const sim::Frame rendered = sim::render(a.scene, a.seed);
    EXPECT_EQ(cv::countNonZero(rendered.labels == static_cast<int>(sim::Label::pallet_block)) > 500, true);
}

TEST(SimSequences, CalibrationScenes)
{
    const CameraMount mount{-350.0, 120.0, 230.0, 1.5, -7.0, 3.0};
    const sim::Scene floor = sim::calibration_floor_scene(mount);
    EXPECT_TRUE(floor.pallets.empty());
    EXPECT_EQ(floor.mount.height_mm, 230.0);
    EXPECT_EQ(floor.mount.pitch_deg, 7.0);
    EXPECT_EQ(floor.mount.roll_deg, 1.5);

    // A pallet square ahead of the vehicle at (1500, 200): from the camera turned 3 degrees left,
    // the face is turned 3 degrees clockwise.
    const sim::Scene pallet = sim::calibration_pallet_scene(mount, 1500.0, 200.0);
    ASSERT_EQ(pallet.pallets.size(), 1u);
    EXPECT_NEAR(pallet.pallets[0].yaw_deg, -3.0, 1e-12);
    const double c = std::cos(3.0 * 3.14159265358979323846 / 180.0);
    const double s = std::sin(3.0 * 3.14159265358979323846 / 180.0);
    const double forward = c * 1850.0 + s * 80.0;  // (1850, 80) from the camera, turned by -3 degrees
    const double left = -s * 1850.0 + c * 80.0;
    EXPECT_NEAR(pallet.pallets[0].distance_mm, forward, 1e-9);
    EXPECT_NEAR(pallet.pallets[0].lateral_mm, -left, 1e-9);
}
