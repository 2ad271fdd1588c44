// Single stages of the analysis, the fast form against the literal form, on one input each.
#pragma once

#include <string>

#include <opencv2/core.hpp>

#include "stage_inputs.hpp"

// Empty when make_combined_band_mask_fast (with the ground frame of the depth, and the mask of
// the previous call left in its band, as a frame loop leaves it) gives the literal stages' combined
// band mask and its bounding box; otherwise what differs. The depth must be 480 x 640 CV_16UC1.
std::string compare_band_mask_forms(const cv::Mat& depth);

// Empty when find_candidate_contours_fast on the mask and its bounding box gives the contours of
// find_candidate_contours, in the same order; otherwise what differs.
std::string compare_contour_forms(const cv::Mat& band_mask);

// Empty when the fast face fill (into a mask that still holds the previous input's face outside
// the face rectangle) gives the literal face mask inside that rectangle, the literal mask is zero
// outside it, and the fast gathering gives the literal face points, bit for bit and in the same
// order; otherwise what differs. An empty selection has nothing to compare.
std::string compare_face_forms(const FaceInput& input);
