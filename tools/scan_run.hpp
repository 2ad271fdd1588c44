// The frame loops of pallet_scan: every frame analysed once, its record written whole.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>

#include <opencv2/core.hpp>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/result_report.hpp"
#include "tools/scan_options.hpp"
#include "tools/scan_summary.hpp"
#include "tools/scan_track.hpp"

// Everything one run writes to and counts in.
struct ScanRun {
    ScanOptions options;
    int out_fd = 1;                     // the records: standard output or --output
    std::ostream* messages = nullptr;   // problems, progress and summary (standard error)
    TextEncoding encoding = TextEncoding::utf8;     // of --format console
    const volatile std::sig_atomic_t* stop_requested = nullptr;  // checked between frames
    bool show_progress = false;         // messages is a terminal
    std::uint64_t frames_expected = 0;  // 0: unknown (camera)
    ScanTally tally;
    std::set<std::string> view_names;   // used in this run, so that no view overwrites another
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point progress_drawn{};
    std::uint64_t frames_done = 0;
    bool progress_shown = false;
    bool output_failed = false;         // the records cannot be written: the run ends
    std::uint64_t records_written = 0;  // whole records in the output
    bool record_failure_said = false;   // --record and --save-views: the first failed file
    bool view_failure_said = false;     // of each folder is said, later ones only counted
    AnalysisWorkspace workspace;        // the analysis' scratch space, reused by every frame
    std::vector<PalletType> pallet_types = builtin_pallet_types();  // what the detector matches
    DetectorParams detector;
    DetectorWorkspace detector_workspace;  // kept from frame to frame, so that it allocates once
    RecordStep record_step;             // --mount and tracks: applied to records in input order
};

// Analyses one 480 x 640 depth image: records it (--record), writes its record, saves its
// result view (--save-views) and counts it. `index` counts from 1; `timestamp_s` is the frame's
// time when it has one (camera frames), for the tracks. A record that cannot be
// written whole ends the run (output_failed), with one line that says how many records the
// output holds; a stop request during the write ends it without a line.
void scan_depth_image(ScanRun& run, const cv::Mat& depth, const std::string& source,
                      std::uint64_t index, const std::string& view_name,
                      std::optional<double> timestamp_s = std::nullopt);

// Runs every input file in order until done, --frames, a stop request or an output failure.
void scan_files(ScanRun& run);

// Writes one line to the messages, clearing the progress line first.
void report_problem(ScanRun& run, const std::string& line);

// Redraws the progress line, at most a few times a second (only with show_progress).
void update_progress(ScanRun& run);

// Removes the progress line, before the summary.
void clear_progress(ScanRun& run);

// A name for the result view of this input that no earlier frame of the run used.
std::string unique_view_name(ScanRun& run, const std::string& wanted, std::uint64_t index);
