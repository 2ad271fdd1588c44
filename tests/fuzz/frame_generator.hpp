// Fuzz bytes turned into a 640 x 480 depth frame: a rendered scene (floor from a low camera tilted
// up, a pallet, boxes and walls at many distances) or a plain base, then edits that the renderer
// never makes: constant-depth rectangles and ground patches, holes, the extreme values 1 and
// 65535, and raw bytes as pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

class ByteReader;

// The same bytes give the same frame; every byte string gives a frame (missing bytes read as 0).
cv::Mat generate_depth_frame(const std::uint8_t* data, std::size_t size);

// The generator's edits applied to a 480 x 640 CV_16UC1 frame in place: a noise word, then up to
// `most` edits (regions of one depth, holes, the ground patch at one depth, scattered extreme
// pixels, raw pixels, ramps, the whole frame offset), as long as bytes are left.
void apply_depth_edits(ByteReader& in, cv::Mat& depth, int most);

// Generator inputs that reach each kind of frame: the seed corpus of the frames target.
std::vector<std::vector<std::uint8_t>> frame_generator_seeds();
