#include "source.hpp"

#include "scene.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kv3::detail {

namespace {

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size()
           && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::vector<std::string> png_files(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error))
        return {};
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (ends_with(name, ".png") && !it->is_directory(error))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    paths.reserve(names.size());
    for (const std::string& name : names)
        paths.push_back((fs::path(folder) / name).string());
    return paths;
}

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
    source.frames = png_files(source.folder);
    return source.frames.empty() ? KV3_ERROR_SOURCE_NOT_FOUND : KV3_SUCCESS;
}

}  // namespace kv3::detail
