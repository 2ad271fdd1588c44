// pallet_scan: the pallet analysis without windows, on recorded depth frames or the live camera.
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "analysis/vehicle_frame.hpp"
#include "tools/scan_camera.hpp"
#include "console.hpp"
#include "tools/scan_inputs.hpp"
#include "tools/pallet_types_option.hpp"
#include "tools/scan_options.hpp"
#include "tools/scan_run.hpp"
#include "tools/stop_signal.hpp"

namespace {

const char* const tool = "pallet_scan";

// A closed standard stream gets /dev/null, so that no file opened later takes its number:
// records meant for a closed standard output would land in a recorded frame. Standard output
// is opened for reading only, so writing records to it fails as it should.
void fill_closed_standard_streams()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == STDERR_FILENO ? O_WRONLY : O_RDONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

// Opens --output for the records; sets error (with the system's reason) when it cannot.
int open_output(const std::string& path, std::string& error)
{
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR && stop_requested == 0);  // a pipe waits for its reader
    if (fd < 0 && stop_requested == 0)
        error = path + ": cannot open for writing: " +
                std::error_code(errno, std::generic_category()).message();
    return fd;
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
    const Parsed<ScanOptions> parsed = parse_scan_options(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> status = stop_after_parse(parsed.result, tool, scan_usage(), std::cout, std::cerr))
        return *status;

    fill_closed_standard_streams();
    catch_stop_signals();
    ScanRun run;
    run.options = parsed.options;
    if (!run.options.pallet_types_path.empty()) {
        std::string types_error;
        const std::optional<std::vector<PalletType>> types =
            pallet_types_of_option(run.options.pallet_types_path, types_error);
        if (!types) return report_usage_error(std::cerr, tool, types_error);
        run.pallet_types = *types;
    }
    if (!run.options.mount_path.empty()) {
        std::string mount_error;
        run.record_step.mount = load_camera_mount(run.options.mount_path, depth_camera_view(), mount_error);
        if (!run.record_step.mount) return report_usage_error(std::cerr, tool, "--mount " + mount_error);
    }
    run.record_step.track = run.options.track || run.options.camera;
    run.detector.explain = run.options.explain;
    const std::string dir_error = prepare_output_dirs(run.options);
    if (!dir_error.empty()) return report_usage_error(std::cerr, tool, dir_error);
    if (!run.options.output_path.empty()) {
        std::string output_error;
        run.out_fd = open_output(run.options.output_path, output_error);
        if (stop_requested != 0) return 130;
        if (run.out_fd < 0) return report_usage_error(std::cerr, tool, output_error);
    }
    run.messages = &std::cerr;
    run.encoding = console_text_encoding();
    run.stop_requested = &stop_requested;
    run.show_progress = isatty(STDERR_FILENO) == 1;

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
