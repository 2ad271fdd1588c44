// pallet_scan: the pallet analysis without windows, on recorded depth frames or the live camera.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "tools/scan_camera.hpp"
#include "console.hpp"
#include "tools/scan_inputs.hpp"
#include "tools/scan_options.hpp"
#include "tools/scan_run.hpp"

namespace {

volatile std::sig_atomic_t stop_requested = 0;  // set by Ctrl-C or SIGTERM

extern "C" void request_stop(int)
{
    stop_requested = 1;
}

int usage_error(const std::string& text)
{
    std::cerr << "pallet_scan: " << text << "\nTry 'pallet_scan --help'." << std::endl;
    return 2;
}

// Creates the output folders; the text of the first that is unusable, empty when all are fine.
std::string prepare_output_dirs(const ScanOptions& options)
{
    for (const std::string* dir : {&options.views_dir, &options.record_dir}) {
        if (dir->empty()) continue;
        const std::string error = prepare_output_dir(*dir);
        if (!error.empty()) return *dir + ": " + error;
    }
    std::error_code ec;
    if (!options.views_dir.empty() && !options.record_dir.empty() &&
        std::filesystem::equivalent(options.views_dir, options.record_dir, ec))
        return "--save-views and --record need two folders: a view would replace a frame";
    return {};
}

bool any_failure(const ScanTally& tally)
{
    return tally.failed_inputs > 0 || tally.failed_writes > 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const ParsedOptions parsed = parse_scan_options(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.options.help) {
        std::cout << scan_usage();
        return 0;
    }
    if (!parsed.error.empty()) return usage_error(parsed.error);

    ScanRun run;
    run.options = parsed.options;
    const std::string dir_error = prepare_output_dirs(run.options);
    if (!dir_error.empty()) return usage_error(dir_error);
    std::ofstream output_file;
    if (!run.options.output_path.empty()) {
        output_file.open(run.options.output_path, std::ios::binary | std::ios::trunc);
        if (!output_file) return usage_error(run.options.output_path + ": cannot open for writing");
    }
    run.out = output_file.is_open() ? static_cast<std::ostream*>(&output_file) : &std::cout;
    run.messages = &std::cerr;
    run.encoding = console_text_encoding();
    run.stop_requested = &stop_requested;
    run.show_progress = isatty(STDERR_FILENO) == 1;

    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe shows as a failed write, not a dead process

    if (run.options.camera) {
        const std::string camera_error = scan_camera(run);
        if (!camera_error.empty()) {
            std::cerr << "pallet_scan: the camera cannot be started: " << camera_error << std::endl;
            return 1;
        }
    } else {
        scan_files(run);
    }
    clear_progress(run);
    std::cerr << summary_text(run.tally) << std::flush;

    if (stop_requested != 0) return 130;
    if (run.output_failed || any_failure(run.tally)) return 1;
    return 0;
}
