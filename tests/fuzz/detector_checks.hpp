// The pallet detector on generated frames: the evaluation's scenes with the frame generator's
// edits, floors seen at any tilt and roll, and the stage targets' frames, each checked for a
// verdict and for pallets whose every number is finite or documented as not measured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/detect_pallets.hpp"

// A 480 x 640 CV_16UC1 frame. The first byte picks the kind: below 128 one of the detector's
// evaluation scenes (rendered once, the next byte says which) with the frame generator's edits
// (apply_depth_edits); 128 to 199 a floor plane from a mount the bytes choose (height 20 to
// 2500 mm, pitch -60 to 80 degrees, roll -90 to 90) with those edits; from 200 the band mask
// target's frames (generate_band_frame). The same bytes give the same frame; every byte string
// gives one.
cv::Mat generate_detector_frame(const std::uint8_t* data, std::size_t size);

// What is wrong with a detection, empty when nothing is: each pallet has the verdict pallet or
// unknown_type, a found floor, a face, and every number finite except what dock_pose.hpp lets be
// NaN (an end that is not measured, with the width); dock_of gives a verdict with a reason.
std::string detection_problem(const Detection& detection);

// Seeds that reach each kind of frame.
std::vector<std::vector<std::uint8_t>> detector_frame_seeds();
