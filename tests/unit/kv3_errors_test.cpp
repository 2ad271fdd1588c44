// The stand-in camera's error values, their texts and the calls that leave them.
#include "kv3_test_support.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <set>

using namespace kv3_test;

TEST(Kv3Errors, EveryValueHasItsOwnTextAndUnknownValuesOneToo)
{
    EXPECT_EQ(sizeof(kv3::kv3_error), 4u);
    std::set<std::string> texts;
    for (std::int32_t value = 0; value <= 10; ++value) {
        const char* text = kv3::kv3_error_to_string(static_cast<kv3::kv3_error>(value));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::string(text).size(), 5u) << value;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), 11u) << "two values share a text";
    EXPECT_STREQ(kv3::kv3_error_to_string(kv3::KV3_ERROR_NO_DEVICE), "no camera connected");
    EXPECT_STREQ(kv3::kv3_error_to_string(kv3::KV3_ERROR_SOURCE_NOT_FOUND),
                 "replay folder is missing or holds no PNG frames");
    EXPECT_EQ(std::string(kv3::kv3_error_to_string(kv3::KV3_ERROR_INVALID_SOURCE)).rfind(
                  "unknown source", 0),
              0u);
    const std::string unknown = kv3::kv3_error_to_string(static_cast<kv3::kv3_error>(11));
    EXPECT_EQ(unknown, "unknown error code");
    EXPECT_EQ(unknown, kv3::kv3_error_to_string(static_cast<kv3::kv3_error>(-1)));
    EXPECT_EQ(texts.count(unknown), 0u);
}

TEST(Kv3Errors, QueryDevicesChecksTheSource)
{
    const temp_dir empty;
    const temp_dir no_frames;
    write_text_file(no_frames.file("depth.txt"), "x");
    ASSERT_TRUE(cv::imwrite(no_frames.file("depth.jpg"), cv::Mat(4, 4, CV_8UC1, cv::Scalar(1))));
    const temp_dir with_frame;
    write_depth_png(with_frame.file("f.png"), 1);
    const std::string missing = empty.path() + "/nowhere";

    const struct {
        std::optional<std::string> source;
        kv3::kv3_error expected;
    } cases[] = {
        {std::nullopt, kv3::KV3_SUCCESS},
        {"", kv3::KV3_SUCCESS},
        {"scene", kv3::KV3_SUCCESS},
        {"replay:" + with_frame.path(), kv3::KV3_SUCCESS},
        {"replay-once:" + with_frame.path(), kv3::KV3_SUCCESS},
        {"none", kv3::KV3_ERROR_NO_DEVICE},
        {"camera", kv3::KV3_ERROR_INVALID_SOURCE},
        {"Scene", kv3::KV3_ERROR_INVALID_SOURCE},
        {"scene:", kv3::KV3_ERROR_INVALID_SOURCE},
        {"scene:no_such_scene", kv3::KV3_ERROR_INVALID_SOURCE},
        {"replay", kv3::KV3_ERROR_INVALID_SOURCE},
        {"replay:", kv3::KV3_ERROR_SOURCE_NOT_FOUND},
        {"replay:" + missing, kv3::KV3_ERROR_SOURCE_NOT_FOUND},
        {"replay:" + empty.path(), kv3::KV3_ERROR_SOURCE_NOT_FOUND},
        {"replay-once:" + no_frames.path(), kv3::KV3_ERROR_SOURCE_NOT_FOUND},
        {"replay:" + with_frame.file("f.png"), kv3::KV3_ERROR_SOURCE_NOT_FOUND},
    };
    const scoped_env faults("KV3_FAULTS", nullptr);
    for (const auto& c : cases) {
        const std::string label = c.source ? "KV3_SOURCE=" + *c.source : "KV3_SOURCE unset";
        const scoped_env source("KV3_SOURCE", c.source ? c.source->c_str() : nullptr);
        testing::internal::CaptureStderr();
        const camera cam = start_camera();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(cam.query_error, c.expected) << label;
        // The pipeline cannot stream from a source the query refused, and says why the same way.
        EXPECT_EQ(cam.start_error, c.expected) << label;
        kv3::kv3_error error = kv3::KV3_SUCCESS;
        const std::unique_ptr<kv3::frame_set> set(cam.pipeline->wait_for_frames(15000, error));
        EXPECT_EQ(set == nullptr, c.expected != kv3::KV3_SUCCESS) << label;
        if (c.expected != kv3::KV3_SUCCESS) {
            EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED) << label;
        }
        // A bad value or folder is named on standard error; no camera and success say nothing.
        const bool named = c.expected == kv3::KV3_ERROR_INVALID_SOURCE
                           || c.expected == kv3::KV3_ERROR_SOURCE_NOT_FOUND;
        EXPECT_EQ(said.empty(), !named) << label << ": " << said;
        if (named) {
            EXPECT_NE(said.find(*c.source), std::string::npos) << said;
        }
    }
}

TEST(Kv3Errors, MisusedCallsSayWhatIsWrongAndSuccessClearsTheError)
{
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", nullptr);
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    EXPECT_NE(kv3::kv3_get_version(error), nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    error = kv3::KV3_ERROR_INTERNAL;
    kv3::context* context = kv3::kv3_create_context(error);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    error = kv3::KV3_ERROR_INTERNAL;
    EXPECT_NE(context->query_devices(error), nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);

    EXPECT_EQ(kv3::kv3_create_pipeline(nullptr, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
    EXPECT_EQ(kv3::kv3_create_config(nullptr, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
    kv3::pipeline* pipeline = kv3::kv3_create_pipeline(context, error);
    ASSERT_NE(pipeline, nullptr);
    kv3::config* config = kv3::kv3_create_config(context, error);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);

    // Streams the sensor has not: unknown kinds and sizes other than its modes.
    EXPECT_FALSE(config->enable_stream(static_cast<kv3::kv3_stream>(7), 640, 480, error));
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
    EXPECT_FALSE(config->enable_stream(kv3::KV3_STREAM_ANY, 640, 480, error));
    EXPECT_FALSE(config->enable_stream(kv3::KV3_STREAM_DEPTH, 320, 240, error));
    EXPECT_FALSE(config->enable_stream(kv3::KV3_STREAM_DEPTH, -640, 480, error));
    EXPECT_FALSE(config->enable_stream(kv3::KV3_STREAM_COLOR, 640, 480, error));
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
    EXPECT_FALSE(config->disable_stream(static_cast<kv3::kv3_stream>(9), error));
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);

    // Nothing streams before a start; a start needs a config with at least one stream.
    EXPECT_EQ(pipeline->wait_for_frames(15000, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED);
    pipeline->stop(error);
    EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED);
    EXPECT_EQ(pipeline->active_config(error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED);
    pipeline->start(nullptr, error);
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
    pipeline->start(config, error);
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);

    EXPECT_TRUE(config->enable_stream(kv3::KV3_STREAM_DEPTH, 640, 480, error));
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    pipeline->start(config, error);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_NE(pipeline->active_config(error), nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    pipeline->start(config, error);
    EXPECT_EQ(error, kv3::KV3_ERROR_ALREADY_STARTED);
    error = kv3::KV3_ERROR_INTERNAL;
    std::unique_ptr<kv3::frame_set> set(pipeline->wait_for_frames(15000, error));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_NE(set->get_depth_frame(), nullptr);

    pipeline->stop(error);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_EQ(pipeline->wait_for_frames(15000, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED);

    // With the depth stream disabled again, a start streams colour only: sets without depth.
    EXPECT_TRUE(config->enable_stream(kv3::KV3_STREAM_COLOR, 960, 540, error));
    EXPECT_TRUE(config->disable_stream(kv3::KV3_STREAM_DEPTH, error));
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    pipeline->start(config, error);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    set.reset(pipeline->wait_for_frames(15000, error));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->get_depth_frame(), nullptr);
    EXPECT_NE(set->get_color_frame(), nullptr);
    pipeline->stop(error);
    config->disable_all_streams(error);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    pipeline->start(config, error);
    EXPECT_EQ(error, kv3::KV3_ERROR_INVALID_ARGUMENT);
}
