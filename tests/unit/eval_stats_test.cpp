#include "tools/eval_stats.hpp"

#include <vector>

#include <gtest/gtest.h>

#include "unit/eval_scenes.hpp"

namespace {

SceneResult found_scene(double distance, double err_x, double normal_deg, bool on_face)
{
    SceneResult r;
    r.comparison.reported_centre = {err_x, 0.0, 1000.0};
    r.params.distance_mm = distance;
    r.comparison.outcome = PalletOutcome::pallet_found;
    r.comparison.centre_error = {err_x, -2.0 * err_x, 0.5};
    r.comparison.normal_error_deg = normal_deg;
    r.comparison.centre_on_face = on_face;
    return r;
}

}  // namespace

TEST(Statistics, QuantilesSkipNonFiniteAndInterpolate)
{
    EXPECT_DOUBLE_EQ(quantile({5, 1, 4, 2, 3}, 0.5), 3.0);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 4, 2, 3}, 0.95), 4.8);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 4, 2, 3}, 0.0), 1.0);
    EXPECT_DOUBLE_EQ(quantile({5, 1, 4, 2, 3}, 1.0), 5.0);
    EXPECT_DOUBLE_EQ(quantile({1, NAN, 3, INFINITY}, 0.5), 2.0);
    EXPECT_DOUBLE_EQ(quantile({7}, 0.95), 7.0);
    EXPECT_TRUE(std::isnan(quantile({}, 0.5)));
    EXPECT_TRUE(std::isnan(quantile({NAN}, 0.5)));

    const Trend line = trend({-20, -10, 0, 10, 20}, {41, 21, 1, -19, -39});
    EXPECT_NEAR(line.slope, -2.0, 1e-12);
    EXPECT_NEAR(line.correlation, -1.0, 1e-12);
    EXPECT_EQ(line.count, 5U);
    EXPECT_TRUE(std::isnan(trend({1, 1, 1}, {1, 2, 3}).slope));  // no spread in x
}

TEST(Statistics, BinsCountOutcomesAndMeasureFoundScenesOnly)
{
    std::vector<SceneResult> results = {found_scene(1000, 10, 1, true), found_scene(1000, -30, 3, false),
                                        found_scene(2000, 5, 2, true)};
    results[2].comparison.reported_centre = Eigen::Vector3d::Zero();  // no depth at the centre pixel
    SceneResult missing;
    missing.params.distance_mm = 2000;
    missing.comparison.outcome = PalletOutcome::no_pallet;
    results.push_back(missing);
    missing.comparison.outcome = PalletOutcome::no_contour;
    results.push_back(missing);

    const std::vector<BinSummary> bins = bins_by(results, &SceneParams::distance_mm, summarise);
    ASSERT_EQ(bins.size(), 2U);
    EXPECT_EQ(bins[0].key, 1000.0);
    EXPECT_EQ(bins[0].scenes, 2U);
    EXPECT_EQ(bins[0].found, 2U);
    EXPECT_EQ(bins[0].centre_misses, 1U);
    EXPECT_EQ(bins[0].zero_centres, 0U);
    EXPECT_DOUBLE_EQ(bins[0].centre_abs_p50[0], 20.0);  // |10| and |-30|
    EXPECT_DOUBLE_EQ(bins[0].centre_abs_p50[1], 40.0);
    EXPECT_DOUBLE_EQ(bins[0].centre_abs_p95[0], 29.0);
    EXPECT_DOUBLE_EQ(bins[0].normal_p50, 2.0);
    EXPECT_EQ(bins[1].scenes, 3U);
    EXPECT_EQ(bins[1].found, 1U);
    EXPECT_EQ(bins[1].no_pallet, 1U);
    EXPECT_EQ(bins[1].no_contour, 1U);
    EXPECT_DOUBLE_EQ(bins[1].centre_abs_p95[2], 0.5);
    EXPECT_EQ(bins[1].zero_centres, 1U);
}

TEST(DockBins, CountVerdictsAndMeasurePalletsOnly)
{
    std::vector<SceneResult> results = {measured(2.0, 0.1, 0.9), measured(-4.0, -0.3, 0.7),
                                        refused(DockReason::no_face), measured(60.0, 0.0, 0.5),
                                        measured(1.0, 6.0, 0.5)};
    std::vector<const SceneResult*> all;
    for (const SceneResult& r : results) all.push_back(&r);
    const DockBin b = summarise_dock(all, 7.0);
    EXPECT_EQ(b.key, 7.0);
    EXPECT_EQ(b.scenes, 5U);
    EXPECT_EQ(b.pallets, 4U);
    EXPECT_EQ(b.false_pallets, 2U);  // 60 mm off, and 6 degrees off
    EXPECT_DOUBLE_EQ(b.centre_p50[0], 3.0);  // |2|, |-4|, |60|, |1|
    EXPECT_DOUBLE_EQ(b.centre_p50[2], 1.0);
    EXPECT_DOUBLE_EQ(b.floor_p50[1], 1.0);
    EXPECT_DOUBLE_EQ(b.yaw_p50, 0.2);  // 0.1, 0.3, 0, 6
    EXPECT_DOUBLE_EQ(b.pocket_p50, 4.0);
    EXPECT_DOUBLE_EQ(b.width_p50, 6.0);
    EXPECT_DOUBLE_EQ(b.confidence_p50, 0.6);

    // A pallet verdict on a floor-only scene is false whatever its numbers.
    SceneResult ghost = measured(0.0, 0.0, 0.9);
    ghost.params.empty_index = 0;
    EXPECT_TRUE(false_pallet(ghost));
    EXPECT_FALSE(false_pallet(measured(40.0, 4.9, 0.9)));  // 44.7 mm off
    EXPECT_TRUE(false_pallet(measured(45.0, 0.0, 0.9)));   // 50.3 mm off
    EXPECT_FALSE(false_pallet(refused(DockReason::no_face)));

    const std::vector<DockBin> empty = bins_by({}, &SceneParams::distance_mm, summarise_dock);
    EXPECT_TRUE(empty.empty());
}

TEST(DockBins, WorkingEnvelopeAndFloorTakenForAPallet)
{
    SceneParams p;
    p.height_mm = 200.0;
    p.pitch_deg = 4.0;
    p.noise_level = 1.0;
    for (const double distance : {1000.0, 1500.0, 2000.0}) {
        p.distance_mm = distance;
        EXPECT_TRUE(in_working_envelope(p)) << distance;
    }
    const std::vector<void (*)(SceneParams&)> outside = {
        [](SceneParams& q) { q.distance_mm = 750.0; },  [](SceneParams& q) { q.height_mm = 250.0; },
        [](SceneParams& q) { q.noise_level = 2.0; },    [](SceneParams& q) { q.pitch_deg = 10.0; },
        [](SceneParams& q) { q.lateral_mm = 300.0; },   [](SceneParams& q) { q.yaw_deg = -25.0; },
        [](SceneParams& q) { q.empty_index = 3; }};
    for (std::size_t i = 0; i < outside.size(); ++i) {
        SceneParams q = p;
        outside[i](q);
        EXPECT_FALSE(in_working_envelope(q)) << "change " << i;
    }

    SceneResult r = measured(0.0, 0.0, 0.9);
    r.comparison.outcome = PalletOutcome::pallet_found;
    r.dock.contour_floor_share = 0.5;
    EXPECT_TRUE(fixed_analysis_took_floor(r));
    r.dock.contour_floor_share = 0.49;
    EXPECT_FALSE(fixed_analysis_took_floor(r));
    r.dock.contour_floor_share = 0.9;
    r.comparison.outcome = PalletOutcome::no_pallet;
    EXPECT_FALSE(fixed_analysis_took_floor(r));
}

TEST(DockBins, ConfidenceBinsHoldTheirEdges)
{
    const std::vector<SceneResult> results = {measured(1.0, 0.0, 1.0), measured(2.0, 0.1, 0.9),
                                              measured(3.0, 0.2, 0.8), measured(8.0, 0.5, 0.1),
                                              refused(DockReason::wrong_width)};
    const std::vector<ConfidenceBin> bins = confidence_bins(results);
    ASSERT_EQ(bins.size(), 6U);
    EXPECT_EQ(bins[0].count, 1U);        // 0.1
    EXPECT_EQ(bins[4].count, 1U);        // 0.8 in 0.8 - 0.9
    EXPECT_EQ(bins[5].count, 2U);        // 0.9 and 1 in 0.9 - 1
    EXPECT_EQ(bins[1].count + bins[2].count + bins[3].count, 0U);
    EXPECT_TRUE(std::isnan(bins[2].centre_p50));
    EXPECT_NEAR(bins[0].centre_p50, Eigen::Vector3d(8.0, -4.0, 1.0).norm(), 1e-12);
    EXPECT_DOUBLE_EQ(bins[5].yaw_p50, 0.05);
}
