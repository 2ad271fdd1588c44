// The command line of pallet_eval.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/parsed.hpp"
#include "tools/eval_sweep.hpp"

// The approach sequences and mount calibrations beside the sweep, or instead of it.
enum class SequenceRuns { on, off, only };

struct EvalOptions {
    SweepAxes axes = default_axes();
    std::uint64_t seed = 1;
    int threads = 0;            // 0: one per core
    int empty = 20;             // floor-only scenes per camera height, tilt and noise level
    std::string out_dir = "eval_out";
    SequenceRuns sequences = SequenceRuns::on;
    int sequence_seeds = 3;     // runs of each approach sequence, each with its own seed
    std::string sensor;             // the detector scenes' one sensor; empty: ideal and tof side by side
    int detector_scenes = -1;       // per sensor; -1: default_detector_scenes with the default sweep, else none
    std::string pallet_types_path;  // empty: the built-in pallet types only
};

// The detector scenes per sensor of a default run.
constexpr int default_detector_scenes = 2000;

// The options of the arguments after the program name (tools/cli.hpp), or the usage error.
Parsed<EvalOptions> parse_eval_options(const std::vector<std::string>& args);

// The text of --help, made from the same definitions.
std::string eval_usage();
