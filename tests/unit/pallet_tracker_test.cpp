#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "analysis/detector/detect_pallets.hpp"

#include "analysis/frame_analysis.hpp"
#include "analysis/pallet_tracker.hpp"
#include "analysis/vehicle_frame.hpp"
#include "common/random.hpp"
#include "sim/render.hpp"
#include "sim/sequences.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double frame_s = 1.0 / 30.0;

// Uniform noise of the given standard deviation, from the stream.
double noise(std::uint64_t& state, double sigma)
{
    const double unit = static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;
    return sigma * std::sqrt(3.0) * (2.0 * unit - 1.0);
}

PalletObservation seen(double x, double y, double yaw_deg, const std::string& type = {})
{
    return {{x, y, 72.0}, yaw_deg, type};
}

const TrackedPallet* track_with_id(const std::vector<TrackedPallet>& tracks, int id)
{
    for (const TrackedPallet& t : tracks) {
        if (t.track_id == id) return &t;
    }
    return nullptr;
}

}  // namespace

TEST(PalletTracker, ConstantVelocitySmoothsAndFollows)
{
    // A pallet approached at 1.5 m/s, measured with 5 mm of noise per axis and 0.5 degrees of yaw.
    TrackerState state;
    std::uint64_t random = 3;
    double raw_squares = 0.0;
    double smooth_squares = 0.0;
    for (int k = 0; k < 90; ++k) {
        const double t = k * frame_s;
        const double y = 4000.0 - 1500.0 * t;
        const PalletObservation o = seen(100.0 + noise(random, 5.0), y + noise(random, 5.0), 4.0 + noise(random, 0.5));
        state = track_pallets(state, static_cast<std::uint64_t>(k), t, {o});
        const std::vector<TrackedPallet> tracks = tracked_pallets(state);
        ASSERT_EQ(tracks.size(), 1u);
        EXPECT_EQ(tracks[0].track_id, 1);
        EXPECT_EQ(tracks[0].frames_seen, k + 1);
        EXPECT_EQ(tracks[0].age_frames, static_cast<std::uint64_t>(k));
        EXPECT_EQ(tracks[0].frames_since_seen, 0u);
        EXPECT_EQ(tracks[0].observation, 0);
        EXPECT_EQ(tracks[0].confirmed, k >= 2);
        if (k >= 30) {
            raw_squares += (o.centre.x() - 100.0) * (o.centre.x() - 100.0) + (o.centre.y() - y) * (o.centre.y() - y);
            const Eigen::Vector3d e = tracks[0].centre - Eigen::Vector3d(100.0, y, 72.0);
            smooth_squares += e.x() * e.x() + e.y() * e.y();
        }
    }
    const TrackedPallet last = tracked_pallets(state).front();
    EXPECT_NEAR(last.velocity.y(), -1500.0, 100.0);
    EXPECT_NEAR(last.velocity.x(), 0.0, 100.0);
    EXPECT_NEAR(last.yaw_deg, 4.0, 0.6);
    EXPECT_LT(last.centre_sd.x(), 8.0);  // below a single measurement's 10 mm (the settings' sigma)
    EXPECT_LT(last.yaw_sd_deg, 1.0);
    EXPECT_LT(smooth_squares, 0.7 * raw_squares);  // the filter takes out part of the noise
}

TEST(PalletTracker, FollowsATurnWithoutLag)
{
    // The vehicle drives at 2 m/s, then at once starts turning at 30 degrees/s; the pallet stands
    // still 4 m ahead at the start. In the vehicle frame it comes nearer, then sweeps sideways on
    // a curve: the filter may lag by two frames' motion at most, its yaw by two frames' turn.
    TrackerState state;
    double vx = 0.0;
    double vy = 0.0;
    double heading = 0.0;
    const double turn = 30.0 * pi / 180.0;
    double worst_lag = 0.0;
    double worst_yaw = 0.0;
    for (int k = 0; k < 90; ++k) {
        const double t = k * frame_s;
        const bool turning = k > 30;
        if (k > 0) {
            vx += 2000.0 * frame_s * std::cos(heading);
            vy += 2000.0 * frame_s * std::sin(heading);
            if (turning) heading += turn * frame_s;
        }
        const double dx = 4000.0 - vx;
        const double dy = 0.0 - vy;
        const double x = std::cos(heading) * dx + std::sin(heading) * dy;  // world to vehicle
        const double y = -std::sin(heading) * dx + std::cos(heading) * dy;
        const double yaw = -heading * 180.0 / pi;
        state = track_pallets(state, static_cast<std::uint64_t>(k), t, {seen(x, y, yaw)});
        const TrackedPallet track = tracked_pallets(state).front();
        ASSERT_EQ(track.track_id, 1);
        if (k >= 10) {
            // The pallet's speed in the vehicle frame: the vehicle's 2 m/s and the turn's sweep.
            const double w = turning ? turn : 0.0;
            const double sweep = std::hypot(2000.0 - w * y, w * x);
            worst_lag = std::max(worst_lag, std::hypot(track.centre.x() - x, track.centre.y() - y) / (sweep * frame_s));
            worst_yaw = std::max(worst_yaw, std::abs(track.yaw_deg - yaw) / (30.0 * frame_s));
        }
    }
    EXPECT_LT(worst_lag, 2.0);
    EXPECT_LT(worst_yaw, 2.0);
    EXPECT_GT(worst_yaw, 0.1);  // the turn's onset did reach the yaw filter
    EXPECT_NEAR(tracked_pallets(state).front().yaw_rate_deg_s, -30.0, 3.0);
}

TEST(PalletTracker, HoldsAMissedPalletThenDropsIt)
{
    TrackerSettings settings;
    TrackerState state;
    const auto truth_y = [](int k) { return 3000.0 - 1000.0 * k * frame_s; };
    for (int k = 0; k < 30; ++k) {
        state = track_pallets(state, static_cast<std::uint64_t>(k), k * frame_s, {seen(0.0, truth_y(k), 0.0)}, settings);
    }
    // Missed for six frames: held where it should be, its uncertainty growing frame by frame.
    double sd = tracked_pallets(state).front().centre_sd.y();
    for (int k = 30; k < 36; ++k) {
        state = track_pallets(state, static_cast<std::uint64_t>(k), k * frame_s, {}, settings);
        const std::vector<TrackedPallet> tracks = tracked_pallets(state);
        ASSERT_EQ(tracks.size(), 1u);
        EXPECT_EQ(tracks[0].frames_since_seen, static_cast<std::uint64_t>(k - 29));
        EXPECT_EQ(tracks[0].observation, -1);
        EXPECT_NEAR(tracks[0].centre.y(), truth_y(k), 5.0);
        EXPECT_GT(tracks[0].centre_sd.y(), sd);
        sd = tracks[0].centre_sd.y();
    }
    // Seen again: the same track, no new one.
    state = track_pallets(state, 36, 36 * frame_s, {seen(0.0, truth_y(36), 0.0)}, settings);
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_EQ(tracked_pallets(state).front().track_id, 1);
    EXPECT_EQ(tracked_pallets(state).front().frames_seen, 31);
    EXPECT_EQ(tracked_pallets(state).front().frames_since_seen, 0u);

    // Missed for more than max_missed_frames (15): dropped; seen again it is a new track.
    for (int k = 37; k <= 36 + settings.max_missed_frames; ++k) {
        state = track_pallets(state, static_cast<std::uint64_t>(k), k * frame_s, {}, settings);
    }
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    state = track_pallets(state, 52, 52 * frame_s, {}, settings);
    EXPECT_TRUE(tracked_pallets(state).empty());
    state = track_pallets(state, 53, 53 * frame_s, {seen(0.0, truth_y(53), 0.0)}, settings);
    EXPECT_EQ(tracked_pallets(state).front().track_id, 2);

    // A gap in the frame indices counts as missed frames: 40 frames later it is gone.
    state = track_pallets(state, 93, 93 * frame_s, {}, settings);
    EXPECT_TRUE(tracked_pallets(state).empty());
}

TEST(PalletTracker, AStrayDetectionIsDroppedSoon)
{
    TrackerState state;
    for (int k = 0; k < 10; ++k) {
        std::vector<PalletObservation> frame{seen(0.0, 2000.0, 0.0)};
        if (k == 3) frame.push_back(seen(900.0, 2500.0, 30.0));  // seen once, never again
        state = track_pallets(state, static_cast<std::uint64_t>(k), k * frame_s, frame);
        const std::vector<TrackedPallet> tracks = tracked_pallets(state);
        const TrackedPallet* stray = track_with_id(tracks, 2);
        if (k >= 3 && k <= 5) {
            ASSERT_NE(stray, nullptr) << k;
            EXPECT_FALSE(stray->confirmed);
        } else {
            EXPECT_EQ(stray, nullptr) << k;  // an unconfirmed track goes after two missed frames
        }
        ASSERT_NE(track_with_id(tracks, 1), nullptr);
    }
}

TEST(PalletTracker, TwoPalletsCrossingKeepTheirIds)
{
    // Two pallets whose paths cross at 2 m/s to each other: 200 mm apart at the crossing; through
    // the very same point between two frames, where only their motion tells them apart (the
    // nearest of the last positions would swap them); through the same point in a frame, with
    // different yaws. Each frame lists them in alternating order.
    struct Crossing {
        const char* name;
        double apart_mm;
        double shift_s;  // the crossing falls this much before frame 30
        double yaw_a, yaw_b;
    };
    for (const Crossing& c : {Crossing{"200 mm apart", 200.0, 0.0, 5.0, 5.0},
                              Crossing{"between frames", 0.0, frame_s / 2.0, 5.0, 5.0},
                              Crossing{"other yaws", 0.0, 0.0, 15.0, -15.0}}) {
        SCOPED_TRACE(c.name);
        TrackerState state;
        std::uint64_t random = 9;
        for (int k = 0; k < 60; ++k) {
            const double t = k * frame_s + c.shift_s;
            const PalletObservation a = seen(-1000.0 + 1000.0 * t + noise(random, 3.0), 3000.0 + noise(random, 3.0), c.yaw_a);
            const PalletObservation b =
                seen(1000.0 - 1000.0 * t + noise(random, 3.0), 3000.0 + c.apart_mm + noise(random, 3.0), c.yaw_b);
            const bool swap = k % 2 == 1;
            state = track_pallets(state, static_cast<std::uint64_t>(k), k * frame_s,
                                  swap ? std::vector<PalletObservation>{b, a} : std::vector<PalletObservation>{a, b});
            const std::vector<TrackedPallet> tracks = tracked_pallets(state);
            ASSERT_EQ(tracks.size(), 2u) << k;
            const TrackedPallet* first = track_with_id(tracks, 1);
            const TrackedPallet* second = track_with_id(tracks, 2);
            ASSERT_TRUE(first != nullptr && second != nullptr) << k;
            EXPECT_EQ(first->observation, swap ? 1 : 0) << k;  // track 1 follows a
            EXPECT_EQ(second->observation, swap ? 0 : 1) << k;
        }
        const std::vector<TrackedPallet> tracks = tracked_pallets(state);
        EXPECT_NEAR(track_with_id(tracks, 1)->velocity.x(), 1000.0, 100.0);
        EXPECT_NEAR(track_with_id(tracks, 2)->velocity.x(), -1000.0, 100.0);
    }
}

TEST(PalletTracker, TypesTimeAndUnusableObservations)
{
    TrackerState state;
    state = track_pallets(state, 0, 0.0, {seen(0.0, 2000.0, 0.0, "block_1200x800_long")});
    // Another type at the same place is another pallet; an unknown type may join.
    state = track_pallets(state, 1, frame_s, {seen(0.0, 2000.0, 0.0, "stringer_48x40_1016")});
    EXPECT_EQ(tracked_pallets(state).size(), 2u);
    state = track_pallets(TrackerState{}, 0, 0.0, {seen(0.0, 2000.0, 0.0, "block_1200x800_long")});
    state = track_pallets(state, 1, frame_s, {seen(5.0, 2000.0, 0.0)});
    state = track_pallets(state, 2, 2 * frame_s, {seen(5.0, 2000.0, 0.0)});
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_EQ(tracked_pallets(state).front().type, "block_1200x800_long");
    ASSERT_TRUE(tracked_pallets(state).front().confirmed);

    // A time that does not advance (or is NaN) predicts nothing; the uncertainty stays.
    const double sd = tracked_pallets(state).front().centre_sd.x();
    state = track_pallets(state, 3, 2 * frame_s, {});
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_EQ(tracked_pallets(state).front().centre_sd.x(), sd);
    state = track_pallets(state, 4, NAN, {});
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_EQ(tracked_pallets(state).front().centre_sd.x(), sd);
    state = track_pallets(state, 5, 5 * frame_s, {});
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_GT(tracked_pallets(state).front().centre_sd.x(), sd);

    // An observation without a centre starts nothing; one without a yaw keeps the yaw it had.
    state = track_pallets(TrackerState{}, 0, 0.0, {PalletObservation{}});
    EXPECT_TRUE(tracked_pallets(state).empty());
    state = track_pallets(state, 1, frame_s, {seen(0.0, 2000.0, 7.0)});
    state = track_pallets(state, 2, 2 * frame_s, {seen(0.0, 2000.0, NAN)});
    ASSERT_EQ(tracked_pallets(state).size(), 1u);
    EXPECT_NEAR(tracked_pallets(state).front().yaw_deg, 7.0, 1e-9);
    EXPECT_EQ(tracked_pallets(state).front().frames_seen, 2);
}

TEST(PalletTracker, ObservationsFromDockPoses)
{
    DockPose pallet;
    pallet.verdict = DockVerdict::pallet;
    pallet.centre_floor = {-100.0, 1500.0, 72.0};
    pallet.yaw_deg = 5.0;
    DockPose nothing;  // no_pallet: left out
    const std::vector<PalletObservation> floor = floor_observations({nothing, pallet});
    ASSERT_EQ(floor.size(), 1u);
    EXPECT_EQ(floor[0].centre, pallet.centre_floor);
    EXPECT_EQ(floor[0].yaw_deg, 5.0);
    const CameraMount mount{-300.0, 0.0, 200.0, 0.0, -6.0, 10.0};
    const std::vector<PalletObservation> vehicle = vehicle_observations(mount, {pallet, nothing});
    ASSERT_EQ(vehicle.size(), 1u);
    EXPECT_EQ(vehicle[0].centre, floor_to_vehicle(mount, pallet.centre_floor));
    EXPECT_EQ(vehicle[0].yaw_deg, 15.0);
}

TEST(PalletTracker, FollowsARenderedApproach)
{
    // The curving approach at 1 m/s, from 2.2 m to 0.65 m, measured frame by frame: one track,
    // in the vehicle frame where the sequence's truth puts the pallet.
    const sim::ApproachSequence& approach = sim::approach_sequence("curve");
    DetectorWorkspace workspace;
    TrackerState state;
    for (std::uint64_t k = 55; k <= 100; ++k) {
        const sim::SequenceFrame f = sim::sequence_frame(approach, k);
        const sim::Frame frame = sim::render(f.scene, f.seed);
        const DockPose pose = dock_of(detect_pallets(frame.depth, builtin_pallet_types(), DetectorParams{}, workspace));
        state = track_pallets(state, k, f.time_s, vehicle_observations(approach.mount, {pose}));
        const std::vector<TrackedPallet> tracks = tracked_pallets(state);
        ASSERT_EQ(tracks.size(), 1u) << k;
        EXPECT_EQ(tracks[0].track_id, 1);
        EXPECT_EQ(tracks[0].frames_since_seen, 0u) << k;
        const sim::PalletInView& truth = f.pallets[0];
        EXPECT_NEAR(tracks[0].centre.x(), truth.centre_vehicle.x(), 15.0) << k;
        EXPECT_NEAR(tracks[0].centre.y(), truth.centre_vehicle.y(), 15.0) << k;
        EXPECT_NEAR(tracks[0].centre.z(), truth.centre_vehicle.z(), 5.0) << k;
        EXPECT_NEAR(tracks[0].yaw_deg, truth.yaw_vehicle_deg, 0.5) << k;
    }
    // Approaching at 1 m/s: the pallet comes nearer at that speed in the vehicle frame.
    EXPECT_NEAR(tracked_pallets(state).front().velocity.x(), -1000.0, 100.0);
}
