#include "tools/eval_report.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Two distances, square-on, with and without returns from the fork openings: rendered once.
const std::vector<SceneResult>& tiny_sweep()
{
    static const std::vector<SceneResult> results = [] {
        SweepAxes axes;
        axes.distance_mm = {1000, 1500};
        axes.yaw_deg = {0};
        axes.lateral_mm = {0};
        axes.height_mm = {200};
        axes.pitch_deg = {6};
        axes.noise_level = {1};
        axes.cavity_no_return = {false, true};
        return run_sweep(sweep_scenes(axes), 1, 2, nullptr);
    }();
    return results;
}

// A new folder under the build folder, removed when the test ends.
struct Scratch {
    std::string root;
    std::string out;  // inside root; write_outputs makes it
    Scratch()
    {
        root = std::string(PALLET_BUILD_DIR) + "/eval_report_test_XXXXXX";
        EXPECT_NE(mkdtemp(root.data()), nullptr);
        out = root + "/out";
    }
    ~Scratch() { std::filesystem::remove_all(root); }
};

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!line.empty() && line.back() == separator) fields.emplace_back();
    return fields;
}

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

    const std::vector<BinSummary> bins = summarise_by(results, &SceneParams::distance_mm);
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

TEST(WriteOutputs, TinySweepWritesCsvAndSummary)
{
    const std::vector<SceneResult>& results = tiny_sweep();
    const Scratch scratch;
    const std::string& dir = scratch.out;
    const OutputFiles files = write_outputs(dir, results, 1);

    std::istringstream csv(read_file(files.csv));
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    const std::vector<std::string> header = split(line, ',');
    EXPECT_EQ(header[0], "scene");
    std::size_t rows = 0;
    std::size_t outcome_column = 0;
    std::size_t err_x_column = 0;
    for (std::size_t k = 0; k < header.size(); ++k) {
        if (header[k] == "outcome") outcome_column = k;
        if (header[k] == "err_x_mm") err_x_column = k;
    }
    ASSERT_GT(outcome_column, 0U);
    ASSERT_GT(err_x_column, 0U);
    while (std::getline(csv, line)) {
        const std::vector<std::string> fields = split(line, ',');
        ASSERT_EQ(fields.size(), header.size()) << line;
        const SceneResult& r = results[rows];
        EXPECT_EQ(fields[2], rows < 2 ? "1000.000" : "1500.000");
        EXPECT_EQ(fields[8], r.params.cavity_no_return ? "1" : "0");
        EXPECT_EQ(fields[1], std::to_string(r.seed));
        if (r.comparison.outcome == PalletOutcome::pallet_found) {
            EXPECT_EQ(fields[outcome_column], "found");
            EXPECT_NEAR(std::stod(fields[err_x_column]), r.comparison.centre_error.x(), 0.0005);
        } else {
            EXPECT_TRUE(fields[err_x_column].empty());
        }
        ++rows;
    }
    EXPECT_EQ(rows, results.size());

    const std::string summary = read_file(files.summary);
    EXPECT_NE(summary.find("4 scenes, base seed 1"), std::string::npos);
    EXPECT_NE(summary.find("## By distance (mm)"), std::string::npos);
    EXPECT_NE(summary.find("| 1000 | 2 |"), std::string::npos);
    EXPECT_NE(summary.find("| 1500 | 2 |"), std::string::npos);
    EXPECT_NE(summary.find("## By pallet yaw (degrees)\n\n| yaw |"), std::string::npos);
    EXPECT_NE(summary.find("| 0 | 4 |"), std::string::npos);  // the one bin of yaw, lateral offset, ...
    EXPECT_NE(summary.find("## By noise level"), std::string::npos);
    EXPECT_NE(summary.find("| no return | 2 |"), std::string::npos);
    EXPECT_NE(summary.find("| yaw | pallet yaw |"), std::string::npos);
}

TEST(WriteOutputs, TinySweepDrawsThePlots)
{
    if (!gnuplot_available()) GTEST_SKIP() << "gnuplot is not installed: no plots to check";
    const Scratch scratch;
    const std::string& dir = scratch.out;
    const OutputFiles files = write_outputs(dir, tiny_sweep(), 1);
    EXPECT_TRUE(files.plots_skipped.empty()) << files.plots_skipped;
    ASSERT_EQ(files.plots.size(), plot_names().size());
    for (const std::string& png : files.plots) {
        const std::string bytes = read_file(png);
        EXPECT_GT(bytes.size(), 1000U) << png;
        EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << png;
    }
}

TEST(WriteOutputs, WithoutGnuplotSkipsOnlyThePlots)
{
    const char* old_path = std::getenv("PATH");
    const std::string saved = old_path != nullptr ? old_path : "";
    const Scratch scratch;
    const std::string& dir = scratch.out;
    setenv("PATH", (scratch.root + "/no-such-folder").c_str(), 1);
    const OutputFiles files = write_outputs(dir, tiny_sweep(), 1);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(files.plots.empty());
    EXPECT_FALSE(files.plots_skipped.empty());
    EXPECT_FALSE(read_file(files.csv).empty());
    EXPECT_FALSE(read_file(files.summary).empty());
    EXPECT_TRUE(read_file(dir + "/error_vs_distance.png").empty());
}
