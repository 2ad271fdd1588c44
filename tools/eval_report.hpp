// What an accuracy sweep writes: one CSV row per scene, a Markdown summary per bin of distance
// and yaw, and gnuplot plots of both.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

// Numbers as the sweep's outputs write them: fixed notation with the given decimals, empty for
// NaN or infinity (a gap in a spreadsheet); the same with "-" for a table cell; with 3 decimals
// or "NaN" for gnuplot's data; a share in percent ("-" of nothing); the shortest "%g" form.
std::string number(double value, int decimals = 3);
std::string cell(double value, int decimals = 1);
std::string plot_number(double value);
std::string percent(std::size_t part, std::size_t whole);
std::string short_number(double value);

// Quantile q (0..1) of the finite values, linear between neighbouring ranks; NaN when none is.
double quantile(std::vector<double> values, double q);

// Statistics of the scenes of one bin. Centre and normal figures cover the found scenes only.
struct BinSummary {
    double key = 0.0;
    std::size_t scenes = 0;
    std::size_t found = 0;
    std::size_t no_pallet = 0;
    std::size_t no_contour = 0;
    std::size_t centre_misses = 0;             // found, but the centre pixel is not on the face
    std::size_t zero_centres = 0;              // found, but the centre pixel has no depth: (0, 0, 0)
    double centre_abs_p50[3] = {NAN, NAN, NAN};  // |error| per axis x, y, z, mm
    double centre_abs_p95[3] = {NAN, NAN, NAN};
    double normal_p50 = NAN;                   // degrees
    double normal_p95 = NAN;
};

BinSummary summarise(const std::vector<const SceneResult*>& scenes, double key);

// One bin per distinct value of the parameter, in increasing order.
std::vector<BinSummary> summarise_by(const std::vector<SceneResult>& results,
                                     double SceneParams::*parameter);

// Least-squares slope and correlation of y against x over the pairs where both are finite.
struct Trend {
    double slope = NAN;
    double correlation = NAN;
    std::size_t count = 0;
};
Trend trend(const std::vector<double>& x, const std::vector<double>& y);

void write_csv(std::ostream& out, const std::vector<SceneResult>& results);
// The fixed report's tables, then the dock measurement's (tools/eval_dock.hpp), with the
// floor-only scenes among them.
void write_summary(std::ostream& out, const std::vector<SceneResult>& results, std::uint64_t base_seed,
                   const std::vector<SceneResult>& empty = {});

// True when an executable gnuplot is on PATH.
bool gnuplot_available();

// Writes the plot data and script into dir (the fixed report's plots and the dock measurement's)
// and runs gnuplot there. False with the reason when gnuplot is missing or fails.
bool write_plots(const std::string& dir, const std::vector<SceneResult>& results, std::string& reason);

struct OutputFiles {
    std::string csv;
    std::string empty_csv;           // empty when there were no floor-only scenes
    std::string summary;
    std::vector<std::string> plots;  // empty when the plots were skipped
    std::string plots_skipped;       // why, when they were
};

// Makes dir and its parents when missing; throws std::runtime_error when that fails or dir is
// no folder.
void make_output_folder(const std::string& dir);

// Makes dir when missing and writes scenes.csv, empty_scenes.csv (with floor-only scenes),
// summary.md and the plots. Throws std::runtime_error when a file cannot be written.
OutputFiles write_outputs(const std::string& dir, const std::vector<SceneResult>& results,
                          std::uint64_t base_seed, const std::vector<SceneResult>& empty = {});

// The file names of the plots inside the output folder.
std::vector<std::string> plot_names();
