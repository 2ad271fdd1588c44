// The stand-in camera's call trace (KV3_TRACE) and the slot order of its virtual operations.
#include "kv3_test_support.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace kv3_test;

namespace {

// The function in slot index of the object's vtable (Itanium C++ ABI: `this` comes first).
template <typename Fn, typename T>
Fn slot(const T* object, std::size_t index)
{
    void* const* vtable = nullptr;
    std::memcpy(&vtable, object, sizeof vtable);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof vtable[index]);
    std::memcpy(&fn, &vtable[index], sizeof fn);
    return fn;
}

std::string last_line(const std::string& path)
{
    const std::vector<std::string> lines = read_lines(path);
    return lines.empty() ? "" : lines.back();
}

}  // namespace

TEST(Kv3Trace, ProgramRunWritesOneLinePerCallInOrder)
{
    const temp_dir dir;
    const std::string trace = dir.file("trace.txt");
    write_text_file(trace, "line of an earlier run\n");
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", "nodepth@2,timeout@3");
    const scoped_env tracing("KV3_TRACE", trace.c_str());

    // The program's own sequence: start-up, four passes of the loop, the stop.
    kv3::kv3_error error = kv3::KV3_SUCCESS;
    kv3::kv3_get_version(error);
    kv3::context* context = kv3::kv3_create_context(error);
    context->query_devices(error);
    kv3::pipeline* pipeline = kv3::kv3_create_pipeline(context, error);
    kv3::config* config = kv3::kv3_create_config(context, error);
    config->enable_stream(kv3::KV3_STREAM_DEPTH, 640, 480, error);
    config->enable_stream(kv3::KV3_STREAM_COLOR, 960, 540, error);
    pipeline->start(config, error);
    for (int pass = 0; pass < 4; ++pass) {
        kv3::frame_set* set = pipeline->wait_for_frames(15000, error);
        if (set == nullptr)
            continue;
        if (const kv3::depth_frame* frame = set->get_depth_frame()) {
            frame->data();
            frame->width();
            frame->height();
        }
        delete set;
    }
    pipeline->stop(error);
    kv3::kv3_error_to_string(kv3::KV3_ERROR_NO_DEVICE);

    const std::vector<std::string> expected = {
        "line of an earlier run",
        "kv3_get_version",
        "kv3_create_context",
        "context.query_devices",
        "kv3_create_pipeline",
        "kv3_create_config",
        "config.enable_stream kind=2 width=640 height=480",
        "config.enable_stream kind=3 width=960 height=540",
        "pipeline.start",
        "pipeline.wait_for_frames timeout_ms=15000 -> frame_set#1",
        "frame_set#1.get_depth_frame -> depth_frame#1",
        "depth_frame#1.data",
        "depth_frame#1.width",
        "depth_frame#1.height",
        "frame_set#1.delete",
        "pipeline.wait_for_frames timeout_ms=15000 -> frame_set#2",
        "frame_set#2.get_depth_frame -> null",
        "frame_set#2.delete",
        "pipeline.wait_for_frames timeout_ms=15000 -> null",
        "pipeline.wait_for_frames timeout_ms=15000 -> frame_set#4",
        "frame_set#4.get_depth_frame -> depth_frame#4",
        "depth_frame#4.data",
        "depth_frame#4.width",
        "depth_frame#4.height",
        "frame_set#4.delete",
        "pipeline.stop",
        "kv3_error_to_string error=1",
    };
    EXPECT_EQ(read_lines(trace), expected);
}

TEST(Kv3Abi, VirtualOperationsSitInTheHeaderSlotOrder)
{
    // Each slot is called through the library's own vtable; the trace names what ran.
    const temp_dir dir;
    const std::string trace = dir.file("trace.txt");
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", nullptr);
    const scoped_env tracing("KV3_TRACE", trace.c_str());
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;

    kv3::context* context = kv3::kv3_create_context(error);
    EXPECT_EQ(slot<std::uint32_t (*)(const kv3::context*)>(context, 0)(context), 30401u);
    EXPECT_EQ(last_line(trace), "context.api_version");
    using query_fn = kv3::device_list* (*)(kv3::context*, kv3::kv3_error&);
    EXPECT_NE(slot<query_fn>(context, 1)(context, error), nullptr);
    EXPECT_EQ(last_line(trace), "context.query_devices");

    kv3::config* config = kv3::kv3_create_config(context, error);
    using enable_fn = bool (*)(kv3::config*, kv3::kv3_stream, std::int16_t, std::int16_t,
                               kv3::kv3_error&);
    EXPECT_TRUE(slot<enable_fn>(config, 0)(config, kv3::KV3_STREAM_INFRARED, 640, 480, error));
    EXPECT_EQ(last_line(trace), "config.enable_stream kind=1 width=640 height=480");
    using disable_fn = bool (*)(kv3::config*, kv3::kv3_stream, kv3::kv3_error&);
    EXPECT_TRUE(slot<disable_fn>(config, 1)(config, kv3::KV3_STREAM_COLOR, error));
    EXPECT_EQ(last_line(trace), "config.disable_stream kind=3");
    slot<void (*)(kv3::config*, kv3::kv3_error&)>(config, 2)(config, error);
    EXPECT_EQ(last_line(trace), "config.disable_all_streams");

    config->enable_stream(kv3::KV3_STREAM_DEPTH, 640, 480, error);
    config->enable_stream(kv3::KV3_STREAM_COLOR, 960, 540, error);
    kv3::pipeline* pipeline = kv3::kv3_create_pipeline(context, error);
    error = kv3::KV3_ERROR_INTERNAL;
    using start_fn = void (*)(kv3::pipeline*, const kv3::config*, kv3::kv3_error&);
    slot<start_fn>(pipeline, 0)(pipeline, config, error);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_EQ(last_line(trace), "pipeline.start");
    using active_fn = const kv3::config* (*)(const kv3::pipeline*, kv3::kv3_error&);
    EXPECT_NE(slot<active_fn>(pipeline, 1)(pipeline, error), nullptr);
    EXPECT_EQ(last_line(trace), "pipeline.active_config");
    using wait_fn = kv3::frame_set* (*)(kv3::pipeline*, std::uint32_t, kv3::kv3_error&);
    kv3::frame_set* set = slot<wait_fn>(pipeline, 3)(pipeline, 1234, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(last_line(trace), "pipeline.wait_for_frames timeout_ms=1234 -> frame_set#1");

    kv3::depth_frame* depth = slot<kv3::depth_frame* (*)(kv3::frame_set*)>(set, 0)(set);
    ASSERT_NE(depth, nullptr);
    EXPECT_EQ(last_line(trace), "frame_set#1.get_depth_frame -> depth_frame#1");
    kv3::color_frame* colour = slot<kv3::color_frame* (*)(kv3::frame_set*)>(set, 1)(set);
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(last_line(trace), "frame_set#1.get_color_frame -> color_frame#1");
    EXPECT_EQ(slot<std::uint64_t (*)(const kv3::frame_set*)>(set, 2)(set), 1u);
    EXPECT_EQ(last_line(trace), "frame_set#1.frame_number");
    slot<std::uint64_t (*)(const kv3::frame_set*)>(set, 3)(set);
    EXPECT_EQ(last_line(trace), "frame_set#1.timestamp_us");

    EXPECT_EQ(slot<std::int32_t (*)(const kv3::depth_frame*)>(depth, 0)(depth), 640);
    EXPECT_EQ(last_line(trace), "depth_frame#1.width");
    EXPECT_EQ(slot<std::int32_t (*)(const kv3::depth_frame*)>(depth, 1)(depth), 480);
    EXPECT_EQ(last_line(trace), "depth_frame#1.height");
    using intrinsics_fn = kv3::kv3_intrinsics (*)(const kv3::depth_frame*);
    const kv3::kv3_intrinsics k = slot<intrinsics_fn>(depth, 2)(depth);
    EXPECT_EQ(k.width, 640);
    EXPECT_EQ(k.fx, 362.37);
    EXPECT_EQ(last_line(trace), "depth_frame#1.intrinsics");
    using depth_data_fn = const std::uint16_t* (*)(const kv3::depth_frame*);
    EXPECT_EQ(slot<depth_data_fn>(depth, 3)(depth), depth->data());
    EXPECT_EQ(last_line(trace), "depth_frame#1.data");

    EXPECT_EQ(slot<std::int32_t (*)(const kv3::color_frame*)>(colour, 0)(colour), 960);
    EXPECT_EQ(last_line(trace), "color_frame#1.width");
    EXPECT_EQ(slot<std::int32_t (*)(const kv3::color_frame*)>(colour, 1)(colour), 540);
    EXPECT_EQ(last_line(trace), "color_frame#1.height");
    using colour_data_fn = const std::uint8_t* (*)(const kv3::color_frame*);
    EXPECT_EQ(slot<colour_data_fn>(colour, 2)(colour), colour->data());
    EXPECT_EQ(last_line(trace), "color_frame#1.data");

    // Slot 4 holds the complete-object destructor, slot 5 the deleting one, which frees the set.
    slot<void (*)(kv3::frame_set*)>(set, 5)(set);
    EXPECT_EQ(last_line(trace), "frame_set#1.delete");

    slot<void (*)(kv3::pipeline*, kv3::kv3_error&)>(pipeline, 2)(pipeline, error);
    EXPECT_EQ(last_line(trace), "pipeline.stop");
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    pipeline->active_config(error);
    EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED) << "slot 2 really stopped the pipeline";
}
