#include "tools/scan_run.hpp"

#include <ostream>
#include <sstream>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_views.hpp"
#include "analysis/result_report.hpp"
#include "analysis/frame_analysis.hpp"
#include "sim/depth_png.hpp"
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

void scan_depth_image(ScanRun& run, const cv::Mat& depth, const std::string& source,
                      std::uint64_t index, const std::string& view_name,
                      std::optional<double> timestamp_s)
{
    const ScanOptions& options = run.options;
    if (!options.record_dir.empty()) {
        const std::string path = joined(options.record_dir, indexed_frame_name(index));
        save_file(run, path, write_depth_png(path, depth), run.record_failure_said);
    }

    const auto begin = std::chrono::steady_clock::now();
    const FrameAnalysis analysis = analyse_depth(depth, run.workspace);
    const auto end = std::chrono::steady_clock::now();
    const double analysis_ms = std::chrono::duration<double, std::milli>(end - begin).count();

    if (options.format == OutputFormat::jsonl) {
        const auto detect_begin = std::chrono::steady_clock::now();
        const Detection detection = detect_pallets(depth, run.pallet_types, run.detector, run.detector_workspace);
        const auto detect_end = std::chrono::steady_clock::now();
        const double detect_ms = std::chrono::duration<double, std::milli>(detect_end - detect_begin).count();
        nlohmann::ordered_json record = frame_record(source, index, analysis, analysis_ms, detection, detect_ms);
        apply_record_step(run.record_step, detection, index, timestamp_s, record);
        write_record(run, record_line(record));
    } else {
        write_record(run, console_bytes(depth, analysis, run.encoding));
    }

    if (!options.views_dir.empty()) {
        const std::string path =
            joined(options.views_dir, unique_view_name(run, view_name, index));
        DepthViews& views = make_depth_views_fast(depth, run.workspace.views);
        save_file(run, path, write_png(path, draw_result_overlay(views.colour_view, analysis)),
                  run.view_failure_said);
    }
    count_analysed(run.tally, analysis.outcome, analysis_ms);
}

void scan_files(ScanRun& run)
{
    const std::vector<InputFile> files = list_input_files(run.options.inputs);
    const std::uint64_t limit = run.options.frame_limit;
    run.frames_expected = limit > 0 && limit < files.size() ? limit : files.size();
    for (std::uint64_t i = 0; i < run.frames_expected; ++i) {
        if (*run.stop_requested != 0 || run.output_failed) break;
        const InputFile& file = files[i];
        const sim::DepthPngRead read = file.error.empty() ? sim::read_depth_png(file.path)
                                                           : sim::DepthPngRead{{}, file.error};
        if (!read.error.empty()) {
            ++run.tally.failed_inputs;
            report_problem(run, "pallet_scan: " + file.path + ": " + read.error + ", skipped");
        } else {
            scan_depth_image(run, read.depth, file.path, i + 1, view_name_for(file.path));
        }
        ++run.frames_done;
        update_progress(run);
    }
}
