// pallet_calibrate: the camera's mount on the vehicle measured from frames of open floor and of a
// pallet placed square ahead; writes the mount file.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "analysis/depth_intake.hpp"
#include "analysis/vehicle_frame.hpp"
#include "camera/camera.hpp"
#include "camera/camera_stream_end.hpp"
#include "camera/depth_image.hpp"
#include "sim/depth_png.hpp"
#include "tools/calibrate_mount.hpp"
#include "tools/calibrate_options.hpp"
#include "tools/calibrate_output.hpp"
#include "tools/stop_signal.hpp"

namespace {

// Exit statuses, as the README lists them.
constexpr int status_written = 0;
constexpr int status_failed = 1;     // the camera cannot be started, or the file not written
                                     // (2: a usage error, tools/parsed.hpp's usage_status)
constexpr int status_no_floor = 3;
constexpr int status_no_pallet = 4;
constexpr int status_stopped = 130;

// The frames of the inputs: each file in turn, the files of a folder in name order.
void read_files(const CalibrateOptions& options, CalibrationFrames& frames, DetectorWorkspace& workspace)
{
    std::vector<std::string> files;
    for (const std::string& input : options.inputs) {
        std::error_code ec;
        const std::vector<std::string> listed = sim::depth_png_files(input, ec);
        if (!ec && !listed.empty()) {
            files.insert(files.end(), listed.begin(), listed.end());
        } else if (!ec) {
            std::cerr << "pallet_calibrate: " << input << ": the folder holds no .png file, skipped" << std::endl;
            ++frames.unreadable;
        } else {
            files.push_back(input);  // not a folder: read as a file, which says what is wrong with it
        }
    }
    const PalletTarget* target = options.target ? &*options.target : nullptr;
    for (const std::string& file : files) {
        if (stop_requested != 0) return;
        if (options.frame_limit != 0 && frames.frames + frames.unreadable >= options.frame_limit) return;
        const sim::DepthPngRead read = sim::read_depth_png(file);
        if (!read.error.empty()) {
            std::cerr << "pallet_calibrate: " << file << ": " << read.error << ", skipped" << std::endl;
            ++frames.unreadable;
            continue;
        }
        add_calibration_frame(frames, read.depth, target, workspace);
    }
}

// The camera's frames until --frames, the end of the stream or a stop request. Returns the error
// text when the camera cannot be started.
std::string read_camera(const CalibrateOptions& options, CalibrationFrames& frames, DetectorWorkspace& workspace)
{
    kv3::kv3_error error{};
    const kv3::context* context = open_camera(error);
    if (camera_failed(error)) return camera_error_text(error);
    kv3::pipeline* pipeline = start_depth_streaming(context, error);
    if (camera_failed(error)) return camera_error_text(error);
    const PalletTarget* target = options.target ? &*options.target : nullptr;
    std::uint64_t sets = 0;
    while (stop_requested == 0 && sets < options.frame_limit) {
        kv3::frame_set* set = wait_for_frame_set(*pipeline, error);
        if (set == nullptr) {
            if (camera_stream_ended(error)) break;
            continue;
        }
        ++sets;
        const kv3::depth_frame* frame = depth_frame_of(*set);
        const cv::Mat depth = frame != nullptr ? depth_image_of(*frame) : cv::Mat();
        if (depth.rows == depth_rows && depth.cols == depth_cols && depth.type() == CV_16UC1) {
            add_calibration_frame(frames, depth, target, workspace);
        } else {
            ++frames.unreadable;  // no depth frame, or not 640 x 480
        }
        delete_frame_set(set);
    }
    stop_streaming(*pipeline, error);
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    const Parsed<CalibrateOptions> parsed = parse_calibrate_options(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> status =
            stop_after_parse(parsed.result, "pallet_calibrate", calibrate_usage(), std::cout, std::cerr))
        return *status;
    const CalibrateOptions& options = parsed.options;
    catch_stop_signals();

    CalibrationFrames frames;
    DetectorWorkspace workspace;
    if (options.camera) {
        const std::string camera_error = read_camera(options, frames, workspace);
        if (!camera_error.empty()) {
            std::cerr << "pallet_calibrate: the camera cannot be started: " << camera_error << std::endl;
            return status_failed;
        }
    } else {
        read_files(options, frames, workspace);
    }
    if (stop_requested != 0) {
        std::cerr << "pallet_calibrate: stopped; no mount written" << std::endl;
        return status_stopped;
    }

    const PalletTarget* target = options.target ? &*options.target : nullptr;
    const MountCalibration calibration = calibrate_mount(frames, target, options.given);
    std::cout << calibration_report(frames, calibration, target != nullptr) << std::flush;
    if (calibration.status != CalibrationStatus::calibrated) {
        std::cerr << "pallet_calibrate: " << calibration_failure(frames, calibration) << std::endl;
        return calibration.status == CalibrationStatus::no_floor ? status_no_floor : status_no_pallet;
    }
    const std::string problem = camera_mount_problem(calibration.mount, depth_camera_view());
    if (!problem.empty()) {
        std::cerr << "pallet_calibrate: no mount written: the measured mount is refused: " << problem << std::endl;
        return status_failed;
    }
    const std::string write_error = write_file_atomically(options.output_path, camera_mount_text(calibration.mount));
    if (!write_error.empty()) {
        std::cerr << "pallet_calibrate: " << write_error << std::endl;
        return status_failed;
    }
    std::cout << "wrote " << options.output_path << std::endl;
    return status_written;
}
