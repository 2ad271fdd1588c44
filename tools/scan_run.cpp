#include "tools/scan_run.hpp"

#include <algorithm>
#include <ostream>
#include <sstream>
#include <thread>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_views.hpp"
#include "analysis/result_report.hpp"
#include "analysis/frame_analysis.hpp"
#include "sim/depth_png.hpp"
#include "tools/ordered_jobs.hpp"
#include "tools/scan_inputs.hpp"
#include "tools/scan_json.hpp"
#include "tools/scan_output.hpp"

namespace {

std::string console_bytes(const cv::Mat& depth, const FrameAnalysis& analysis,
                          TextEncoding encoding)
{
    std::ostringstream bytes;
    write_probe(bytes, depth);
    write_report(bytes, analysis, encoding);
    return bytes.str();
}

std::string joined(const std::string& dir, const std::string& name)
{
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

void write_record(ScanRun& run, const std::string& record)
{
    const RecordWrite write = write_whole_record(run.out_fd, record, *run.stop_requested);
    if (write.end == WriteEnd::written) {
        ++run.records_written;
        return;
    }
    if (write.end == WriteEnd::stopped) return;  // the loop ends on the stop request itself
    run.output_failed = true;
    const std::uint64_t whole = run.records_written;
    report_problem(run, "pallet_scan: cannot write the output (" + write.error +
                            "); stopping after " + std::to_string(whole) +
                            (whole == 1 ? " whole record" : " whole records"));
}

void save_file(ScanRun& run, const std::string& path, const std::string& error, bool& said)
{
    if (error.empty()) return;
    ++run.tally.failed_writes;
    if (said) return;
    said = true;
    report_problem(run, "pallet_scan: " + path + ": " + error +
                            "; later failures in that folder are counted, not said");
}

// The encoded PNG written whole to path; the encoder's error instead, if it failed.
std::string written_png(const std::string& path, const std::vector<unsigned char>& bytes,
                        const std::string& encode_error)
{
    return encode_error.empty() ? write_whole_file(path, bytes) : encode_error;
}

}  // namespace

void report_problem(ScanRun& run, const std::string& line)
{
    if (run.progress_shown) *run.messages << "\r\x1b[K";  // erase the progress line
    run.progress_shown = false;
    *run.messages << line << std::endl;
}

void update_progress(ScanRun& run)
{
    if (!run.show_progress) return;
    const auto now = std::chrono::steady_clock::now();
    if (run.progress_shown && now - run.progress_drawn < std::chrono::milliseconds(200))
        return;
    const double elapsed_s = std::chrono::duration<double>(now - run.started).count();
    *run.messages << "\r\x1b[K" << progress_text(run.frames_done, run.frames_expected, elapsed_s)
                  << std::flush;
    run.progress_drawn = now;
    run.progress_shown = true;
}

void clear_progress(ScanRun& run)
{
    if (run.progress_shown) *run.messages << "\r\x1b[K" << std::flush;
    run.progress_shown = false;
}

std::string unique_view_name(ScanRun& run, const std::string& wanted, std::uint64_t index)
{
    std::string name = wanted;
    if (run.view_names.count(name) != 0) {
        const std::string stem = name.substr(0, name.size() - 4);  // wanted ends in ".png"
        name = stem + "_" + indexed_frame_name(index);
    }
    run.view_names.insert(name);
    return name;
}

ScannedFrame scan_frame(const ScanRun& run, FrameWorkspaces& workspaces, const cv::Mat& depth,
                        const std::string& source, std::uint64_t index, const std::string& view_name)
{
    const ScanOptions& options = run.options;
    ScannedFrame frame;
    frame.index = index;
    frame.source = source;
    frame.view_name = view_name;
    if (!options.record_dir.empty()) frame.depth_png_error = encode_png(depth, frame.depth_png);

    const auto begin = std::chrono::steady_clock::now();
    frame.analysis = analyse_depth(depth, workspaces.analysis);
    const auto end = std::chrono::steady_clock::now();
    frame.analysis_ms = std::chrono::duration<double, std::milli>(end - begin).count();

    if (options.format == OutputFormat::jsonl) {
        const auto detect_begin = std::chrono::steady_clock::now();
        frame.detection = detect_pallets(depth, run.pallet_types, run.detector, workspaces.detector);
        const auto detect_end = std::chrono::steady_clock::now();
        frame.detect_ms = std::chrono::duration<double, std::milli>(detect_end - detect_begin).count();
    } else {
        frame.console = console_bytes(depth, frame.analysis, run.encoding);
    }

    if (!options.views_dir.empty()) {
        DepthViews& views = make_depth_views_fast(depth, workspaces.analysis.views);
        frame.view_png_error =
            encode_png(draw_result_overlay(views.colour_view, frame.analysis), frame.view_png);
    }
    return frame;
}

void write_scanned_frame(ScanRun& run, ScannedFrame& frame)
{
    const ScanOptions& options = run.options;
    if (!frame.input_error.empty()) {
        ++run.tally.failed_inputs;
        report_problem(run, "pallet_scan: " + frame.source + ": " + frame.input_error + ", skipped");
        return;
    }
    if (!options.record_dir.empty()) {
        const std::string path = joined(options.record_dir, indexed_frame_name(frame.index));
        save_file(run, path, written_png(path, frame.depth_png, frame.depth_png_error),
                  run.record_failure_said);
    }

    if (options.format == OutputFormat::jsonl) {
        nlohmann::ordered_json record = frame_record(frame.source, frame.index, frame.analysis,
                                                     frame.analysis_ms, frame.detection, frame.detect_ms);
        // Every analysed frame passes here once, in input order, just before its record is
        // written: the place for steps that carry something from frame to frame.
        apply_record_step(run.record_step, frame.detection, frame.index, frame.timestamp_s, record);
        write_record(run, record_line(record));
    } else {
        write_record(run, frame.console);
    }

    if (!options.views_dir.empty()) {
        const std::string path =
            joined(options.views_dir, unique_view_name(run, frame.view_name, frame.index));
        save_file(run, path, written_png(path, frame.view_png, frame.view_png_error),
                  run.view_failure_said);
    }
    count_analysed(run.tally, frame.analysis.outcome, frame.analysis_ms);
}

void scan_depth_image(ScanRun& run, const cv::Mat& depth, const std::string& source,
                      std::uint64_t index, const std::string& view_name,
                      std::optional<double> timestamp_s)
{
    ScannedFrame frame = scan_frame(run, run.workspaces, depth, source, index, view_name);
    frame.timestamp_s = timestamp_s;
    write_scanned_frame(run, frame);
}

unsigned scan_workers(const ScanOptions& options)
{
    return options.jobs > 0 ? static_cast<unsigned>(options.jobs) : std::max(1u, std::thread::hardware_concurrency());
}

void scan_files(ScanRun& run)
{
    const std::vector<InputFile> files = list_input_files(run.options.inputs);
    const std::uint64_t limit = run.options.frame_limit;
    run.frames_expected = limit > 0 && limit < files.size() ? limit : files.size();
    const auto workers = static_cast<unsigned>(
        std::min<std::uint64_t>(scan_workers(run.options), std::max<std::uint64_t>(run.frames_expected, 1)));
    std::vector<FrameWorkspaces> workspaces(workers);

    const auto scan_input = [&](unsigned worker, std::uint64_t i) {
        const InputFile& file = files[i];
        const sim::DepthPngRead read = file.error.empty() ? sim::read_depth_png(file.path)
                                                           : sim::DepthPngRead{{}, file.error};
        if (!read.error.empty()) {
            ScannedFrame skipped;
            skipped.index = i + 1;
            skipped.source = file.path;
            skipped.input_error = read.error;
            return skipped;
        }
        return scan_frame(run, workspaces[worker], read.depth, file.path, i + 1, view_name_for(file.path));
    };
    const auto write_in_order = [&](ScannedFrame frame) {
        if (*run.stop_requested != 0 || run.output_failed) return false;
        write_scanned_frame(run, frame);
        ++run.frames_done;
        update_progress(run);
        return true;
    };
    run_in_order<ScannedFrame>(run.frames_expected, workers, 2 * std::uint64_t{workers}, scan_input,
                               write_in_order);
}
