// Where the stand-in camera's frames come from: KV3_SOURCE.
#pragma once

#include <kv3/kv3.hpp>

#include <sim/sensor_presets.hpp>

#include <string>
#include <vector>

namespace kv3::detail {

enum class source_kind { scene, replay, replay_once, none };

struct frame_source {
    source_kind kind = source_kind::scene;
    std::string scene_name;           // scene: "" is the default scene
    std::string folder;               // replay, replay_once
    std::vector<std::string> frames;  // replay, replay_once: sim::depth_png_files of folder
};

// Checks the KV3_SOURCE value (unset or empty: the default scene) and fills source from it;
// returns KV3_SUCCESS, KV3_ERROR_NO_DEVICE ("none"), KV3_ERROR_INVALID_SOURCE (an unknown value or
// scene name) or KV3_ERROR_SOURCE_NOT_FOUND (a replay folder missing or without PNG files).
kv3_error resolve_source(bool is_set, const std::string& value, frame_source& source);

// Checks the KV3_SENSOR value (unset or empty: legacy, the scenes' own sensor) and fills sensor
// from it; returns KV3_SUCCESS or KV3_ERROR_INVALID_SOURCE (a name sim::sensor_preset_names does
// not hold). A replay plays its frames as recorded, whatever the sensor.
kv3_error resolve_sensor(bool is_set, const std::string& value, sim::SensorPreset& sensor);

}  // namespace kv3::detail
