// The frame loops of pallet_scan: every frame analysed once, its record written whole.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/result_report.hpp"
#include "tools/scan_options.hpp"
#include "tools/scan_summary.hpp"
#include "tools/scan_track.hpp"

// The scratch space of one thread that analyses frames, kept from frame to frame so that the
// analysis and the detector allocate once.
struct FrameWorkspaces {
    AnalysisWorkspace analysis;
    DetectorWorkspace detector;
};

// One frame analysed and not yet written: everything its record and files need.
struct ScannedFrame {
    std::uint64_t index = 0;           // from 1
    std::optional<double> timestamp_s;  // the frame's time when it has one (camera frames)
    std::string source;                // the input's path, or "camera"
    std::string view_name;             // the result view's wanted file name
    std::string input_error;           // set: the input cannot be read and is skipped
    FrameAnalysis analysis;
    double analysis_ms = 0;
    Detection detection;               // jsonl only
    double detect_ms = 0;
    std::string console;               // --format console: the frame's bytes
    std::vector<unsigned char> depth_png;  // --record: the frame, encoded
    std::string depth_png_error;
    std::vector<unsigned char> view_png;   // --save-views: the result view, encoded
    std::string view_png_error;
};

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
    std::vector<PalletType> pallet_types = builtin_pallet_types();  // what the detector matches
    DetectorParams detector;
    FrameWorkspaces workspaces;         // of the camera's frames, analysed on the run's thread
    RecordStep record_step;             // --mount and tracks: applied to records in input order
};

// Analyses one 480 x 640 depth image and encodes what --record and --save-views write; writes
// nothing and changes nothing of the run, so that several threads can call it at once, each
// with its own workspaces.
ScannedFrame scan_frame(const ScanRun& run, FrameWorkspaces& workspaces, const cv::Mat& depth,
                        const std::string& source, std::uint64_t index, const std::string& view_name);

// Writes one scanned frame, frames in input order: its recorded frame, its record (after the
// run's record step) and its result view, and counts it (an input error is said and counted). A record that cannot be written
// whole ends the run (output_failed), with one line that says how many records the output
// holds; a stop request during the write ends it without a line.
void write_scanned_frame(ScanRun& run, ScannedFrame& frame);

// scan_frame and write_scanned_frame, on the run's own workspaces; `timestamp_s` is the frame's
// time when it has one (camera frames), for the tracks.
void scan_depth_image(ScanRun& run, const cv::Mat& depth, const std::string& source,
                      std::uint64_t index, const std::string& view_name,
                      std::optional<double> timestamp_s = std::nullopt);

// How many threads analyse the input files: --jobs, else one per core.
unsigned scan_workers(const ScanOptions& options);

// Runs every input file until done, --frames, a stop request or an output failure: read and
// analysed on scan_workers threads, at most two frames per thread in flight, written in input
// order.
void scan_files(ScanRun& run);

// Writes one line to the messages, clearing the progress line first.
void report_problem(ScanRun& run, const std::string& line);

// Redraws the progress line, at most a few times a second (only with show_progress).
void update_progress(ScanRun& run);

// Removes the progress line, before the summary.
void clear_progress(ScanRun& run);

// A name for the result view of this input that no earlier frame of the run used.
std::string unique_view_name(ScanRun& run, const std::string& wanted, std::uint64_t index);
