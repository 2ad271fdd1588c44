// The result view and the console report of one analysed frame.
#pragma once

#include <iosfwd>
#include <string>

#include <opencv2/core.hpp>

#include "analysis/frame_analysis.hpp"

// How the Chinese texts are written: UTF-8, or the GBK bytes.
enum class TextEncoding { utf8, gbk };

// The encoding for a console whose character type has this codeset (as nl_langinfo(CODESET)
// names it, any case): GBK for GBK, GB18030 and GB2312 (a subset of GBK), UTF-8 for everything
// else (UTF-8, C/POSIX's ANSI_X3.4-1968, a null codeset).
TextEncoding encoding_for_codeset(const char* codeset);

// Writes the outcome line, or the whole pose report, each line ended by '\n' and a flush.
void write_report(std::ostream& out, const FrameAnalysis& analysis, TextEncoding encoding);

// The colour-mapped depth view with the ground patch box, the reference dot and, for a pallet,
// its boxes and the position and angle texts (CV_8UC3).
cv::Mat draw_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis);

// The ground patch box, the reference dot and, for a pallet, its boxes and texts, drawn in place
// on a colour-mapped view (CV_8UC3) as draw_result_view draws them; returns result_view.
cv::Mat draw_result_overlay(cv::Mat& result_view, const FrameAnalysis& analysis);

// "X:%f Y:%f Z:%f" of the centre point (mm), as drawn on the result view.
std::string position_text(const cv::Point3d& centre_point);

// "yaw:%f pitch:%f roll:%f" of the angles (degrees), as drawn on the result view.
std::string angle_text(const RotationAngles& angles);

// The corner rounded to the nearest pixel, halfway values to the even neighbour.
cv::Point rounded_corner(const cv::Point2f& corner);

// Four white lines, corner k to corner (k + 1) % 4, thickness 2.
void draw_box(cv::Mat& result_view, const BoxCorners& corners);
