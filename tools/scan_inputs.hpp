// The files pallet_scan reads and writes: input discovery, 16-bit PNG depth frames, output folders.
// The frames themselves are read by sim::read_depth_png, as the stand-in camera's replay reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

// One input path as pallet_scan will read it; `error` is set when the path already failed
// (an unreadable folder, a folder without PNG files), and the path is then only reported.
struct InputFile {
    std::string path;
    std::string error;
};

// Expands the command-line inputs: a folder becomes the entries that the stand-in camera's replay
// would play from it (names ending in ".png", folders left out, a pipe or a broken link kept so
// that reading it reports it), sorted by file name; anything else stays as given, to be checked
// when it is read.
std::vector<InputFile> list_input_files(const std::vector<std::string>& inputs);

// Writes a CV_16UC1 image as a 16-bit grey PNG; returns the error text, empty on success. Like
// write_png, it leaves no partial file behind.
std::string write_depth_png(const std::string& path, const cv::Mat& depth);

// Encodes any image as a PNG into bytes; returns the error text, empty on success.
std::string encode_png(const cv::Mat& image, std::vector<unsigned char>& bytes);

// Writes any image as a PNG; returns the error text, empty on success.
std::string write_png(const std::string& path, const cv::Mat& image);

// Creates the folder and its parents when missing; returns the error text when the path is
// not a writable folder, empty when it is.
std::string prepare_output_dir(const std::string& dir);

// "frame_000042.png" for index 42: name order is index order up to 999999.
std::string indexed_frame_name(std::uint64_t index);

// The result view's file name for an input file: its name with the extension ".png".
std::string view_name_for(const std::string& input_path);
