#include "analysis/frame_analysis.hpp"

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/range_masks.hpp"

namespace {

PalletPose measure_pallet(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                          const FaceFit& face, const cv::Mat& depth)
{
    PalletPose pose;
    pose.face_contour = selection[0];
    pose.bounding_rect = bounding_rect;
    pose.boxes.reserve(selection.size());
    for (const Contour& contour : selection) pose.boxes.push_back(box_corners(contour));
    pose.face_point_count = face.point_count;
    pose.centre_point = rect_centre_point(bounding_rect, depth);
    pose.rotation = rotation_onto_z(face.plane);
    pose.angles = rotation_angles(pose.rotation);
    pose.euler_rad = euler_zyx(pose.rotation);
    pose.euler_deg = euler_degrees(pose.euler_rad);
    return pose;
}

}  // namespace

std::vector<cv::Point3d> face_points_of(const std::vector<Contour>& selection,
                                        const cv::Rect& /*bounding_rect*/,
                                        const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    const cv::Mat face_mask = fill_face_mask(selection, depth.size());
    return gather_face_points(face_mask, combined_band_mask, depth);
}

FaceFit fit_face(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                 const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    const std::vector<cv::Point3d> face_points =
        face_points_of(selection, bounding_rect, combined_band_mask, depth);
    return {face_points.size(), fit_plane(face_points)};
}

FrameAnalysis analyse_candidates(const std::vector<Contour>& candidate_contours,
                                 const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                 FaceFitter fit)
{
    FrameAnalysis analysis;
    analysis.probe_depth = probe_depth(depth);
    if (candidate_contours.empty()) {
        analysis.outcome = PalletOutcome::no_contour;
        return analysis;
    }
    const std::vector<Contour> selection = select_pallet_contours(candidate_contours);
    const cv::Rect bounding_rect = cv::boundingRect(selection[0]);
    if (bounding_rect.width < 201) {  // 200 pixels wide or less is no pallet
        analysis.outcome = PalletOutcome::no_pallet;
        analysis.pose.face_contour = selection[0];
        analysis.pose.bounding_rect = bounding_rect;
        return analysis;
    }
    analysis.outcome = PalletOutcome::pallet_found;
    analysis.pose = measure_pallet(selection, bounding_rect,
                                   fit(selection, bounding_rect, combined_band_mask, depth), depth);
    return analysis;
}

FrameAnalysis analyse_depth_literal(const cv::Mat& depth)
{
    // Every fixed pixel and region of the analysis assumes the depth stream's frame: refuse
    // anything else rather than read outside the image.
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
    const std::vector<cv::Point3d> aligned_points = align_to_ground(depth);
    const cv::Mat combined_band_mask = make_combined_band_mask(aligned_points);
    return analyse_candidates(find_candidate_contours(combined_band_mask), combined_band_mask,
                              depth);
}

FrameAnalysis analyse_depth(const cv::Mat& depth)
{
    return analyse_depth_fast(depth);
}
