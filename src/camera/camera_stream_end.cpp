#include "camera/camera_stream_end.hpp"

#include <kv3/kv3.hpp>

bool camera_stream_ended(kv3::kv3_error error)
{
    return error == kv3::KV3_ERROR_END_OF_STREAM || error == kv3::KV3_ERROR_NOT_STARTED;
}
