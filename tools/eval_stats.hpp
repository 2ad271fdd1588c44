// The numbers of an accuracy sweep: how its outputs write a number, the one quantile of every
// figure, and the statistics per bin of scenes, of the fixed report and of the dock measurement.
#pragma once

#include <cmath>
#include <cstddef>
#include <map>
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

// Quantile q (0..1) of the finite values, linear between neighbouring ranks: the value at rank
// q * (n - 1) counted from 0, between the two values around it. NaN when no value is finite.
double quantile(std::vector<double> values, double q);

// Least-squares slope and correlation of y against x over the pairs where both are finite.
struct Trend {
    double slope = NAN;
    double correlation = NAN;
    std::size_t count = 0;
};
Trend trend(const std::vector<double>& x, const std::vector<double>& y);

std::vector<const SceneResult*> all_of(const std::vector<SceneResult>& results);

// The scenes of each distinct value of the parameter, in increasing order.
std::map<double, std::vector<const SceneResult*>> scenes_by(const std::vector<SceneResult>& results,
                                                             double SceneParams::*parameter);

// One summary per distinct value of the parameter, in increasing order: summarise(scenes, key).
template <typename Bin>
std::vector<Bin> bins_by(const std::vector<SceneResult>& results, double SceneParams::*parameter,
                         Bin (*summarise)(const std::vector<const SceneResult*>&, double))
{
    std::vector<Bin> bins;
    for (const auto& [key, scenes] : scenes_by(results, parameter)) bins.push_back(summarise(scenes, key));
    return bins;
}

// Statistics of the fixed report over the scenes of one bin. Centre and normal figures cover the
// found scenes only.
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

// Statistics of the dock measurement over the scenes of one bin; the errors cover the scenes with
// the verdict "pallet" (absolute values, mm and degrees).
struct DockBin {
    double key = 0.0;
    std::size_t scenes = 0;
    std::size_t pallets = 0;
    std::size_t false_pallets = 0;                 // see false_pallet
    double centre_p50[3] = {NAN, NAN, NAN};        // camera x, y, z
    double centre_p95[3] = {NAN, NAN, NAN};
    double floor_p50[3] = {NAN, NAN, NAN};         // floor frame: lateral, forward, height
    double floor_p95[3] = {NAN, NAN, NAN};
    double yaw_p50 = NAN;
    double yaw_p95 = NAN;
    double pocket_p50 = NAN;                       // distance of each pocket centre from the truth
    double pocket_p95 = NAN;
    double width_p50 = NAN;                        // where both ends were seen
    double confidence_p50 = NAN;
};
DockBin summarise_dock(const std::vector<const SceneResult*>& scenes, double key);

// A "pallet" verdict on a scene without a pallet, or with the centre more than 50 mm or the yaw
// more than 5 degrees off the truth.
bool false_pallet(const SceneResult& result);

// The camera 200 mm high tilted 4 to 8 degrees up, the pallet within 250 mm sideways and 20
// degrees of yaw; no floor-only scene.
bool in_working_mount(const SceneParams& params);

// The scenes the measurement is meant for: the working mount, noise levels 0 to 1, the pallet
// 1.0 to 2.0 m ahead.
bool in_working_envelope(const SceneParams& params);

// The fixed analysis found a "pallet" whose face contour is mostly (half or more) floor.
bool fixed_analysis_took_floor(const SceneResult& result);

// The pallet verdicts by confidence: bins 0-0.2-0.4-0.6-0.8-0.9-1, with the centre distance and
// the yaw error of each, so that a higher confidence can be seen to mean a smaller error.
struct ConfidenceBin {
    double lo = 0.0;
    double hi = 0.0;
    std::size_t count = 0;
    double centre_p50 = NAN;  // |measured - true centre|, mm
    double centre_p95 = NAN;
    double yaw_p50 = NAN;     // degrees
    double yaw_p95 = NAN;
};
std::vector<ConfidenceBin> confidence_bins(const std::vector<SceneResult>& results);
