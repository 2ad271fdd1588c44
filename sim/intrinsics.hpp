// The simulated depth camera's own intrinsics, in pixels.
#pragma once

namespace sim {

struct Intrinsics {
    int width;
    int height;
    double fx;
    double fy;
    double cx;
    double cy;
};

inline constexpr Intrinsics depth_camera{640, 480, 362.37, 362.494, 321.37, 241.664};

}  // namespace sim
