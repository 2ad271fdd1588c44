// The sequence figures of pallet_eval on synthetic tracks whose answers are known.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "tools/eval_sequences.hpp"

namespace {

// n frames of a pallet coming nearer at `speed` mm per frame, in range, measured by nothing yet.
std::vector<SequenceSample> approach(int n, double speed = 10.0)
{
    std::vector<SequenceSample> samples(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        SequenceSample& s = samples[static_cast<std::size_t>(k)];
        s.in_view = s.in_range = true;
        s.truth = {3000.0 - speed * k, 20.0, 72.0};
        s.truth_yaw_deg = 179.9;  // the yaw error wraps
    }
    return samples;
}

}  // namespace

TEST(EvalSequences, AConstantOffsetIsTheErrorAndNoJitter)
{
    std::vector<SequenceSample> samples = approach(41);
    for (SequenceSample& s : samples) {
        s.raw = s.truth + Eigen::Vector3d(3.0, -4.0, 0.0);
        s.raw_yaw_deg = -179.6;  // 0.5 degrees past 180
    }
    // Frames out of range count nowhere, however far off.
    samples[7].in_range = false;
    samples[7].raw.x() += 1000.0;
    const SequenceMetrics m = sequence_metrics({samples});
    EXPECT_EQ(m.frames_in_range, 40u);
    EXPECT_EQ(m.detected, 40u);
    EXPECT_EQ(m.tracked, 0u);
    EXPECT_NEAR(m.raw.centre.p50[0], 3.0, 1e-9);
    EXPECT_NEAR(m.raw.centre.p95[1], 4.0, 1e-9);
    EXPECT_NEAR(m.raw.centre.p50[2], 0.0, 1e-9);
    EXPECT_NEAR(m.raw.centre.p50[3], 5.0, 1e-9);
    EXPECT_NEAR(m.raw.yaw_p95, 0.5, 1e-9);
    EXPECT_NEAR(m.raw.jitter[3], 0.0, 1e-9);
    EXPECT_TRUE(std::isnan(m.smoothed.centre.p50[3]));
    EXPECT_TRUE(std::isnan(m.lag_frames));  // no smoothed estimate
}

TEST(EvalSequences, WhiteNoiseGivesItsJitterAndADelayItsLag)
{
    // Noise of 2 mm per axis: the second difference spreads sqrt(6) times as far.
    std::vector<SequenceSample> samples = approach(6000, 15.0);
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 2.0);
    for (std::size_t k = 0; k < samples.size(); ++k) {
        SequenceSample& s = samples[k];
        s.raw = s.truth + Eigen::Vector3d(noise(random), noise(random), noise(random));
        if (k < 2) continue;
        s.track_id = 1;
        s.smoothed = samples[k - 2].truth;  // two frames behind, no noise
        s.smoothed_yaw_deg = s.truth_yaw_deg;
    }
    const SequenceMetrics m = sequence_metrics({samples});
    for (int axis = 0; axis < 3; ++axis) EXPECT_NEAR(m.raw.jitter[axis], 2.0 * std::sqrt(6.0), 0.15) << axis;
    EXPECT_NEAR(m.raw.jitter[3], 2.0 * std::sqrt(18.0), 0.25);
    // A lag at constant speed is a constant error: no jitter, and the lag itself.
    EXPECT_NEAR(m.smoothed.jitter[3], 0.0, 1e-6);
    EXPECT_NEAR(m.smoothed.centre.p50[0], 30.0, 1e-9);
    EXPECT_NEAR(m.lag_frames, 2.0, 0.01);

    // Ahead of the truth by one frame: a lag of -1.
    for (std::size_t k = 0; k + 1 < samples.size(); ++k) samples[k].smoothed = samples[k + 1].truth;
    EXPECT_NEAR(sequence_metrics({samples}).lag_frames, -1.0, 0.01);
}

TEST(EvalSequences, IdSwitchesAndLostTracks)
{
    // Per frame: the track id of the pallet (0 none) and whether its centre is in view.
    const std::vector<std::pair<int, bool>> frames = {
        {1, true}, {1, true}, {2, true},   // another track takes it over: a switch
        {2, true}, {0, true}, {0, true},   // its track dropped in view: lost
        {3, true}, {3, false}, {0, false}, // a new track after the loss is no switch; out of view
        {4, true}, {4, true}};             // dropped out of view: not lost, not a switch
    std::vector<SequenceSample> samples = approach(static_cast<int>(frames.size()));
    for (std::size_t k = 0; k < frames.size(); ++k) {
        samples[k].track_id = frames[k].first;
        samples[k].in_view = frames[k].second;
        if (frames[k].first != 0) samples[k].smoothed = samples[k].truth;
    }
    const SequenceMetrics m = sequence_metrics({samples});
    EXPECT_EQ(m.id_switches, 1u);
    EXPECT_EQ(m.lost_tracks, 1u);
    EXPECT_EQ(m.tracked, 8u);

    // Two pallets count alike and together.
    const SequenceMetrics both = sequence_metrics({samples, samples});
    EXPECT_EQ(both.id_switches, 2u);
    EXPECT_EQ(both.lost_tracks, 2u);
}
