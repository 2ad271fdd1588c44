// The result view and the console report of one analysed frame.
#pragma once

#include <iosfwd>

#include <opencv2/core.hpp>

#include "analysis/frame_analysis.hpp"

// How the Chinese texts are written: UTF-8, or the GBK bytes.
enum class TextEncoding { utf8, gbk };

// The encoding for a console whose character type has this codeset (as nl_langinfo(CODESET)
// names it): GBK for GBK and GB18030, UTF-8 for everything else (UTF-8, C/POSIX's ANSI_X3.4-1968).
TextEncoding encoding_for_codeset(const char* codeset);

// Writes the outcome line, or the whole pose report, each line ended by '\n' and a flush.
void write_report(std::ostream& out, const FrameAnalysis& analysis, TextEncoding encoding);

// The colour-mapped depth view with the ground patch box, the reference dot and, for a pallet,
// its boxes and the position and angle texts (CV_8UC3).
cv::Mat draw_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis);
