// pallet_eval: how far the reported pose can be trusted. Renders a sweep of pallet scenes with
// known ground truth, runs the analysis on each and writes the errors, a summary and plots.
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "tools/eval_detect_run.hpp"
#include "tools/eval_options.hpp"
#include "tools/eval_report.hpp"
#include "tools/eval_sequences.hpp"
#include "tools/eval_stats.hpp"
#include "tools/eval_sweep.hpp"
#include "tools/pallet_types_option.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void print_headline(const std::vector<SceneResult>& results, double seconds)
{
    const BinSummary b = summarise(all_of(results), 0.0);
    std::printf("%zu scenes in %.1f s: pallet found in %zu (%.1f %%), no pallet %zu, no contour %zu\n",
                b.scenes, seconds, b.found, b.scenes ? 100.0 * b.found / b.scenes : 0.0, b.no_pallet,
                b.no_contour);
    std::printf("centre |error| p50/p95 mm: x %.1f/%.1f  y %.1f/%.1f  z %.1f/%.1f; centre misses %zu\n",
                b.centre_abs_p50[0], b.centre_abs_p95[0], b.centre_abs_p50[1], b.centre_abs_p95[1],
                b.centre_abs_p50[2], b.centre_abs_p95[2], b.centre_misses);
    std::printf("normal error p50/p95: %.2f/%.2f degrees\n", b.normal_p50, b.normal_p95);
}

void print_dock_headline(const std::vector<SceneResult>& results, const std::vector<SceneResult>& empty)
{
    std::vector<const SceneResult*> envelope;
    for (const SceneResult& r : results) {
        if (in_working_envelope(r.params)) envelope.push_back(&r);
    }
    const DockBin b = summarise_dock(envelope, 0.0);
    std::printf("dock, working envelope (%zu scenes): pallet %.1f %%, false %zu; centre |error| p50/p95 mm: "
                "x %.1f/%.1f  y %.1f/%.1f  z %.1f/%.1f; yaw %.2f/%.2f degrees; pockets %.1f/%.1f mm\n",
                b.scenes, b.scenes ? 100.0 * b.pallets / b.scenes : 0.0, b.false_pallets, b.centre_p50[0],
                b.centre_p95[0], b.centre_p50[1], b.centre_p95[1], b.centre_p50[2], b.centre_p95[2],
                b.yaw_p50, b.yaw_p95, b.pocket_p50, b.pocket_p95);
    std::size_t no_pallet = 0;
    for (const SceneResult& r : empty) no_pallet += r.dock.verdict == DockVerdict::no_pallet;
    std::printf("dock, floor alone: no pallet in %zu of %zu scenes\n", no_pallet, empty.size());
}

// The approach sequences and the mount calibrations: their section of summary.md (after the
// sweep's, or alone), their plots and their lines on standard output.
void run_sequences(const EvalOptions& options, int threads, bool after_sweep)
{
    const auto start = std::chrono::steady_clock::now();
    const SequenceEval eval = evaluate_sequences(options.sequence_seeds, options.seed, threads);
    const SequenceFiles files = write_sequence_outputs(options.out_dir, eval, after_sweep);
    std::printf("sequences and calibrations in %.1f s: wrote %s and %zu plots\n", seconds_since(start),
                files.summary.c_str(), files.plots.size());
    if (files.plots.empty()) std::cerr << "pallet_eval: sequence plots skipped: " << files.plots_skipped << "\n";
    std::fputs(sequence_headline(eval).c_str(), stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    // Each scene allocates and frees several point lists of some megabytes. Above the default
    // threshold every one is a fresh mmap whose pages fault in again, which cost more than the
    // analysis itself: keep freed memory in the heap for the next scene instead.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    const Parsed<EvalOptions> parsed = parse_eval_options(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> status =
            stop_after_parse(parsed.result, "pallet_eval", eval_usage(), std::cout, std::cerr))
        return *status;
    const EvalOptions& options = parsed.options;
    std::string types_error;
    const std::optional<std::vector<PalletType>> types = pallet_types_of_option(options.pallet_types_path, types_error);
    if (!types) return report_usage_error(std::cerr, "pallet_eval", types_error);
    const DetectPlan detect = detect_plan(options);
    const std::vector<SceneParams> scenes = sweep_scenes(options.axes);
    const std::vector<SceneParams> floor_scenes = empty_scenes(options.axes, options.empty);
    const int threads = options.threads > 0
                            ? options.threads
                            : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const auto start = std::chrono::steady_clock::now();
    const auto progress = [&](std::size_t done, std::size_t total) {
        std::fprintf(stderr, "\r\033[Kpallet_eval: %zu/%zu scenes, %.0f s", done, total, seconds_since(start));
        std::fflush(stderr);
    };
    try {
        make_output_folder(options.out_dir);  // before the sweep, not after minutes of it
        if (options.sequences == SequenceRuns::only) {
            run_sequences(options, threads, false);
            return 0;
        }
        const std::vector<SceneResult> results =
            run_sweep(scenes, options.seed, threads, terminal ? std::function<void(std::size_t, std::size_t)>(progress) : nullptr);
        const std::vector<SceneResult> empty = run_sweep(floor_scenes, options.seed, threads, nullptr);
        if (terminal) std::fputs("\n", stderr);
        const double seconds = seconds_since(start);
        const OutputFiles files = write_outputs(options.out_dir, results, options.seed, empty);
        std::printf("wrote %s and %s\n", files.csv.c_str(), files.summary.c_str());
        if (files.plots.empty()) {
            std::cerr << "pallet_eval: plots skipped: " << files.plots_skipped << "\n";
        } else {
            std::printf("wrote %zu plots in %s\n", files.plots.size(), options.out_dir.c_str());
        }
        print_headline(results, seconds);
        print_dock_headline(results, empty);
        if (detect.scenes > 0) {
            const auto detect_progress = [&](const std::string& label, std::size_t done, std::size_t total) {
                std::fprintf(stderr, "\r\033[Kpallet_eval: detector, %s: %zu/%zu frames, %.0f s", label.c_str(), done,
                             total, seconds_since(start));
                std::fflush(stderr);
            };
            const DetectResults detected = run_detect_plan(detect, options.seed, *types, threads,
                                                           terminal ? DetectProgress(detect_progress) : nullptr);
            if (terminal) std::fputs("\n", stderr);
            const DetectOutputs detect_files =
                write_detect_outputs(options.out_dir, detected.sets, detected.effects, options.seed);
            std::printf("wrote %s and %s\n", detect_files.csv.c_str(), detect_files.summary.c_str());
            if (detect_files.plots.empty()) {
                std::cerr << "pallet_eval: detector plots skipped: " << detect_files.plots_skipped << "\n";
            }
            write_detect_headline(std::cout, detected.sets);
            std::printf("detector scenes done at %.1f s\n", seconds_since(start));
        }
        if (options.sequences == SequenceRuns::on) run_sequences(options, threads, true);
    } catch (const std::exception& e) {
        if (terminal) std::fputs("\n", stderr);
        std::cerr << "pallet_eval: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
