// The stages of the frame in their fast form, in the order analyse_depth runs them: each gives
// exactly what its literal stage gives, with the image-wide work cut down to where the frame has
// something to find. Their scratch space is the caller's AnalysisWorkspace.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/fast_views.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/range_masks.hpp"

// The combined band mask and the bounding box of its non-zero pixels (empty when there are
// none); the mask is zero outside the box.
struct BandMask {
    cv::Mat mask;  // 480 x 640 CV_8UC1, 0 or 255
    cv::Rect bounds;
};

// Scratch space of the fast analysis, owned by its caller and reused from frame to frame: one per
// thread that analyses frames. Its contents between two frames are of no meaning to the caller.
struct AnalysisWorkspace {
    std::vector<cv::Point3d> ground_points;
    BandMask band;
    cv::Mat face_mask;  // 480 x 640; only the face's bounding rectangle is of the current frame
    std::vector<cv::Point3d> face_points;
    ViewScratch views;
};

// make_combined_band_mask(align_to_ground(depth)) without the aligned point list. A row whose
// measured depths all put the pixel surely outside the height band is skipped; every other pixel
// is tested in single precision against the bands widened and narrowed by a bound on the rounding
// of that test, and one too close to an edge to be decided that way is aligned and tested exactly
// as the literal stages do it. band holds the previous frame's mask, or nothing; the depth image
// must be 480 x 640 CV_16UC1 and ground its ground frame.
void make_combined_band_mask_fast(const cv::Mat& depth, const GroundFrame& ground, BandMask& band);

// find_candidate_contours(band.mask), filtering and tracing only a window around band.bounds; the
// contours are in image coordinates and in the same order.
std::vector<Contour> find_candidate_contours_fast(const BandMask& band);

// fill_face_mask(selection, 640 x 480) inside face_rect, the bounding rectangle of selection entry
// 0, where all of the face lies: returns that window of face_mask (480 x 640, made if needed),
// the only part of it that is written when every inner contour lies in the rectangle too.
cv::Mat fill_face_mask_fast(const std::vector<Contour>& selection, const cv::Rect& face_rect,
                            cv::Mat& face_mask);

// gather_face_points(face mask, combined band mask, depth) for a face mask that is zero outside
// face_window, whose top-left pixel is face_rect's: the same points in the same column-major
// order, into face_points (its storage is reused).
void gather_face_points_fast(const cv::Mat& face_window, const cv::Rect& face_rect,
                             const cv::Mat& combined_band_mask, const cv::Mat& depth,
                             std::vector<cv::Point3d>& face_points);
