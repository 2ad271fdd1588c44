// Step 6: the fork openings of a face: the gaps between its block fronts, row by row.
#pragma once

#include <vector>

#include "analysis/detector/detector_params.hpp"
#include "analysis/detector/face_extent.hpp"

// One opening between two blocks: its ends along the face line, how many height slices saw it, and its top
// above the floor (the underside of the board across it; NaN when none was seen).
struct Opening {
    double lo, hi;
    std::size_t rows;
    double top;
};

// One 20 mm bin of one height slice: the inliers nearest its two ends (indices into the fit's
// inliers, or -1 when it holds none).
struct SliceBin {
    int first = -1;
    int last = -1;
};

struct OpeningScratch {
    std::vector<SliceBin> bins;
    std::vector<Opening> gaps;
    std::vector<double> los, his, values;
};

// The face's inliers at opening_low_mm..opening_high_mm, cut into slices of opening_slice_mm in
// height, or of a row's pixel height at the face's far end where that is more (an image row of a camera that looks down on a turned face runs across several heights,
// a slice never), each slice's places along the line kept per 20 mm bin: the gaps over
// opening_min_gap_mm between neighbouring block fronts of a slice, their ends moved half a pixel
// into the gap; gaps whose middles lie within opening_merge_mm of each other's are one opening,
// which needs opening_min_rows slices and a fifth of the slices of the best-seen one (a run of
// dropouts is none); its ends are the medians of its slices' ends, each moved onto the block's side
// where the camera sees it (side_edge). Left to right, into `openings`.
void find_openings(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper, const FaceFit& fit,
                   const FloorFrame& f, const DetectorParams& params, OpeningScratch& scratch,
                   std::vector<Opening>& openings);

// Whether something nearer than the face fills the opening where the camera looks into it (more
// than half of nine rays at its quarters and middle, 40 to 80 mm up, meet a surface over 100 mm
// plus three scales in front of the face line): a gap that a nearer object's shadow leaves on a
// face farther back, a wall seen past a pallet's blocks, is no opening.
bool opening_occluded(const cv::Mat& depth, const FaceFit& fit, const FloorFrame& f, const Opening& opening);
