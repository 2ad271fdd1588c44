#include "camera/camera.hpp"
#include "camera/depth_image.hpp"

#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <kv3/kv3.hpp>

namespace {

class ScopedSource {
public:
    explicit ScopedSource(const std::string& source) { setenv("KV3_SOURCE", source.c_str(), 1); }
    ~ScopedSource() { unsetenv("KV3_SOURCE"); }
};

}  // namespace

TEST(CameraStartup, NoCameraIsTheErrorTestedAfterOpening)
{
    const ScopedSource source("none");
    kv3::kv3_error error{};
    ASSERT_NE(camera_sdk_version(error), nullptr);
    open_camera(error);
    EXPECT_TRUE(camera_failed(error));
    const std::string text = camera_error_text(error);
    EXPECT_FALSE(text.empty());
}

TEST(CameraStartup, StreamsRecordedFramesThatWrapAsDepthImages)
{
    const ScopedSource source("replay-once:" PALLET_TEST_DATA "/depth_two");
    kv3::kv3_error error{};
    kv3::context* context = open_camera(error);
    ASSERT_FALSE(camera_failed(error)) << camera_error_text(error);
    kv3::pipeline* pipeline = start_depth_streaming(context, error);
    ASSERT_NE(pipeline, nullptr);
    EXPECT_FALSE(camera_failed(error)) << camera_error_text(error);

    for (const std::uint16_t probe : {std::uint16_t{1234}, std::uint16_t{2345}}) {
        kv3::frame_set* frames = wait_for_frame_set(*pipeline, error);
        ASSERT_NE(frames, nullptr);
        const kv3::depth_frame* frame = depth_frame_of(*frames);
        ASSERT_NE(frame, nullptr);
        const cv::Mat depth = depth_image_of(*frame);
        ASSERT_EQ(depth.size(), cv::Size(640, 480));
        EXPECT_EQ(depth.at<std::uint16_t>(320, 440), probe);
        EXPECT_EQ(depth.at<std::uint16_t>(440, 320), 3333);
        delete_frame_set(frames);
    }
    EXPECT_EQ(wait_for_frame_set(*pipeline, error), nullptr);  // played once: no third set
    EXPECT_TRUE(camera_failed(error));

    error = kv3::KV3_SUCCESS;
    stop_streaming(*pipeline, error);
    EXPECT_FALSE(camera_failed(error));
}
