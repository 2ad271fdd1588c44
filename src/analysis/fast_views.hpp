// The depth view and the result view in their fast form: the same bytes as make_depth_view and
// draw_result_view, with the per-pixel work done through lookup tables that the library itself
// fills, or by arithmetic checked against those tables over the frame's whole range of values.
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

// The colour-mapped form alone: applyColorMap(make_depth_view(depth), JET), byte for byte, for
// callers that do not show the grey view. Like fast_views, it takes a CV_16UC1 image of any size.
cv::Mat fast_colour_view(const cv::Mat& depth);

// Which form of the view pass runs: AVX-512 (with BW and VBMI) where the processor has it, else
// AVX2 with FMA, else the portable one (automatic); or one form forced, to compare them. Every
// form gives the same bytes. Forcing a form this processor cannot run throws cv::Exception.
enum class ViewPass { automatic, portable, avx2, avx512 };
bool view_pass_available(ViewPass pass);

// How the vector passes get a pixel's grey level: computed where that gives the library's byte
// for every value of the frame's range and looked up in the library's table otherwise
// (automatic), or always looked up, to compare both ways. The portable pass always looks up.
enum class GreyLevels { automatic, looked_up };

FastViews fast_views(const cv::Mat& depth, ViewPass pass, GreyLevels levels = GreyLevels::automatic);
cv::Mat fast_colour_view(const cv::Mat& depth, ViewPass pass, GreyLevels levels = GreyLevels::automatic);

// draw_result_view(views.depth_view, analysis), byte for byte, drawn on views.colour_view itself
// (which it returns): call it once per FastViews.
cv::Mat fast_result_view(FastViews& views, const FrameAnalysis& analysis);

// draw_result_view(make_depth_view(depth), analysis), byte for byte, without the grey view: for
// callers that show or save only the result view.
cv::Mat fast_result_view_of_depth(const cv::Mat& depth, const FrameAnalysis& analysis);

// The fast result views draw their texts with put_text_cached (analysis/glyph_text.hpp): the
// library's own pixels, from glyphs it drew once.
