// One depth frame turned into its pallet outcome and every number and shape the report needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/fast_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/pallet_pose.hpp"

enum class PalletOutcome { no_contour, no_pallet, pallet_found };

// "no_contour", "no_pallet" or "pallet_found", as the enumerators are named: the outcome's name in
// every record, table and summary of the tools.
inline const char* outcome_name(PalletOutcome outcome)
{
    switch (outcome) {
    case PalletOutcome::no_contour: return "no_contour";
    case PalletOutcome::no_pallet: return "no_pallet";
    case PalletOutcome::pallet_found: return "pallet_found";
    }
    return "unknown";
}

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

// The outcome that the candidate contours decide, and the face's selection list.
struct FaceSelection {
    PalletOutcome outcome = PalletOutcome::no_contour;  // no candidate: no contour
    std::vector<Contour> selection;  // entry 0: the face contour; then its inner contours
    cv::Rect bounding_rect;          // of the face contour; 200 pixels wide or less: no pallet
};
FaceSelection select_face(const std::vector<Contour>& candidate_contours);

// The frame's analysis once its face is selected: the probe and the outcome, and for a pallet its
// boxes, centre point, rotation and angles, with the face plane fitted through face_points (read
// only for a pallet).
FrameAnalysis analysis_of_face(const cv::Mat& depth, const FaceSelection& face,
                               const std::vector<cv::Point3d>& face_points);

// The whole analysis of one 480 x 640 CV_16UC1 depth image, stage by stage with the fast stages
// (analysis/fast_analysis.hpp); pure, no output, its scratch space in the caller's workspace.
// Any other size or type throws cv::Exception.
FrameAnalysis analyse_depth(const cv::Mat& depth, AnalysisWorkspace& workspace);

// The lists and images of the literal analysis, owned by its caller and reused from frame to
// frame, so that a frame allocates none of its 20 MB afresh: one per thread. Their contents
// between two frames are of no meaning to the caller.
struct LiteralWorkspace {
    AlignmentScratch alignment;
    BandMaskScratch bands;
    ContourScratch contours;
    cv::Mat face_mask;
    std::vector<cv::Point3d> face_points;
};

// The same analysis composed from the literal stage functions: the reference that the fast form
// is checked against. Each stage computes what its plain function computes, into the workspace.
FrameAnalysis analyse_depth_literal(const cv::Mat& depth, LiteralWorkspace& workspace);

// The same with a workspace of its own, made for this one call.
FrameAnalysis analyse_depth_literal(const cv::Mat& depth);
