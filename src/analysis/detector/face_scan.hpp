// Step 2: the candidate faces, from the whole image: the nearest points at pallet heights seen from
// above as a scan in the floor plane, split into straight runs.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_geometry.hpp"
#include "analysis/detector/floor_frame.hpp"

// A straight run of the scan: the line through its points and how far it reaches along it.
struct FaceCandidate {
    Line line;
    double left = 0.0;    // along the line, its ends
    double right = 0.0;
    double range = 0.0;   // its middle's distance from the camera in the floor plane
    int columns = 0;      // image columns that see it
};

// The scan's buffers, reused from frame to frame.
struct ScanScratch {
    std::vector<float> column_u;
    std::vector<std::int32_t> nearest_key;
    std::vector<double> nearest_r2, nearest_x, nearest_y;
    std::vector<Eigen::Vector3d> points;     // (x, y, range) of the columns with a point, left to right
    std::vector<int> point_column;
    std::vector<double> values;
    std::vector<std::pair<std::size_t, std::size_t>> chains, runs;  // [first, last) into points
    std::vector<std::pair<std::size_t, std::size_t>> pending, done, spans;
    std::vector<FaceCandidate> joined;
};

// The candidates of a 480 x 640 CV_16UC1 depth image above the given floor, nearest first, at most
// params.max_candidates, into `candidates`.
void find_candidates(const cv::Mat& depth, const FloorFrame& floor, const DetectorParams& params,
                     ScanScratch& scratch, std::vector<FaceCandidate>& candidates);
