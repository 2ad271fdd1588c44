// Step 4: the face line: where the candidate's vertical face meets the floor, fitted robustly to
// its points, with the points on it from one end of the face to the other.
#pragma once

#include <cstdint>
#include <vector>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_geometry.hpp"
#include "analysis/detector/face_scan.hpp"
#include "analysis/detector/floor_frame.hpp"

// The fitted face: its line, the robust spread of its points about it and the band that holds
// them, and its inliers (indices into the band points, in their row-major order, with their places
// along the line) from one end of the face to the other: the run of inliers without a gap of
// run_gap_mm (its top's points count too) that overlaps the candidate most.
struct FaceFit {
    Line line{0.0, 1.0, 0.0};
    double scale = 0.0;
    double inlier_band = 0.0;
    std::vector<std::uint32_t> inliers;
    std::vector<double> along;
    // How far the face's points read behind the line at each height: trend_at_75 + trend_slope *
    // (h - 75 mm). A vertical face reads a little long near the floor (light that bounced off it).
    double trend_at_75 = 0.0;
    double trend_slope = 0.0;
    double left = 0.0, right = 0.0;          // the outermost inliers' places
    double reach_left = 0.0, reach_right = 0.0;  // how far the run goes, its top's points included
    std::size_t left_index = 0, right_index = 0;  // into inliers
};

// The point's residual less the face's trend at its height: how far it lies behind the face itself.
inline double behind_face(const FaceFit& fit, const FacePoint& p)
{
    return residual(fit.line, p) - (fit.trend_at_75 + fit.trend_slope * (static_cast<double>(p.h) - 75.0));
}

struct FaceLineScratch {
    std::vector<FacePoint> near;
    std::vector<double> values, along;
    std::vector<int> bins;
};

// False (the fit's other fields then meaningless) when the line holds too few points (see
// face_min_inliers).
// The line: the nearest well-supported one among 32 two-point samples (scored by the points within
// 20 mm of it less those more than 20 mm in front of it, which a line through blocks seen through
// the openings has), then Tukey-reweighted least squares over the points of its run and of the
// candidate's extent.
// An inlier's place along the line is where its pixel's ray meets the line, free of its depth's
// noise.
bool fit_face_line(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper,
                   const FaceCandidate& candidate, const FloorFrame& floor, const DetectorParams& params,
                   std::uint64_t& random, FaceLineScratch& scratch, FaceFit& fit);
