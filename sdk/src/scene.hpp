// The scenes the stand-in camera films when no replay folder is given.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <string>

#include <sim/sensor_presets.hpp>

namespace kv3::detail {

// True for a scene name render_scene knows; the empty name is the default scene.
bool scene_known(const std::string& name);

// Depth frame number frame_number (from 1) of the named scene (sim/scenes.hpp), filmed with the
// sensor preset: CV_16UC1, 480 x 640, millimetres, 0 = no measurement. The same name, number and
// preset always give the same frame.
cv::Mat render_scene(const std::string& name, std::uint64_t frame_number, const sim::SensorPreset& sensor);

// The known scene names, comma separated, for the message about an unknown one.
std::string scene_list();

}  // namespace kv3::detail
