// One scene's analysis against the renderer's ground truth: the outcome, the centre point, the
// face normal and the reported angles.
#pragma once

#include <cmath>
#include <cstddef>

#include <Eigen/Core>
#include <opencv2/core.hpp>

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

// The centre pixel lies on the face when its label is a pallet part and its measured depth is
// within 30 mm of the depth at which its ray meets the true face plane: the label alone would
// also accept the blocks deep inside the fork openings. A pixel with no return is a miss.
bool centre_pixel_on_face(const cv::Point& pixel, const sim::Frame& frame);

// Compares the analysis of frame.depth with frame.truth.
SceneComparison compare_with_truth(const FrameAnalysis& analysis, const sim::Frame& frame);
