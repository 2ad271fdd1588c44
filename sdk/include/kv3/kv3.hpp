// libkorvatel3: the camera SDK's public interface.
//
// The objects below are handed out by the factory functions and used through their virtual
// operations only; the order of the virtual operations in each class is part of the binary
// interface and must not change. Errors travel through one kv3_error out-parameter that every
// call taking it writes (KV3_SUCCESS when the call went well).
#pragma once

#include <cstdint>

#if defined(KV3_BUILDING_LIBRARY)
#define KV3_API __attribute__((visibility("default")))
#else
#define KV3_API
#endif

namespace kv3 {

enum kv3_error : std::int32_t {
    KV3_SUCCESS = 0,
    KV3_ERROR_NO_DEVICE = 1,        // no camera connected
    KV3_ERROR_INVALID_SOURCE = 2,   // the source setting names nothing the SDK knows
    KV3_ERROR_SOURCE_NOT_FOUND = 3, // a replay folder that is missing or holds no frames
    KV3_ERROR_INVALID_ARGUMENT = 4, // a null pointer, an unknown stream kind or a bad size
    KV3_ERROR_NOT_STARTED = 5,      // the pipeline is not streaming
    KV3_ERROR_ALREADY_STARTED = 6,  // start on a pipeline that streams already
    KV3_ERROR_TIMEOUT = 7,          // no frame set arrived within the wait's time-out
    KV3_ERROR_END_OF_STREAM = 8,    // a replay that plays once has delivered its last frame
    KV3_ERROR_FRAME_UNREADABLE = 9, // a recorded frame could not be read
    KV3_ERROR_INTERNAL = 10,
};

enum kv3_stream : std::int32_t {
    KV3_STREAM_ANY = 0,
    KV3_STREAM_INFRARED = 1,
    KV3_STREAM_DEPTH = 2,  // unsigned 16-bit millimetres, 0 = no measurement
    KV3_STREAM_COLOR = 3,  // 8-bit blue-green-red
};

// Pinhole intrinsics of a stream, in pixels; the depth camera has no lens distortion term.
struct kv3_intrinsics {
    std::int32_t width;
    std::int32_t height;
    double fx;
    double fy;
    double cx;
    double cy;
};

struct device_list;  // opaque: owned by the context that returned it

class depth_frame {
public:
    virtual std::int32_t width() const = 0;
    virtual std::int32_t height() const = 0;
    virtual kv3_intrinsics intrinsics() const = 0;
    virtual const std::uint16_t* data() const = 0;  // width x height values, row after row

protected:
    ~depth_frame() = default;  // owned by its frame set
};

class color_frame {
public:
    virtual std::int32_t width() const = 0;
    virtual std::int32_t height() const = 0;
    virtual const std::uint8_t* data() const = 0;  // width x height x 3 bytes, blue-green-red

protected:
    ~color_frame() = default;  // owned by its frame set
};

class frame_set {
public:
    virtual depth_frame* get_depth_frame() = 0;  // null when the set holds no depth frame
    virtual color_frame* get_color_frame() = 0;  // null when the set holds no colour frame
    virtual std::uint64_t frame_number() const = 0;  // counted from 1
    virtual std::uint64_t timestamp_us() const = 0;  // microseconds since the pipeline started
    virtual ~frame_set() = default;  // releases the set and its frames
};

class config {
public:
    // Asks for a stream; returns false (and sets the error) for an unknown kind or a bad size.
    virtual bool enable_stream(kv3_stream kind, std::int16_t width, std::int16_t height,
                               kv3_error& error) = 0;
    virtual bool disable_stream(kv3_stream kind, kv3_error& error) = 0;
    virtual void disable_all_streams(kv3_error& error) = 0;

protected:
    ~config() = default;  // lives as long as the context
};

class pipeline {
public:
    virtual void start(const config* cfg, kv3_error& error) = 0;
    virtual const config* active_config(kv3_error& error) const = 0;
    virtual void stop(kv3_error& error) = 0;
    // Waits up to timeout_ms for the next frame set; null (and an error) when none came.
    // The caller owns the returned set and deletes it.
    virtual frame_set* wait_for_frames(std::uint32_t timeout_ms, kv3_error& error) = 0;

protected:
    ~pipeline() = default;  // lives as long as the context
};

class context {
public:
    virtual std::uint32_t api_version() const = 0;
    // Looks for connected devices (this is where the configured source is checked); the list
    // belongs to the context.
    virtual device_list* query_devices(kv3_error& error) = 0;

protected:
    ~context() = default;  // lives until the process ends
};

KV3_API const char* kv3_get_version(kv3_error& error);
KV3_API context* kv3_create_context(kv3_error& error);
KV3_API pipeline* kv3_create_pipeline(const context* ctx, kv3_error& error);
KV3_API config* kv3_create_config(const context* ctx, kv3_error& error);
KV3_API const char* kv3_error_to_string(kv3_error error);

}  // namespace kv3
