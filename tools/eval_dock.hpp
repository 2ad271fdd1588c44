// What a sweep shows of the dock measurement: its statistics per bin, the summary section, the
// floor-only scenes' table and the plots.
#pragma once

#include <cmath>
#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

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

// One bin per distinct value of the parameter, in increasing order.
std::vector<DockBin> summarise_dock_by(const std::vector<SceneResult>& results,
                                       double SceneParams::*parameter);

// A "pallet" verdict on a scene without a pallet, or with the centre more than 50 mm or the yaw
// more than 5 degrees off the truth.
bool false_pallet(const SceneResult& result);

// The scenes the measurement is meant for: camera 200 mm high tilted 4 to 8 degrees up, noise
// levels 0 to 1, the pallet 1.0 to 2.0 m ahead, within 250 mm sideways and 20 degrees of yaw.
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

// The dock section of summary.md: the working envelope beside the other ranges, the floor-only
// scenes and the fixed analysis's floor "pallets", the reasons, a table per axis and the
// confidence bins.
void write_dock_summary(std::ostream& out, const std::vector<SceneResult>& results,
                        const std::vector<SceneResult>& empty);

// One CSV row per floor-only scene: mount, noise, seed, the fixed outcome, the verdict and the
// floor's errors.
void write_empty_csv(std::ostream& out, const std::vector<SceneResult>& empty);

// Writes the dock plots' data into dir and returns the gnuplot commands that draw them there.
std::string dock_plot_script(const std::string& dir, const std::vector<SceneResult>& results);

// The file names of the dock plots.
std::vector<std::string> dock_plot_names();
