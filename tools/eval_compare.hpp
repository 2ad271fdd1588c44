// One scene's analysis against the renderer's ground truth: the outcome, the centre point, the
// face normal and the reported angles.
#pragma once

#include <cmath>
#include <cstddef>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "analysis/dock_pose.hpp"
#include "analysis/frame_analysis.hpp"
#include "sim/render.hpp"

// An angle difference in degrees brought into (-180, 180]; NaN stays NaN.
double wrap_deg(double angle_deg);

// What the analysis reports for a face whose fitted plane has exactly this normal (camera frame,
// any length, z < 0: towards the camera): the plane (a, b) with (a, b, -1) along the normal, then
// rotation_onto_z, rotation_angles and euler_zyx as the analysis applies them. NaN when the
// normal does not face the camera (z >= 0).
struct ReportedAngles {
    double yaw_deg;
    double pitch_deg;
    double roll_deg;
    Eigen::Vector3d euler_deg;
};
ReportedAngles angles_for_normal(const Eigen::Vector3d& normal);

// Everything below the outcome is NaN unless the outcome is pallet_found.
struct SceneComparison {
    PalletOutcome outcome = PalletOutcome::no_contour;
    int face_width_px = 0;                     // bounding rectangle; 0 for no contour
    std::size_t face_point_count = 0;
    Eigen::Vector3d true_centre = Eigen::Vector3d::Constant(NAN);      // mm, camera frame
    Eigen::Vector3d reported_centre = Eigen::Vector3d::Constant(NAN);  // mm, camera frame
    Eigen::Vector3d centre_error = Eigen::Vector3d::Constant(NAN);     // reported - true, mm
    double centre_error_norm = NAN;
    cv::Point centre_pixel{-1, -1};            // (u, v): middle of the bounding rectangle
    int centre_label = -1;                     // sim::Label at the centre pixel
    bool centre_on_face = false;               // see centre_pixel_on_face
    double normal_error_deg = NAN;             // between R's last row and the true outward normal
    ReportedAngles reported{NAN, NAN, NAN, Eigen::Vector3d::Constant(NAN)};
    ReportedAngles expected{NAN, NAN, NAN, Eigen::Vector3d::Constant(NAN)};
    ReportedAngles error{NAN, NAN, NAN, Eigen::Vector3d::Constant(NAN)};  // reported - expected
    double yaw_line_vs_pallet_deg = NAN;       // yaw line - pallet yaw, wrapped
};

// The face of the scene's first pallet that the camera sees most squarely; null without one.
const sim::FaceTruth* primary_face(const sim::Truth& truth);

// The centre pixel lies on the face when its label is a pallet part and its measured depth is
// within 30 mm of the depth at which its ray meets the true face plane: the label alone would
// also accept the blocks deep inside the fork openings. A pixel with no return is a miss.
bool centre_pixel_on_face(const cv::Point& pixel, const sim::Frame& frame);

// Compares the analysis of frame.depth with frame.truth.
SceneComparison compare_with_truth(const FrameAnalysis& analysis, const sim::Frame& frame);

// The dock measurement against the truth. An error is NaN where the measurement has no value for
// it (or the scene has no pallet); errors are measured minus true.
struct DockComparison {
    DockVerdict verdict = DockVerdict::no_pallet;
    DockReason reason = DockReason::no_floor;
    double confidence = 0.0;
    double contour_floor_share = NAN;   // of the fixed face contour's filled pixels, the shares that
    double contour_pallet_share = NAN;  // show floor and the pallet; NaN without a contour
    Eigen::Vector3d centre_error = Eigen::Vector3d::Constant(NAN);        // camera frame, mm
    Eigen::Vector3d centre_error_floor = Eigen::Vector3d::Constant(NAN);  // true floor frame:
                                                                          // lateral, forward, height
    double yaw_error_deg = NAN;         // wrapped
    double normal_error_deg = NAN;      // face normal against the true outward normal
    double distance_error_mm = NAN;     // perpendicular distance of the face line
    double width_error_mm = NAN;
    std::size_t pockets = 0;
    double pocket_error_mm[2] = {NAN, NAN};  // left, right: distance of the centres, camera frame
    double floor_normal_error_deg = NAN;
    double camera_height_error_mm = NAN;
    double camera_tilt_error_deg = NAN;
};

// The truth's floor frame point of a camera-frame point: origin below the camera, X right,
// Y forward, Z up.
Eigen::Vector3d truth_floor_point(const sim::Truth& truth, const Eigen::Vector3d& camera_point);

// The shares of the filled contour's pixels whose label is floor and a pallet part (block or
// board); NaN for an empty contour.
struct ContourShares {
    double floor = NAN;
    double pallet = NAN;
};
ContourShares contour_shares(const Contour& contour, const sim::Frame& frame);

// Compares a dock measurement of frame.depth (from the analysis given) with frame.truth.
DockComparison compare_dock_with_truth(const DockPose& dock, const FrameAnalysis& analysis,
                                       const sim::Frame& frame);
