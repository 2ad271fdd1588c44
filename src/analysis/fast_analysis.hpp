// The per-frame analysis in its fast form: the same masks, contours, outcome, points and views as
// the stage-by-stage functions, with the per-pixel work fused into one pass over the depth image
// and the image-wide filters restricted to where the combined band mask has pixels.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "analysis/frame_analysis.hpp"
#include "analysis/range_masks.hpp"

// The combined band mask of a depth image and the bounding box of its non-zero pixels (empty when
// there are none).
struct BandMask {
    cv::Mat mask;     // 480 x 640 CV_8UC1, 0 or 255
    cv::Rect bounds;
};

// make_combined_band_mask(align_to_ground(depth)) without the aligned point list: each pixel goes
// depth -> camera point -> aligned point -> the three band tests in one pass. The tests are made in
// float; a pixel whose float coordinates lie too close to a band edge to decide is recomputed in
// double exactly as the stage-by-stage form does. The depth image must be 480 x 640 CV_16UC1.
BandMask fast_combined_band_mask(const cv::Mat& depth);

// Which form of the band pass runs: AVX-512 or AVX2 with FMA where the processor has them
// (automatic), or one form forced, to compare them. Every form gives the same mask.
enum class PixelPass { automatic, portable, avx2, avx512 };
BandMask fast_combined_band_mask(const cv::Mat& depth, PixelPass pass);

// Whether this processor can run PixelPass::avx2, PixelPass::avx512.
bool avx2_pass_available();
bool avx512_pass_available();

// find_candidate_contours(band.mask), blurring, opening and tracing only a window around
// band.bounds; the contours are in image coordinates and in the same order.
std::vector<Contour> fast_candidate_contours(const BandMask& band);

// gather_face_points(face_mask, combined_band_mask, depth) for a face mask that is zero outside
// face_rect: the same points in the same column-major order, scanning only face_rect.
std::vector<cv::Point3d> fast_face_points(const cv::Mat& face_mask, const cv::Rect& face_rect,
                                          const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                          PixelPass pass = PixelPass::automatic);

// analyse_candidates(candidate_contours, combined_band_mask, depth), bit for bit: the face is
// filled in its own rectangle, its points are gathered as fast_face_points gathers them and fitted
// with PlaneFitReplica (analysis/plane_fit_replica.hpp) without forming the point list.
// The pass picks the band pass and whether the face code runs its AVX2 or its portable form.
FrameAnalysis analyse_candidates_fast(const std::vector<Contour>& candidate_contours,
                                      const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                      PixelPass pass = PixelPass::automatic);

// analyse_depth_literal's result, computed with the functions above.
FrameAnalysis analyse_depth_fast(const cv::Mat& depth, PixelPass pass = PixelPass::automatic);
