// The command line of pallet_eval.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

struct EvalOptions {
    SweepAxes axes = default_axes();
    std::uint64_t seed = 1;
    int threads = 0;            // 0: one per core
    int empty = 20;             // floor-only scenes per camera height, tilt and noise level
    std::string out_dir = "eval_out";
    bool help = false;
};

// The options of argv[1..]; empty on a usage error, with the reason in error.
std::optional<EvalOptions> parse_eval_options(const std::vector<std::string>& args, std::string& error);

// The text of --help.
std::string eval_usage();
