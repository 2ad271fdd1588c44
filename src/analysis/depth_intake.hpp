// Depth intake: the camera model, the back-projection of a depth pixel, the probe and the
// 8-bit depth view.
#pragma once

#include <cstdint>
#include <iosfwd>

#include <opencv2/core.hpp>

// The depth camera's pinhole model in pixels; these four numbers are the whole model.
struct CameraModel {
    double fx;
    double fy;
    double cx;
    double cy;
};
inline constexpr CameraModel camera_model{362.37, 362.494, 321.37, 241.664};

// The depth stream's frame size; every fixed pixel and region of the analysis assumes it.
inline constexpr int depth_rows = 480;
inline constexpr int depth_cols = 640;

// Camera-frame point (mm) of row v, column u with depth d (mm): x right, y down, z forward.
// A depth of 0 gives (+0, +0, +0). Inline, so that loops over pixels can be vectorised.
inline cv::Point3d depth_to_point(int v, int u, std::uint16_t d)
{
    const double depth = d;
    const double x = depth * (static_cast<double>(u) - camera_model.cx) / camera_model.fx;
    const double y = depth * (static_cast<double>(v) - camera_model.cy) / camera_model.fy;
    // d = 0 makes x and y -0 on the left of the principal point; report them as +0.
    return {x + 0.0, y + 0.0, depth};
}

// Depth (mm) of the probe pixel, row 320, column 440; the image must be 480 x 640 CV_16UC1.
std::uint16_t probe_depth(const cv::Mat& depth);

// Writes the probe depth as an unsigned number followed by a carriage return.
void write_probe(std::ostream& out, const cv::Mat& depth);

// The depth image min-max scaled to 0..255 over all its pixels, zeros included (CV_8UC1).
cv::Mat make_depth_view(const cv::Mat& depth);
