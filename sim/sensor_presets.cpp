#include "sim/sensor_presets.hpp"

#include <stdexcept>

namespace sim {

namespace {

const std::string only_prefix = "tof:";

}  // namespace

const std::vector<std::string>& sensor_preset_names()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all{"legacy", "ideal", "tof"};
        for (const TofEffect effect : tof_effects()) all.push_back(only_prefix + tof_effect_name(effect));
        return all;
    }();
    return names;
}

std::optional<SensorPreset> find_sensor_preset(const std::string& name)
{
    SensorPreset preset;
    preset.name = name;
    if (name == "legacy") return preset;
    preset.legacy = false;
    if (name == "ideal") {
        preset.tof = ideal_tof();
        return preset;
    }
    if (name == "tof") {
        preset.tof = typical_tof();
        return preset;
    }
    for (const TofEffect effect : tof_effects()) {
        if (name == only_prefix + tof_effect_name(effect)) {
            preset.tof = with_effect(ideal_tof(), effect, true);
            return preset;
        }
    }
    return std::nullopt;
}

SensorPreset sensor_preset(const std::string& name)
{
    if (std::optional<SensorPreset> preset = find_sensor_preset(name)) return *preset;
    throw std::invalid_argument("unknown sensor preset: " + name + " (known: " + sensor_preset_list() + ")");
}

std::string sensor_preset_list()
{
    std::string list;
    for (const std::string& name : sensor_preset_names()) list += (list.empty() ? "" : ", ") + name;
    return list;
}

Scene with_sensor(Scene scene, const SensorPreset& preset)
{
    if (!preset.legacy) scene.tof = preset.tof;
    return scene;
}

}  // namespace sim
