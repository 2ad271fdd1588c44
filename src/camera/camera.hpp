// The program's use of the camera SDK: start-up, streams and frame sets. Every function passes
// the caller's one error variable to the SDK, which writes it; none of them reads it.
#pragma once

#include <cstdint>

namespace kv3 {
enum kv3_error : std::int32_t;
class context;
class pipeline;
class config;
class frame_set;
class depth_frame;
}  // namespace kv3

// The SDK's version text.
const char* camera_sdk_version(kv3::kv3_error& error);

// Creates the context and asks it for devices, which is where the SDK checks its source; the
// error it leaves says whether a camera is there.
kv3::context* open_camera(kv3::kv3_error& error);

// True when the error variable holds a failure.
bool camera_failed(kv3::kv3_error error);

// The SDK's text for an error value.
const char* camera_error_text(kv3::kv3_error error);

// Creates the pipeline and the config, enables the depth stream (kind 2, 640 x 480) and the
// colour stream (kind 3, 960 x 540, never read), and starts the pipeline with that config.
kv3::pipeline* start_depth_streaming(const kv3::context* context, kv3::kv3_error& error);

// Waits up to 15 s for the next frame set; null when none came. The caller deletes it.
kv3::frame_set* wait_for_frame_set(kv3::pipeline& pipeline, kv3::kv3_error& error);

// The set's depth frame, null when it holds none; it lives as long as the set.
const kv3::depth_frame* depth_frame_of(kv3::frame_set& frames);

// The set's timestamp in seconds since the pipeline started.
double frame_set_time_s(const kv3::frame_set& frames);

// Releases the set and its frames; a null set is left alone.
void delete_frame_set(kv3::frame_set* frames);

void stop_streaming(kv3::pipeline& pipeline, kv3::kv3_error& error);
