#include "scene.hpp"

#include <sim/scenes.hpp>

namespace kv3::detail {

bool scene_known(const std::string& name)
{
    return sim::is_scene_name(name);
}

cv::Mat render_scene(const std::string& name, std::uint64_t frame_number, const sim::SensorPreset& sensor)
{
    return sim::render_scene_frame(name, frame_number, sensor).depth;
}

std::string scene_list()
{
    std::string list;
    for (const std::string& name : sim::scene_names())
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

}  // namespace kv3::detail
