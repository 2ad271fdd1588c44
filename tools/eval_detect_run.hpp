// The detector part of a pallet_eval run: which scene sets it films with which sensors, and the
// run itself.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_detect_report.hpp"
#include "tools/eval_options.hpp"

struct DetectPlan {
    std::vector<std::string> sets;     // the sensors that film the whole scene set
    std::vector<std::string> effects;  // those that film the working-mount set (empty: none)
    int scenes = 0;                    // per sensor of the whole set; 0: no detector scenes
    int effect_scenes = 0;             // per sensor of the working-mount set
};

// The plan of the options: --detector-scenes (by default default_detector_scenes with the default
// sweep, else none); --sensor alone, or ideal and tof side by side and the working mount filmed
// with ideal, each tof effect alone and tof (a sixth of the scenes each).
DetectPlan detect_plan(const EvalOptions& options);

// Progress of one sensor's set: its label ("tof", "working mount, tof:noise"), done and total.
using DetectProgress = std::function<void(const std::string& label, std::size_t done, std::size_t total)>;

struct DetectResults {
    std::vector<DetectRun> sets;
    std::vector<DetectRun> effects;
};

// Films and detects every set of the plan (progress may be empty).
DetectResults run_detect_plan(const DetectPlan& plan, std::uint64_t base_seed, const std::vector<PalletType>& types,
                              int threads, const DetectProgress& progress);

// One line per set: frames, recall, type right, false pallets and the errors.
void write_detect_headline(std::ostream& out, const std::vector<DetectRun>& sets);
