#include "tools/eval_compare.hpp"

#include <algorithm>
#include <cmath>

#include <Eigen/Geometry>

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

bool centre_pixel_on_face(const cv::Point& pixel, const sim::Frame& frame)
{
    const cv::Rect image(0, 0, frame.depth.cols, frame.depth.rows);
    if (!image.contains(pixel) || !frame.truth.has_pallet) return false;
    const auto label = static_cast<sim::Label>(frame.labels.at<std::uint8_t>(pixel.y, pixel.x));
    if (label != sim::Label::pallet_block && label != sim::Label::pallet_board) return false;
    const std::uint16_t depth = frame.depth.at<std::uint16_t>(pixel.y, pixel.x);
    if (depth == 0) return false;
    const Eigen::Vector3d ray = sim::pixel_ray(pixel.y, pixel.x);  // z = 1: t is a z-depth
    const Eigen::Vector3d& n = frame.truth.face_normal;
    const double along = n.dot(ray);
    if (std::abs(along) < 1e-9) return false;  // ray parallel to the face
    const double plane_depth = n.dot(frame.truth.face_centre) / along;
    return std::abs(static_cast<double>(depth) - plane_depth) <= 30.0;
}

SceneComparison compare_with_truth(const FrameAnalysis& analysis, const sim::Frame& frame)
{
    SceneComparison c;
    c.outcome = analysis.outcome;
    if (analysis.outcome == PalletOutcome::no_contour) return c;
    c.face_width_px = analysis.pose.bounding_rect.width;
    if (analysis.outcome != PalletOutcome::pallet_found || !frame.truth.has_pallet) return c;

    const PalletPose& pose = analysis.pose;
    const sim::Truth& truth = frame.truth;
    c.face_point_count = pose.face_point_count;
    c.true_centre = truth.face_centre;
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
    c.normal_error_deg = angle_between_deg(fitted_normal, truth.face_normal);

    c.reported = {pose.angles.yaw_deg, pose.angles.pitch_deg, pose.angles.roll_deg, pose.euler_deg};
    c.expected = angles_for_normal(truth.face_normal);
    c.error = difference(c.reported, c.expected);
    c.yaw_line_vs_pallet_deg = wrap_deg(pose.angles.yaw_deg - truth.pallet.yaw_deg);
    return c;
}
