// The depth view and the result view in their fast form: the same bytes as make_depth_view and
// draw_result_view, with the per-pixel work done through lookup tables that the library itself
// fills.
#pragma once

#include <opencv2/core.hpp>

#include "analysis/frame_analysis.hpp"

// make_depth_view(depth), byte for byte: the min-max scaling is done by the library on the
// frame's range of values only and then looked up per pixel.
cv::Mat fast_depth_view(const cv::Mat& depth);

// draw_result_view(depth_view, analysis), byte for byte: the colour map is looked up per pixel
// from a 256-entry table that the library makes.
cv::Mat fast_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis);

// The depth view and its colour-mapped form (JET, CV_8UC3) in one pass over the depth image:
// make_depth_view(depth) and applyColorMap of it, byte for byte.
struct FastViews {
    cv::Mat depth_view;
    cv::Mat colour_view;
};
FastViews fast_views(const cv::Mat& depth);

// draw_result_view(views.depth_view, analysis), byte for byte, drawn on views.colour_view itself
// (which it returns): call it once per FastViews.
cv::Mat fast_result_view(FastViews& views, const FrameAnalysis& analysis);
