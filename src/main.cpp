// pallet_detector: watches the depth camera and analyses every depth frame until 'q' is pressed.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>

#include <opencv2/highgui.hpp>
#include <unistd.h>

#include "analysis/process_depth_frame.hpp"
#include "camera/camera.hpp"
#include "console.hpp"

namespace {

volatile std::sig_atomic_t stop_requested = 0;  // set by Ctrl-C or SIGTERM

void request_stop(int)
{
    stop_requested = 1;
}

// Runs passes until 'q' or a stop signal; stops the pipeline exactly once, in the last pass.
void run_frame_loop(kv3::pipeline& pipeline, kv3::kv3_error& error)
{
    bool unusable_frame_reported = false;
    AnalysisWorkspace workspace;  // the analysis' scratch space, reused by every frame
    bool quit = false;
    while (!quit) {
        kv3::frame_set* frames = wait_for_frame_set(pipeline, error);
        if (frames != nullptr) {
            process_depth_frame(depth_frame_of(*frames), "DEPTH", workspace, unusable_frame_reported);
            delete_frame_set(frames);
        }
        const int key = cv::waitKey(1);
        if (is_quit_key(key) || stop_requested != 0) {
            stop_streaming(pipeline, error);
            quit = true;
        }
    }
}

}  // namespace

int main()
{
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);

    kv3::kv3_error error{};
    std::printf("version:%s \n", camera_sdk_version(error));
    kv3::context* context = open_camera(error);
    if (camera_failed(error)) {
        std::printf("error:%s \n", camera_error_text(error));
        return 1;
    }
    kv3::pipeline* pipeline = start_depth_streaming(context, error);

    if (!display_available()) {
        std::cerr << "pallet_detector: the DEPTH window needs a graphical session; "
                     "run it inside one, or under xvfb-run for a virtual one" << std::endl;
        stop_streaming(*pipeline, error);
        return 1;
    }

    run_frame_loop(*pipeline, error);
    if (stop_requested != 0) {
        return 130;
    }
    pause_console(std::cout, STDIN_FILENO);
    return 0;
}
