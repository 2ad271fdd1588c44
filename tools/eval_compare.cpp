#include "tools/eval_compare.hpp"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>
#include <opencv2/imgproc.hpp>

#include "analysis/pallet_pose.hpp"
#include "analysis/plane_fit.hpp"

namespace {

double degrees(double rad)
{
    return rad * (180.0 / std::acos(-1.0));
}

double angle_between_deg(const Eigen::Vector3d& a, const Eigen::Vector3d& b)
{
    const double cosine = a.normalized().dot(b.normalized());
    if (!std::isfinite(cosine)) return NAN;
    return degrees(std::acos(std::clamp(cosine, -1.0, 1.0)));
}

ReportedAngles angles_of(const Eigen::Matrix3d& R)
{
    const RotationAngles angles = rotation_angles(R);
    return {angles.yaw_deg, angles.pitch_deg, angles.roll_deg, euler_degrees(euler_zyx(R))};
}

ReportedAngles difference(const ReportedAngles& reported, const ReportedAngles& expected)
{
    ReportedAngles d{wrap_deg(reported.yaw_deg - expected.yaw_deg),
                     wrap_deg(reported.pitch_deg - expected.pitch_deg),
                     wrap_deg(reported.roll_deg - expected.roll_deg), Eigen::Vector3d::Zero()};
    for (int k = 0; k < 3; ++k) d.euler_deg(k) = wrap_deg(reported.euler_deg(k) - expected.euler_deg(k));
    return d;
}

}  // namespace

double wrap_deg(double angle_deg)
{
    if (!std::isfinite(angle_deg)) return NAN;
    double r = std::fmod(angle_deg, 360.0);  // in (-360, 360), sign of the dividend
    if (r <= -180.0) r += 360.0;
    if (r > 180.0) r -= 360.0;
    return r;
}

ReportedAngles angles_for_normal(const Eigen::Vector3d& normal)
{
    if (!(normal.z() < 0.0)) return {NAN, NAN, NAN, Eigen::Vector3d::Constant(NAN)};
    // (a, b, -1) is parallel to the normal: scale it so that its z is -1.
    const Eigen::Vector3d plane(-normal.x() / normal.z(), -normal.y() / normal.z(), 0.0);
    return angles_of(rotation_onto_z(plane));
}

const sim::FaceTruth* primary_face(const sim::Truth& truth)
{
    if (truth.pallets.empty() || truth.pallets.front().faces.empty()) return nullptr;
    return &truth.pallets.front().faces.front();
}

bool centre_pixel_on_face(const cv::Point& pixel, const sim::Frame& frame)
{
    const cv::Rect image(0, 0, frame.depth.cols, frame.depth.rows);
    const sim::FaceTruth* face = primary_face(frame.truth);
    if (!image.contains(pixel) || face == nullptr) return false;
    const auto label = static_cast<sim::Label>(frame.labels.at<std::uint8_t>(pixel.y, pixel.x));
    if (label != sim::Label::pallet_block && label != sim::Label::pallet_board) return false;
    const std::uint16_t depth = frame.depth.at<std::uint16_t>(pixel.y, pixel.x);
    if (depth == 0) return false;
    const Eigen::Vector3d ray = sim::pixel_ray(pixel.y, pixel.x);  // z = 1: t is a z-depth
    const Eigen::Vector3d& n = face->normal;
    const double along = n.dot(ray);
    if (std::abs(along) < 1e-9) return false;  // ray parallel to the face
    const double plane_depth = n.dot(face->centre) / along;
    return std::abs(static_cast<double>(depth) - plane_depth) <= 30.0;
}

SceneComparison compare_with_truth(const FrameAnalysis& analysis, const sim::Frame& frame)
{
    SceneComparison c;
    c.outcome = analysis.outcome;
    if (analysis.outcome == PalletOutcome::no_contour) return c;
    c.face_width_px = analysis.pose.bounding_rect.width;
    const sim::FaceTruth* face = primary_face(frame.truth);
    if (analysis.outcome != PalletOutcome::pallet_found || face == nullptr) return c;

    const PalletPose& pose = analysis.pose;
    c.face_point_count = pose.face_point_count;
    c.true_centre = face->centre;
    c.reported_centre = {pose.centre_point.x, pose.centre_point.y, pose.centre_point.z};
    c.centre_error = c.reported_centre - c.true_centre;
    c.centre_error_norm = c.centre_error.norm();
    const cv::Rect& rect = pose.bounding_rect;
    c.centre_pixel = {rect.x + rect.width / 2, rect.y + rect.height / 2};  // as the analysis takes it
    c.centre_label = frame.labels.at<std::uint8_t>(c.centre_pixel.y, c.centre_pixel.x);
    c.centre_on_face = centre_pixel_on_face(c.centre_pixel, frame);

    // R's last row is the fitted plane's unit normal, (a, b, -1) scaled: it points towards the
    // camera, as does the outward normal of the face that the camera sees.
    const Eigen::Vector3d fitted_normal = pose.rotation.row(2).transpose();
    c.normal_error_deg = angle_between_deg(fitted_normal, face->normal);

    c.reported = {pose.angles.yaw_deg, pose.angles.pitch_deg, pose.angles.roll_deg, pose.euler_deg};
    c.expected = angles_for_normal(face->normal);
    c.error = difference(c.reported, c.expected);
    c.yaw_line_vs_pallet_deg =
        wrap_deg(pose.angles.yaw_deg - frame.truth.pallets.front().placement.yaw_deg);
    return c;
}

Eigen::Vector3d truth_floor_point(const sim::Truth& truth, const Eigen::Vector3d& camera_point)
{
    return sim::camera_to_floor(truth.mount) * camera_point +
           Eigen::Vector3d(0.0, 0.0, truth.mount.height_mm);
}

ContourShares contour_shares(const Contour& contour, const sim::Frame& frame)
{
    ContourShares shares;
    if (contour.empty()) return shares;
    cv::Mat inside = cv::Mat::zeros(frame.labels.size(), CV_8UC1);
    cv::drawContours(inside, std::vector<Contour>{contour}, 0, cv::Scalar(255), cv::FILLED);
    std::size_t all = 0, floor = 0, pallet = 0;
    for (int v = 0; v < inside.rows; ++v) {
        for (int u = 0; u < inside.cols; ++u) {
            if (inside.at<std::uint8_t>(v, u) == 0) continue;
            ++all;
            const auto label = static_cast<sim::Label>(frame.labels.at<std::uint8_t>(v, u));
            if (label == sim::Label::floor) ++floor;
            if (label == sim::Label::pallet_block || label == sim::Label::pallet_board) ++pallet;
        }
    }
    if (all == 0) return shares;
    shares.floor = static_cast<double>(floor) / static_cast<double>(all);
    shares.pallet = static_cast<double>(pallet) / static_cast<double>(all);
    return shares;
}

DockComparison compare_dock_with_truth(const DockPose& dock, const FrameAnalysis& analysis,
                                       const sim::Frame& frame)
{
    DockComparison c;
    c.verdict = dock.verdict;
    c.reason = dock.reason;
    c.confidence = dock.confidence;
    c.pockets = dock.pockets.size();
    const sim::Truth& truth = frame.truth;
    if (analysis.outcome != PalletOutcome::no_contour) {
        const ContourShares shares = contour_shares(analysis.pose.face_contour, frame);
        c.contour_floor_share = shares.floor;
        c.contour_pallet_share = shares.pallet;
    }
    if (dock.floor.found) {
        c.floor_normal_error_deg = angle_between_deg(dock.floor.normal, truth.floor_normal);
        c.camera_height_error_mm = dock.floor.camera_height_mm - truth.mount.height_mm;
        c.camera_tilt_error_deg = dock.floor.camera_tilt_deg - truth.mount.pitch_deg;
    }
    const sim::FaceTruth* face = primary_face(truth);
    if (face == nullptr || !dock.face_found) return c;

    const Eigen::Matrix3d to_floor = sim::camera_to_floor(truth.mount);
    const Eigen::Vector3d true_normal = to_floor * face->normal;  // outward, floor frame
    const Eigen::Vector3d true_centre = truth_floor_point(truth, face->centre);
    const double true_yaw = degrees(std::atan2(true_normal.x(), -true_normal.y()));
    c.yaw_error_deg = wrap_deg(dock.yaw_deg - true_yaw);
    c.normal_error_deg = angle_between_deg(dock.face_normal_camera, face->normal);
    const Eigen::Vector2d n2 = true_normal.head<2>().normalized();
    c.distance_error_mm = dock.face_distance_mm - (-n2.dot(true_centre.head<2>()));
    c.width_error_mm = dock.width_mm - face->width_mm;
    c.centre_error = dock.centre_camera - face->centre;
    c.centre_error_floor = dock.centre_floor - true_centre;
    if (dock.pockets.size() == 2 && face->opening_centres.size() == 2) {
        for (std::size_t k = 0; k < 2; ++k) {
            c.pocket_error_mm[k] = (dock.pockets[k].centre_camera - face->opening_centres[k]).norm();
        }
    }
    return c;
}
