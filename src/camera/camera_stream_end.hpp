// When waiting on the camera is no use any more.
#pragma once

#include <cstdint>

namespace kv3 {
enum kv3_error : std::int32_t;
}

// True for the errors after which no frame set will come: a replay that plays once has
// delivered its last frame, or the pipeline does not stream.
bool camera_stream_ended(kv3::kv3_error error);
