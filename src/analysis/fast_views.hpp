// The depth view and its colour map in their fast form: the library's bytes, looked up.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

struct DepthViews {
    cv::Mat depth_view;   // make_depth_view(depth), CV_8UC1
    cv::Mat colour_view;  // applyColorMap(depth_view, COLORMAP_JET), CV_8UC3: the result view's base
};

// Both views of a CV_16UC1 image in one pass, byte for byte those of the library: the library
// scales the frame's range of values once into grey_levels (its storage is reused), and each
// pixel looks up its grey level there and that level's colour in the library's colour table.
DepthViews make_depth_views_fast(const cv::Mat& depth, std::vector<std::uint8_t>& grey_levels);
