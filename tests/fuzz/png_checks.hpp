// A file's bytes read as a depth frame the two ways the project reads one: pallet_scan's input
// reader (tools/scan_inputs.hpp) and the stand-in camera's replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

// The stand-in camera's reader of one replay file (replay_reader.cpp).
std::optional<cv::Mat> read_replay_frame(const std::string& path);

// Writes the bytes to path and reads them both ways. Empty when each reader either refuses the
// file (pallet_scan with a reason) or gives a 480 x 640 CV_16UC1 frame, and, for a file that
// starts with the PNG signature, both accept it or both refuse it, with the same pixels;
// otherwise what is wrong.
std::string check_png_bytes(const std::uint8_t* data, std::size_t size, const std::string& path);
