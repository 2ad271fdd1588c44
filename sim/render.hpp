// Rendering a scene into one depth frame with its label image and ground truth.
#pragma once

#include <cstdint>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "sim/intrinsics.hpp"
#include "sim/scene.hpp"

namespace sim {

// What the renderer knows about a frame. Vectors are in the camera frame, mm.
struct Truth {
    Mount mount;
    Eigen::Vector3d floor_normal = Eigen::Vector3d::Zero();  // unit, pointing up: a floor point p
                                                             // has floor_normal.dot(p) == -height
    bool has_pallet = false;
    PalletPlacement pallet;                                  // as placed (floor frame)
    Eigen::Vector3d face_centre = Eigen::Vector3d::Zero();   // middle of the face towards the camera
    Eigen::Vector3d face_normal = Eigen::Vector3d::Zero();   // unit, outward from the pallet
    double face_width_mm = 0.0;                              // 1200 or 800: which side faces us
};

struct Frame {
    cv::Mat depth;   // 480 x 640 CV_16UC1, z-depth of the first surface in whole mm, 0 = no return
    cv::Mat labels;  // 480 x 640 CV_8UC1, the Label of that surface (kept where a return was lost)
    Truth truth;
};

// Renders the scene as the depth camera sees it. Every random effect follows from the seed alone:
// the same scene and seed give the same bytes, run after run. Pixel (v, u) looks along
// ((u - cx) / fx, (v - cy) / fy, 1). A surface the camera stands inside is not seen.
Frame render(const Scene& scene, std::uint64_t seed);

// The ground truth of a scene, without rendering.
Truth truth_of(const Scene& scene);

// Camera-frame direction of pixel (v, u) with z = 1, so that t times it has z-depth t.
Eigen::Vector3d pixel_ray(double v, double u);

// Pixel (u = column, v = row) where a camera-frame point (z > 0) appears.
cv::Point2d project(const Eigen::Vector3d& point);

// Floor-frame point to camera frame, for the given mount.
Eigen::Vector3d floor_to_camera(const Mount& mount, const Eigen::Vector3d& point);

// Pallet-frame point to floor frame, for the given placement.
Eigen::Vector3d pallet_to_floor(const PalletPlacement& pallet, const Eigen::Vector3d& point);

}  // namespace sim
