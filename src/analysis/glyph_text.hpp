// Text drawn from cached glyph pixel sets: cv::putText's arguments, cv::putText's pixels.
#pragma once

#include <string>

#include <opencv2/core.hpp>

// Draws text exactly as cv::putText(image, text, origin, font_face, font_scale, colour, thickness,
// line_type, bottom_left_origin) draws it. For 8-bit images of 1 or 3 channels, LINE_4 or LINE_8,
// thickness 1..32 and printable ASCII, each glyph's pixel set is rendered once per thread (by
// cv::putText into a scratch image) for its style and the sub-pixel fraction of its x, then
// stamped; glyphs near or beyond the image's border are drawn by cv::putText in place. Anything
// else goes to cv::putText. The per-thread cache is bounded and cleared when full.
void put_text_cached(cv::Mat& image, const std::string& text, cv::Point origin, int font_face,
                     double font_scale, const cv::Scalar& colour, int thickness, int line_type,
                     bool bottom_left_origin);
