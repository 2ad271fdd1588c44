// One depth frame turned into its pallet outcome and every number and shape the report needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/pallet_pose.hpp"

enum class PalletOutcome { no_contour, no_pallet, pallet_found };

// Meaningful only for PalletOutcome::pallet_found, except face_contour and bounding_rect, which
// no_pallet sets too.
struct PalletPose {
    Contour face_contour;                // the largest candidate contour (selection entry 0)
    cv::Rect bounding_rect;              // of the face contour
    std::vector<BoxCorners> boxes;       // one per selection-list entry, in that order
    std::size_t face_point_count = 0;
    cv::Point3d centre_point;            // mm, camera frame
    Eigen::Matrix3d rotation = Eigen::Matrix3d::Zero();  // R itself, not its transposed view
    RotationAngles angles{};             // degrees
    Eigen::Vector3d euler_rad = Eigen::Vector3d::Zero();
    Eigen::Vector3d euler_deg = Eigen::Vector3d::Zero();
};

struct FrameAnalysis {
    std::uint16_t probe_depth = 0;       // mm at row 320, column 440
    PalletOutcome outcome = PalletOutcome::no_contour;
    PalletPose pose;
};

// The whole analysis of one 480 x 640 CV_16UC1 depth image; pure, no output. Any other size or
// type throws cv::Exception. Runs the fast form (analysis/fast_analysis.hpp).
FrameAnalysis analyse_depth(const cv::Mat& depth);

// The same analysis composed stage by stage from the literal stage functions: the reference that
// the fast form is checked against.
FrameAnalysis analyse_depth_literal(const cv::Mat& depth);

// The camera points of the face (selection entry 0 without the inner entries) that are in the
// combined band mask and have a depth, in column-major pixel order; bounding_rect is entry 0's.
std::vector<cv::Point3d> face_points_of(const std::vector<Contour>& selection,
                                        const cv::Rect& bounding_rect,
                                        const cv::Mat& combined_band_mask, const cv::Mat& depth);

// How many face points there are and the plane fitted through them (fit_plane).
struct FaceFit {
    std::size_t point_count = 0;
    Eigen::Vector3d plane = Eigen::Vector3d::Zero();
};
using FaceFitter = FaceFit (*)(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                               const cv::Mat& combined_band_mask, const cv::Mat& depth);

// The face fit through the stages: fill_face_mask over the whole image, gather_face_points,
// fit_plane.
FaceFit fit_face(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                 const cv::Mat& combined_band_mask, const cv::Mat& depth);

// The outcome and pose from the candidate contours and the combined band mask of a depth image
// (the second half of analyse_depth): no contour, no pallet (face 200 pixels wide or less), or
// the pallet's boxes, centre point, rotation and angles, from the face fit that fit gives.
FrameAnalysis analyse_candidates(const std::vector<Contour>& candidate_contours,
                                 const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                 FaceFitter fit = fit_face);
