// The time-of-flight sensor's renderer, behind sim::render for a scene whose tof is enabled.
// Internal to sim/.
#pragma once

#include <cstdint>

#include "sim/render.hpp"

namespace sim::detail {

// Fills frame.depth and frame.labels (480 x 640, zeroed) with the scene seen through scene.tof.
void render_tof(const Scene& scene, std::uint64_t seed, Frame& frame);

}  // namespace sim::detail
