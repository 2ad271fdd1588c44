#include "tools/eval_tables.hpp"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "unit/eval_scenes.hpp"

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
}
