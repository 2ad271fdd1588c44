#include "scene.hpp"

#include <sim/intrinsics.hpp>

#include <cmath>

namespace kv3::detail {

namespace {

// A flat floor seen by a camera 200 mm above it whose optical axis is tilted 6 degrees up.
// The floor is y = 200 mm in the level frame (y down); a pixel's ray, rotated from the camera
// frame, has level y component (v - cy) / fy * cos(tilt) - sin(tilt) per unit of camera z, so
// the depth depends on the row only. Rows whose ray goes above the horizon, or hits the floor
// beyond the sensor's range, measure nothing.
cv::Mat floor_depth()
{
    const sim::Intrinsics& cam = sim::depth_camera;
    const double height = 200.0;                        // camera above the floor
    const double tilt = 6.0 * std::acos(-1.0) / 180.0;  // optical axis above the horizontal
    const double max_range = 6000.0;
    cv::Mat depth(cam.height, cam.width, CV_32F);
    for (int v = 0; v < cam.height; ++v) {
        const double down = (v - cam.cy) / cam.fy * std::cos(tilt) - std::sin(tilt);
        const double d = down > 0.0 ? height / down : 0.0;
        depth.row(v).setTo(d <= max_range ? d : 0.0);
    }
    return depth;
}

}  // namespace

bool scene_known(const std::string& name)
{
    return name.empty();
}

cv::Mat render_scene(const std::string& /*name*/, std::uint64_t frame_number)
{
    cv::Mat depth = floor_depth();
    cv::Mat noise(depth.size(), CV_32F);
    cv::RNG rng(0x6b7633ULL + frame_number);  // seeded per frame: a frame renders the same twice
    rng.fill(noise, cv::RNG::NORMAL, 0.0, 2.0);  // sensor noise, mm
    const cv::Mat measured = depth > 0.0f;
    cv::add(depth, noise, depth, measured);
    cv::Mat frame;
    depth.convertTo(frame, CV_16U);  // rounds and saturates at 0
    frame.setTo(0, ~measured);
    return frame;
}

}  // namespace kv3::detail
