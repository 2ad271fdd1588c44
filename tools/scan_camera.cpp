#include "tools/scan_camera.hpp"

#include "analysis/depth_intake.hpp"
#include "camera/camera.hpp"
#include "camera/camera_stream_end.hpp"
#include "camera/depth_image.hpp"
#include "tools/scan_inputs.hpp"

namespace {

// Which frames were already said to be skipped: each kind is reported once per run.
struct SkipNotes {
    bool without_depth = false;
    bool wrong_size = false;
};

void skip_frame(ScanRun& run, const cv::Mat& depth, std::uint64_t index, SkipNotes& notes)
{
    ++run.tally.frames_of_wrong_size;
    if (notes.wrong_size) return;
    notes.wrong_size = true;
    const std::string what = depth.empty() ? std::string(" has no depth data")
                                           : " is " + std::to_string(depth.cols) + " x " +
                                                 std::to_string(depth.rows);
    report_problem(run, "pallet_scan: camera frame " + std::to_string(index) + what +
                            "; frames that are not 640 x 480 are skipped (said once)");
}

// One frame set; `index` counts the sets from 1.
void scan_frame_set(ScanRun& run, kv3::frame_set& frames, std::uint64_t index, SkipNotes& notes)
{
    const kv3::depth_frame* frame = depth_frame_of(frames);
    if (frame == nullptr) {
        ++run.tally.frames_without_depth;
        if (!notes.without_depth) {
            notes.without_depth = true;
            report_problem(run, "pallet_scan: camera frame " + std::to_string(index) +
                                    " holds no depth frame; such frames are skipped (said once)");
        }
        return;
    }
    const cv::Mat depth = depth_image_of(*frame);  // the frame's buffer, valid with the set
    if (depth.empty() || depth.rows != depth_rows || depth.cols != depth_cols) {
        skip_frame(run, depth, index, notes);
        return;
    }
    scan_depth_image(run, depth, "camera", index, indexed_frame_name(index), frame_set_time_s(frames));
}

}  // namespace

std::string scan_camera(ScanRun& run)
{
    kv3::kv3_error error{};
    const kv3::context* context = open_camera(error);
    if (camera_failed(error)) return camera_error_text(error);
    kv3::pipeline* pipeline = start_depth_streaming(context, error);
    if (camera_failed(error)) return camera_error_text(error);

    SkipNotes notes;
    bool wait_failure_reported = false;
    std::uint64_t index = 0;
    while (*run.stop_requested == 0 && !run.output_failed &&
           (run.options.frame_limit == 0 || index < run.options.frame_limit)) {
        kv3::frame_set* frames = wait_for_frame_set(*pipeline, error);
        if (frames == nullptr) {
            if (camera_stream_ended(error)) break;
            if (!wait_failure_reported) {
                wait_failure_reported = true;
                report_problem(run, std::string("pallet_scan: no frame set from the camera (") +
                                        camera_error_text(error) + "); waiting on (said once)");
            }
            continue;
        }
        ++index;
        scan_frame_set(run, *frames, index, notes);
        delete_frame_set(frames);
        ++run.frames_done;
        update_progress(run);
    }
    stop_streaming(*pipeline, error);
    return {};
}
