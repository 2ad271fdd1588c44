#include "errors.hpp"
#include "trace.hpp"

#include <kv3/kv3.hpp>

#include <string>

namespace kv3 {

const char* detail::error_text(kv3_error error)
{
    switch (error) {
    case KV3_SUCCESS:
        return "success";
    case KV3_ERROR_NO_DEVICE:
        return "no camera connected";
    case KV3_ERROR_INVALID_SOURCE:
        return "unknown source: KV3_SOURCE must be unset, scene, scene:NAME of a known scene, "
               "replay:DIR, replay-once:DIR or none, and KV3_SENSOR unset or a known sensor";
    case KV3_ERROR_SOURCE_NOT_FOUND:
        return "replay folder is missing or holds no PNG frames";
    case KV3_ERROR_INVALID_ARGUMENT:
        return "invalid argument: a null pointer, an unknown stream kind or an unsupported size";
    case KV3_ERROR_NOT_STARTED:
        return "pipeline is not started";
    case KV3_ERROR_ALREADY_STARTED:
        return "pipeline is already started";
    case KV3_ERROR_TIMEOUT:
        return "timed out waiting for a frame set";
    case KV3_ERROR_END_OF_STREAM:
        return "end of stream: the replay has delivered its last frame";
    case KV3_ERROR_FRAME_UNREADABLE:
        return "a recorded frame could not be read as a 640 x 480 16-bit depth image";
    case KV3_ERROR_INTERNAL:
        return "internal error of the camera library";
    }
    return "unknown error code";
}

const char* kv3_error_to_string(kv3_error error)
{
    detail::trace("kv3_error_to_string error=" + std::to_string(static_cast<std::int32_t>(error)));
    return detail::error_text(error);
}

}  // namespace kv3
