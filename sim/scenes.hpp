// The scene catalogue: the default animation and the named scenes, each frame a pure function of
// the scene's name and the frame number. Shared by the stand-in camera, the tests and the tools.
//
// Every scene repeats after scene_loop_frames frames (20 s at 30 frames a second): frame n and frame
// n + scene_loop_frames are the same bytes. Frame numbers count from 1, as the camera numbers them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "sim/sensor_presets.hpp"

namespace sim {

inline constexpr std::uint64_t scene_loop_frames = 600;

// Where a time-of-flight camera loses returns beyond the renderer's own uniform dropouts: at long
// range (probability far_rate * ((z - 1500 mm) / 2500 mm)^2 beyond 1.5 m: the bright near floor of
// the ground patch keeps every pixel) and
// on depth edges, where a pixel mixes the near and the far surface (edge_rate of the pixels whose
// 4-neighbour lies more than 60 mm and 5 % of the depth away), and uniform_rate of every pixel
// regardless, as on a poor sensor.
struct Dropouts {
    double far_rate = 0.02;
    double edge_rate = 0.5;
    double uniform_rate = 0.0;
};

// One frame's setting: the geometry and sensor handed to the renderer, the extra dropouts and the
// seed of all its randomness.
struct SceneFrame {
    Scene scene;
    Dropouts dropouts;
    std::uint64_t seed = 0;
};

// The named scenes, in catalogue order: empty, far, pallet, noisy, clutter.
const std::vector<std::string>& scene_names();

// True for "" (the default animation) and every name of scene_names().
bool is_scene_name(const std::string& name);

// The setting of frame frame_number of the named scene ("" is the default animation); throws
// std::invalid_argument for a name that is_scene_name rejects.
SceneFrame scene_frame(const std::string& name, std::uint64_t frame_number);

// The same frame filmed with a sensor preset: legacy gives scene_frame's setting unchanged; any
// other films the scene with the preset's sensor and without the extra dropouts (the scene's own
// legacy noise, as the noisy scene's, goes with the legacy sensor). The seed is the same.
SceneFrame scene_frame(const std::string& name, std::uint64_t frame_number, const SensorPreset& preset);

// The rendered frame: the renderer's depth, labels and truth, with the extra dropouts applied to
// the depth (the labels keep what the lost pixels showed).
Frame render_scene_frame(const SceneFrame& setting);
Frame render_scene_frame(const std::string& name, std::uint64_t frame_number);
Frame render_scene_frame(const std::string& name, std::uint64_t frame_number, const SensorPreset& preset);

// Applies the extra dropouts to a depth image in place; pixel randomness follows from seed alone.
void apply_dropouts(cv::Mat& depth, const Dropouts& dropouts, std::uint64_t seed);

}  // namespace sim
