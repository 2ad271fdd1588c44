// Sensors by name, for the stand-in camera's setting and the evaluation: the legacy sensor (the
// default: a scene keeps the Sensor and Dropouts it was built with), the ideal one (the geometry
// to whole mm) and a typical time-of-flight camera, whole or one effect at a time.
//
//   sim::Scene scene = sim::with_sensor(sim::pallet_scene(1500.0), sim::sensor_preset("tof"));
//   sim::Frame frame = sim::render(scene, seed);
//   for (const std::string& name : sim::sensor_preset_names()) ...  // legacy, ideal, tof, tof:mixed, ...
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/scene.hpp"
#include "sim/tof.hpp"

namespace sim {

struct SensorPreset {
    std::string name;
    bool legacy = true;  // the scene's own Sensor (and, in the catalogue, its Dropouts)
    TofSensor tof;       // when not legacy: the sensor that films the scene
};

// Every name sensor_preset knows: "legacy", "ideal", "tof", then "tof:EFFECT" for each
// tof_effect_name ("tof:noise": the typical camera with only its range noise switched on).
const std::vector<std::string>& sensor_preset_names();

// The preset of that name; nothing for a name sensor_preset_names does not hold.
std::optional<SensorPreset> find_sensor_preset(const std::string& name);

// The preset of that name; throws std::invalid_argument naming the known ones otherwise.
SensorPreset sensor_preset(const std::string& name);

// The known names, comma separated, for messages.
std::string sensor_preset_list();

// The scene filmed with the preset: unchanged for legacy, else with scene.tof = preset.tof (the
// legacy Sensor is then ignored).
Scene with_sensor(Scene scene, const SensorPreset& preset);

}  // namespace sim
