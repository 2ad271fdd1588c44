#include "tools/eval_dock.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A pallet scene of the working envelope with a pallet verdict and the given errors.
SceneResult measured(double err_x, double yaw_err, double confidence)
{
    SceneResult r;
    r.params.distance_mm = 1500.0;
    r.params.height_mm = 200.0;
    r.params.pitch_deg = 6.0;
    r.params.noise_level = 1.0;
    DockComparison& d = r.dock;
    d.verdict = DockVerdict::pallet;
    d.reason = DockReason::none;
    d.confidence = confidence;
    d.centre_error = {err_x, -0.5 * err_x, 1.0};
    d.centre_error_floor = {err_x, 1.0, 0.5 * err_x};
    d.yaw_error_deg = yaw_err;
    d.width_error_mm = -2.0 * err_x;
    d.pockets = 2;
    d.pocket_error_mm[0] = 3.0;
    d.pocket_error_mm[1] = 5.0;
    return r;
}

SceneResult refused(DockReason reason)
{
    SceneResult r = measured(0.0, 0.0, 0.0);
    r.dock = DockComparison{};
    r.dock.reason = reason;
    return r;
}

}  // namespace

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

    const std::vector<DockBin> empty = summarise_dock_by({}, &SceneParams::distance_mm);
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
    SceneParams outside = p;
    outside.distance_mm = 750.0;
    EXPECT_FALSE(in_working_envelope(outside));
    outside = p;
    outside.height_mm = 250.0;
    EXPECT_FALSE(in_working_envelope(outside));
    outside = p;
    outside.noise_level = 2.0;
    EXPECT_FALSE(in_working_envelope(outside));
    outside = p;
    outside.pitch_deg = 10.0;
    EXPECT_FALSE(in_working_envelope(outside));
    outside = p;
    outside.empty_index = 3;
    EXPECT_FALSE(in_working_envelope(outside));

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

TEST(DockSummary, SectionsAndTheFloorOnlyTable)
{
    std::vector<SceneResult> results = {measured(2.0, 0.1, 0.9), refused(DockReason::face_cut_off)};
    results[1].comparison.outcome = PalletOutcome::pallet_found;
    results[1].dock.contour_floor_share = 0.8;
    results[1].dock.contour_pallet_share = 0.0;  // the fixed analysis saw floor only
    SceneResult ghost = refused(DockReason::no_face);
    ghost.params.empty_index = 0;
    ghost.comparison.outcome = PalletOutcome::pallet_found;
    const std::vector<SceneResult> empty = {ghost};

    std::ostringstream out;
    write_dock_summary(out, results, empty);
    const std::string text = out.str();
    EXPECT_NE(text.find("# Dock measurement against the truth"), std::string::npos);
    EXPECT_NE(text.find("| working envelope: 200 mm, 4-8 deg, noise 0-1, 1.0-2.0 m, lateral and yaw "
                        "as swept | 2 | 50.0 | 0 | 2.0 |"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("| the floor alone (every camera height, tilt and noise level) | 1 | 1 | 100.0 |"),
              std::string::npos);
    EXPECT_NE(text.find("its contour without the pallet (under 1 % of its pixels) | 1 | 1 | 100.0 |"),
              std::string::npos);
    EXPECT_NE(text.find("| face_cut_off | 1 | 1 |"), std::string::npos);
    EXPECT_NE(text.find("## Dock: By distance (mm)"), std::string::npos);
    EXPECT_NE(text.find("## Dock: confidence"), std::string::npos);

    std::ostringstream csv;
    write_empty_csv(csv, empty);
    EXPECT_NE(csv.str().find("\n0,0,200.000,6.000,1.000,0,found,no_pallet,no_face,,,\n"), std::string::npos)
        << csv.str();
}
