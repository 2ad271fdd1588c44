#include "tools/eval_csv.hpp"

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = line.find(',', start);
        fields.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// The field of the named column in one line of the file.
std::string field(const std::vector<CsvColumn>& columns, const std::string& line, const std::string& name)
{
    const std::vector<std::string> fields = split(line);
    for (std::size_t k = 0; k < columns.size(); ++k) {
        if (columns[k].name == name) return k < fields.size() ? fields[k] : "(missing)";
    }
    return "(no column " + name + ")";
}

SceneResult found_scene()
{
    SceneResult r;
    r.seed = 99;
    r.params.distance_mm = 1250.0;
    r.params.cavity_no_return = true;
    SceneComparison& c = r.comparison;
    c.outcome = PalletOutcome::pallet_found;
    c.face_width_px = 240;
    c.centre_error = {1.25, -2.5, 0.0626};
    c.centre_pixel = {320, 300};
    c.centre_label = 3;
    c.centre_on_face = true;
    r.dock.verdict = DockVerdict::pallet;
    r.dock.reason = DockReason::none;
    r.dock.confidence = 0.93456;
    r.dock.pockets = 2;
    return r;
}

}  // namespace

TEST(EvalCsv, EveryRowHasAFieldForEveryNamedColumn)
{
    SceneResult missed;
    missed.comparison.outcome = PalletOutcome::no_contour;
    const std::vector<SceneResult> results = {found_scene(), missed};
    const std::vector<CsvColumn> columns = scene_columns();
    std::set<std::string> names;
    for (const CsvColumn& column : columns) EXPECT_TRUE(names.insert(column.name).second) << column.name;

    std::ostringstream out;
    write_csv(out, columns, results);
    const std::vector<std::string> lines = lines_of(out.str());
    ASSERT_EQ(lines.size(), 3U);
    EXPECT_EQ(lines[0].rfind("scene,seed,distance_mm,yaw_deg,lateral_mm,height_mm,pitch_deg,noise_level,cavity,"
                             "outcome,",
                             0),
              0U);
    EXPECT_EQ(split(lines[0]).size(), columns.size());
    for (const std::string& line : lines) EXPECT_EQ(split(line).size(), columns.size()) << line;

    EXPECT_EQ(field(columns, lines[1], "scene"), "0");
    EXPECT_EQ(field(columns, lines[1], "seed"), "99");
    EXPECT_EQ(field(columns, lines[1], "distance_mm"), "1250.000");
    EXPECT_EQ(field(columns, lines[1], "cavity"), "1");
    EXPECT_EQ(field(columns, lines[1], "outcome"), "pallet_found");
    EXPECT_EQ(field(columns, lines[1], "face_width_px"), "240");
    EXPECT_EQ(field(columns, lines[1], "err_y_mm"), "-2.500");
    EXPECT_EQ(field(columns, lines[1], "err_z_mm"), "0.063");  // 3 decimals
    EXPECT_EQ(field(columns, lines[1], "centre_u"), "320");
    EXPECT_EQ(field(columns, lines[1], "centre_on_face"), "1");
    EXPECT_EQ(field(columns, lines[1], "normal_err_deg"), "");  // not measured: NaN
    EXPECT_EQ(field(columns, lines[1], "dock_verdict"), "pallet");
    EXPECT_EQ(field(columns, lines[1], "dock_confidence"), "0.9346");
    EXPECT_EQ(field(columns, lines[1], "dock_pockets"), "2");

    EXPECT_EQ(field(columns, lines[2], "scene"), "1");
    EXPECT_EQ(field(columns, lines[2], "outcome"), "no_contour");
    EXPECT_EQ(field(columns, lines[2], "centre_u"), "");  // the centre pixel only where found
    EXPECT_EQ(field(columns, lines[2], "centre_on_face"), "");
}

TEST(EvalCsv, FloorOnlyScenes)
{
    SceneResult ghost;
    ghost.params.empty_index = 0;
    ghost.comparison.outcome = PalletOutcome::pallet_found;
    ghost.dock.reason = DockReason::no_face;
    std::ostringstream out;
    write_csv(out, empty_scene_columns(), {ghost});
    EXPECT_EQ(out.str(),
              "scene,seed,height_mm,pitch_deg,noise_level,index,outcome,dock_verdict,dock_reason,"
              "dock_floor_normal_err_deg,dock_camera_height_err_mm,dock_camera_tilt_err_deg\n"
              "0,0,200.000,6.000,1.000,0,pallet_found,no_pallet,no_face,,,\n");
}
