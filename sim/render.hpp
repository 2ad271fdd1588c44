// Rendering a scene into one depth frame with its label image and ground truth.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "sim/intrinsics.hpp"
#include "sim/scene.hpp"

namespace sim {

// One side of a pallet that the camera sees. Vectors are in the camera frame, mm.
struct FaceTruth {
    std::string type;                                        // its pallet type; empty for none
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();        // the middle, half its height up
    Eigen::Vector3d normal = Eigen::Vector3d::Zero();        // unit, outward from the pallet
    double width_mm = 0.0;
    double height_mm = 0.0;
    double yaw_deg = 0.0;    // about the vertical, floor frame: 0 square on to the camera's
                             // forward axis, > 0 its right end farther (counter-clockwise from above)
    std::vector<Eigen::Vector3d> opening_centres;            // the middle of each fork opening,
                                                             // left to right as seen from outside
};

struct PalletTruth {
    PalletPlacement placement;                               // as placed (floor frame)
    std::vector<FaceTruth> faces;                            // the sides turned to the camera, the
                                                             // most squarely turned first (at most 2)
};

// What the renderer knows about a frame. Vectors are in the camera frame, mm.
struct Truth {
    Mount mount;
    Eigen::Vector3d floor_normal = Eigen::Vector3d::Zero();  // unit, pointing up: a floor point p
                                                             // has floor_normal.dot(p) == -height;
                                                             // on a bumpy floor, the reference
                                                             // plane's, that pallets stand on
    FloorRelief floor_relief;                                // the floor's height field about that
                                                             // plane (off: flat), floor frame
    std::vector<PalletTruth> pallets;                        // in the scene's order
};

struct Frame {
    cv::Mat depth;   // 480 x 640 CV_16UC1, z-depth of the first surface in whole mm, 0 = no return
    cv::Mat labels;  // 480 x 640 CV_8UC1, the Label of that surface (kept where a return was lost)
    Truth truth;
};

// Renders the scene as the depth camera sees it, through the legacy sensor or, when scene.tof is
// enabled, the time-of-flight model (sim/tof.hpp). Every random effect follows from the seed alone:
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
