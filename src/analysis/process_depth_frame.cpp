#include "analysis/process_depth_frame.hpp"

#include <iostream>

#include <opencv2/core.hpp>
#include <opencv2/highgui.hpp>
#include <unistd.h>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_views.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/result_report.hpp"
#include "camera/depth_image.hpp"
#include "console.hpp"

namespace {

bool is_analysable(const cv::Mat& depth)
{
    return !depth.empty() && depth.rows == depth_rows && depth.cols == depth_cols;
}

void report_unusable_frame(const cv::Mat& depth)
{
    std::cerr << "pallet_detector: skipping depth frames ";
    if (depth.empty()) {
        std::cerr << "without data";
    } else {
        std::cerr << "of " << depth.cols << " x " << depth.rows;
    }
    std::cerr << "; only 640 x 480 frames are analysed (said once)" << std::endl;
}

// The road of one 640 x 480 depth image.
void process_depth_image(const cv::Mat& depth, const char* title, AnalysisWorkspace& workspace)
{
    write_probe(std::cout, depth);
    // make_depth_view(depth) and its colour map, the result view's base, byte for byte
    DepthViews& views = make_depth_views_fast(depth, workspace.views);
    cv::namedWindow(title, cv::WINDOW_NORMAL);
    cv::imshow(title, views.depth_view);
    const FrameAnalysis analysis = analyse_depth(depth, workspace);
    write_report(std::cout, analysis, console_text_encoding());
    cv::imshow("result", draw_result_overlay(views.colour_view, analysis));  // no namedWindow
}

}  // namespace

void process_depth_frame(const kv3::depth_frame* frame, const char* title,
                         AnalysisWorkspace& workspace, bool& unusable_frame_reported)
{
    if (frame != nullptr) {
        const cv::Mat depth = depth_image_of(*frame);  // the frame's buffer, no copy
        if (is_analysable(depth)) {
            process_depth_image(depth, title, workspace);
        } else if (!unusable_frame_reported) {
            report_unusable_frame(depth);
            unusable_frame_reported = true;
        }
    }
    clear_console(std::cout, STDOUT_FILENO);
}
