// Step 1: the floor, fitted robustly over the measured pixels of the whole image.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/floor_frame.hpp"
#include "analysis/dock_pose.hpp"

// The floor of a 480 x 640 CV_16UC1 depth image: RANSAC over a grid of measured pixels, each
// sample three pixels near each other, then least squares over the inliers; a lower parallel
// plane with enough support beats the best one (a deck or a load's top close to the camera).
// Assumes the camera above a floor it looks roughly along (the normal within
// floor_max_tilt_deg of the camera's up). Not found: floor.found false, frame meaningless.
// `points` is scratch; `random` the state of the seeded samples.
DockFloor fit_floor(const cv::Mat& depth, const DetectorParams& params,
                    std::vector<Eigen::Vector3d>& points, std::uint64_t& random, FloorFrame& frame);
