#include "analysis/frame_analysis.hpp"

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/range_masks.hpp"

namespace {

void check_depth_image(const cv::Mat& depth)
{
    // Every fixed pixel and region of the analysis assumes the depth stream's frame: refuse
    // anything else rather than read outside the image.
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
}

}  // namespace

FaceSelection select_face(const std::vector<Contour>& candidate_contours)
{
    FaceSelection face;
    if (candidate_contours.empty()) return face;
    face.selection = select_pallet_contours(candidate_contours);
    face.bounding_rect = cv::boundingRect(face.selection[0]);
    face.outcome =
        face.bounding_rect.width < 201 ? PalletOutcome::no_pallet : PalletOutcome::pallet_found;
    return face;
}

FrameAnalysis analysis_of_face(const cv::Mat& depth, const FaceSelection& face,
                               const std::vector<cv::Point3d>& face_points)
{
    FrameAnalysis analysis;
    analysis.probe_depth = probe_depth(depth);
    analysis.outcome = face.outcome;
    if (face.outcome == PalletOutcome::no_contour) return analysis;
    PalletPose& pose = analysis.pose;
    pose.face_contour = face.selection[0];
    pose.bounding_rect = face.bounding_rect;
    if (face.outcome == PalletOutcome::no_pallet) return analysis;
    pose.boxes.reserve(face.selection.size());
    for (const Contour& contour : face.selection) pose.boxes.push_back(box_corners(contour));
    pose.face_point_count = face_points.size();
    pose.centre_point = rect_centre_point(face.bounding_rect, depth);
    pose.rotation = rotation_onto_z(fit_plane(face_points));
    pose.angles = rotation_angles(pose.rotation);
    pose.euler_rad = euler_zyx(pose.rotation);
    pose.euler_deg = euler_degrees(pose.euler_rad);
    return analysis;
}

FrameAnalysis analyse_depth_literal(const cv::Mat& depth, LiteralWorkspace& workspace)
{
    check_depth_image(depth);
    const std::vector<cv::Point3d>& aligned_points = align_to_ground(depth, workspace.alignment);
    const cv::Mat& combined_band_mask = make_combined_band_mask(aligned_points, workspace.bands);
    const std::vector<Contour> candidate_contours =
        find_candidate_contours(combined_band_mask, workspace.contours);
    const FaceSelection face = select_face(candidate_contours);
    if (face.outcome != PalletOutcome::pallet_found) return analysis_of_face(depth, face, {});
    const cv::Mat& face_mask = fill_face_mask(face.selection, depth.size(), workspace.face_mask);
    gather_face_points(face_mask, combined_band_mask, depth, workspace.face_points);
    return analysis_of_face(depth, face, workspace.face_points);
}

FrameAnalysis analyse_depth_literal(const cv::Mat& depth)
{
    LiteralWorkspace workspace;
    return analyse_depth_literal(depth, workspace);
}

FrameAnalysis analyse_depth(const cv::Mat& depth, AnalysisWorkspace& workspace)
{
    check_depth_image(depth);
    const GroundFrame ground = ground_frame_of(depth, workspace.ground_points);
    make_combined_band_mask_fast(depth, ground, workspace.band);
    const std::vector<Contour> candidate_contours = find_candidate_contours_fast(workspace.band);
    const FaceSelection face = select_face(candidate_contours);
    if (face.outcome != PalletOutcome::pallet_found) return analysis_of_face(depth, face, {});
    const cv::Mat face_window = fill_face_mask_fast(face.selection, face.bounding_rect, workspace.face_mask);
    gather_face_points_fast(face_window, face.bounding_rect, workspace.band.mask, depth,
                            workspace.face_points);
    return analysis_of_face(depth, face, workspace.face_points);
}
