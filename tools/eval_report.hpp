// What an accuracy sweep writes into its output folder: the CSV files (tools/eval_csv.hpp), the
// summary (tools/eval_tables.hpp) and the plots (tools/eval_plots.hpp).
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

struct OutputFiles {
    std::string csv;
    std::string empty_csv;           // empty when there were no floor-only scenes
    std::string summary;
    std::vector<std::string> plots;  // empty when the plots were skipped
    std::string plots_skipped;       // why, when they were
};

// Writes path through `write`; throws std::runtime_error when the file cannot be written whole.
void write_file(const std::string& path, const std::function<void(std::ostream&)>& write);

// Makes dir and its parents when missing; throws std::runtime_error when that fails or dir is
// no folder.
void make_output_folder(const std::string& dir);

// Makes dir when missing and writes scenes.csv, empty_scenes.csv (with floor-only scenes),
// summary.md and the plots. Throws std::runtime_error when a file cannot be written.
OutputFiles write_outputs(const std::string& dir, const std::vector<SceneResult>& results,
                          std::uint64_t base_seed, const std::vector<SceneResult>& empty = {});
