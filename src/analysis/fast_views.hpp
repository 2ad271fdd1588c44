// The depth view and its colour map in their fast form: the library's bytes, looked up.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

struct DepthViews {
    cv::Mat depth_view;   // make_depth_view(depth), CV_8UC1
    cv::Mat colour_view;  // applyColorMap(depth_view, COLORMAP_JET), CV_8UC3: the result view's base
};

// The fast views' space, kept from frame to frame: the views are drawn into it, so that a frame
// neither allocates nor first touches their megabyte again.
struct ViewScratch {
    DepthViews views;
    std::vector<std::uint8_t> grey_levels;  // the grey level of each depth value of the frame
};

// Both views of a CV_16UC1 image, byte for byte those of the library: the library scales the
// frame's range of values once into scratch.grey_levels, and each pixel looks up its grey level
// there and that level's colour in the library's colour table. Returns scratch.views, which the
// next call with the same scratch overwrites (whoever keeps a view clones it).
DepthViews& make_depth_views_fast(const cv::Mat& depth, ViewScratch& scratch);
