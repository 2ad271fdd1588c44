#include "camera/camera.hpp"

#include <kv3/kv3.hpp>

const char* camera_sdk_version(kv3::kv3_error& error)
{
    return kv3::kv3_get_version(error);
}

kv3::context* open_camera(kv3::kv3_error& error)
{
    kv3::context* context = kv3::kv3_create_context(error);
    context->query_devices(error);  // the list itself is not needed, only the error it leaves
    return context;
}

bool camera_failed(kv3::kv3_error error)
{
    return error != kv3::KV3_SUCCESS;
}

const char* camera_error_text(kv3::kv3_error error)
{
    return kv3::kv3_error_to_string(error);
}

kv3::pipeline* start_depth_streaming(const kv3::context* context, kv3::kv3_error& error)
{
    kv3::pipeline* pipeline = kv3::kv3_create_pipeline(context, error);
    kv3::config* config = kv3::kv3_create_config(context, error);
    config->enable_stream(kv3::KV3_STREAM_DEPTH, 640, 480, error);
    config->enable_stream(kv3::KV3_STREAM_COLOR, 960, 540, error);
    pipeline->start(config, error);
    return pipeline;
}

kv3::frame_set* wait_for_frame_set(kv3::pipeline& pipeline, kv3::kv3_error& error)
{
    return pipeline.wait_for_frames(15000, error);  // ms
}

const kv3::depth_frame* depth_frame_of(kv3::frame_set& frames)
{
    return frames.get_depth_frame();
}

double frame_set_time_s(const kv3::frame_set& frames)
{
    return static_cast<double>(frames.timestamp_us()) * 1e-6;
}

void delete_frame_set(kv3::frame_set* frames)
{
    delete frames;
}

void stop_streaming(kv3::pipeline& pipeline, kv3::kv3_error& error)
{
    pipeline.stop(error);
}
