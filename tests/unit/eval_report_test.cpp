#include "tools/eval_report.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/eval_plots.hpp"

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

}  // namespace

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
            EXPECT_EQ(fields[outcome_column], "pallet_found");
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
