// What the detector scene set writes: detector_pairs.csv (every detection/face pair of every
// sensor), detector_summary.md (the headline per sensor side by side, the effects of the
// time-of-flight camera one at a time, the worst bins, then the tables per bin) and its plots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_csv.hpp"
#include "tools/eval_detect.hpp"

// The frames of one scene set filmed with one sensor.
struct DetectRun {
    std::string sensor;
    std::string set;  // "detector" (the whole set) or "working_mount"
    std::vector<DetectFrame> frames;
};

// One row of detector_pairs.csv.
struct DetectRow {
    const DetectRun* run = nullptr;
    const DetectFrame* frame = nullptr;
    const DetectPair* pair = nullptr;
};

// The columns of detector_pairs.csv.
std::vector<TableColumn<DetectRow>> detect_pair_columns();

// The rows of the runs, run by run, frame by frame, pair by pair.
std::vector<DetectRow> detect_rows(const std::vector<DetectRun>& runs);

// The summary: `sets` are whole scene sets (side by side), `effects` the working mount filmed
// with one sensor each (may be empty).
void write_detect_summary(std::ostream& out, const std::vector<DetectRun>& sets, const std::vector<DetectRun>& effects,
                          std::uint64_t base_seed);

// The worst bins of a run: those with the lowest recall of faces in view (at least min_faces of
// them) and those with the largest 95th percentile of a centre axis (at least min_faces found),
// `count` of each.
void write_worst_bins(std::ostream& out, const DetectRun& run, std::size_t count = 5, std::size_t min_faces = 20);

struct DetectOutputs {
    std::string csv;
    std::string summary;
    std::vector<std::string> plots;  // empty when skipped
    std::string plots_skipped;       // why
};

// Writes the CSV, the summary and the plots of the sets into dir (which exists). Throws
// std::runtime_error when a file cannot be written.
DetectOutputs write_detect_outputs(const std::string& dir, const std::vector<DetectRun>& sets,
                                   const std::vector<DetectRun>& effects, std::uint64_t base_seed);
