#include "source.hpp"

#include "scene.hpp"

#include <sim/depth_png.hpp>

#include <optional>
#include <system_error>

namespace kv3::detail {

namespace {

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

kv3_error resolve_source(bool is_set, const std::string& value, frame_source& source)
{
    source = frame_source{};
    if (!is_set || value.empty() || value == "scene")
        return KV3_SUCCESS;
    if (value == "none") {
        source.kind = source_kind::none;
        return KV3_ERROR_NO_DEVICE;
    }
    if (starts_with(value, "scene:")) {
        source.scene_name = value.substr(6);
        return (!source.scene_name.empty() && scene_known(source.scene_name))
                   ? KV3_SUCCESS
                   : KV3_ERROR_INVALID_SOURCE;
    }
    const bool once = starts_with(value, "replay-once:");
    if (!once && !starts_with(value, "replay:"))
        return KV3_ERROR_INVALID_SOURCE;
    source.kind = once ? source_kind::replay_once : source_kind::replay;
    source.folder = value.substr(value.find(':') + 1);
    std::error_code unlisted;  // a missing or unreadable folder holds no frames
    if (!source.folder.empty())
        source.frames = sim::depth_png_files(source.folder, unlisted);
    return source.frames.empty() ? KV3_ERROR_SOURCE_NOT_FOUND : KV3_SUCCESS;
}

kv3_error resolve_sensor(bool is_set, const std::string& value, sim::SensorPreset& sensor)
{
    const std::string name = (!is_set || value.empty()) ? "legacy" : value;
    std::optional<sim::SensorPreset> preset = sim::find_sensor_preset(name);
    sensor = preset ? *preset : sim::sensor_preset("legacy");
    return preset ? KV3_SUCCESS : KV3_ERROR_INVALID_SOURCE;
}

}  // namespace kv3::detail
