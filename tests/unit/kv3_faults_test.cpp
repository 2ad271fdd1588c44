// Fault injection of the stand-in camera: KV3_FAULTS.
#include "kv3_test_support.hpp"

#include <sim/intrinsics.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace kv3_test;

namespace {

std::unique_ptr<kv3::frame_set> next_set(kv3::pipeline& pipeline, kv3::kv3_error& error)
{
    return std::unique_ptr<kv3::frame_set>(pipeline.wait_for_frames(15000, error));
}

}  // namespace

TEST(Kv3Faults, EachFaultHitsItsOwnFrameOnly)
{
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", "nodepth@2,timeout@3,badsize@4");
    testing::internal::CaptureStderr();
    const camera cam = start_camera();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;

    auto set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->frame_number(), 1u);
    ASSERT_NE(set->get_depth_frame(), nullptr);
    EXPECT_EQ(set->get_depth_frame()->width(), 640);

    set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_EQ(set->frame_number(), 2u);
    EXPECT_EQ(set->get_depth_frame(), nullptr);

    set = next_set(*cam.pipeline, error);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_TIMEOUT);

    // The lost frame kept its number; the wrong-sized one is a whole, readable 320 x 240 frame.
    set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_EQ(set->frame_number(), 4u);
    kv3::depth_frame* small = set->get_depth_frame();
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->width(), 320);
    EXPECT_EQ(small->height(), 240);
    const kv3::kv3_intrinsics k = small->intrinsics();
    EXPECT_EQ(k.width, 320);
    EXPECT_DOUBLE_EQ(k.fx, sim::depth_camera.fx / 2);
    EXPECT_DOUBLE_EQ(k.cy, sim::depth_camera.cy / 2);
    const std::uint16_t* pixels = small->data();
    EXPECT_NEAR(pixels[320 * 240 - 1], 366, 10) << "last pixel: the floor at the bottom row";

    set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->frame_number(), 5u);
    ASSERT_NE(set->get_depth_frame(), nullptr);
    EXPECT_EQ(set->get_depth_frame()->width(), 640);
    EXPECT_EQ(set->get_depth_frame()->height(), 480);
}

TEST(Kv3Faults, ReplayOnceLosesNoRecordedFrameToAFault)
{
    const temp_dir dir;
    const cv::Mat f1 = write_depth_png(dir.file("1.png"), 100);
    const cv::Mat f2 = write_depth_png(dir.file("2.png"), 200);
    const cv::Mat f3 = write_depth_png(dir.file("3.png"), 300);
    const std::string setting = "replay-once:" + dir.path();
    const scoped_env source("KV3_SOURCE", setting.c_str());
    const scoped_env faults("KV3_FAULTS", "timeout@1,badsize@3");
    const camera cam = start_camera();
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;

    EXPECT_EQ(next_set(*cam.pipeline, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_TIMEOUT);
    auto set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->frame_number(), 2u);
    EXPECT_TRUE(same_pixels(depth_pixels(*set), f1));
    set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->frame_number(), 3u);
    const cv::Mat small = depth_pixels(*set);
    EXPECT_EQ(small.size(), cv::Size(320, 240));
    EXPECT_EQ(small.at<std::uint16_t>(10, 20), f2.at<std::uint16_t>(20, 40)) << "every 2nd pixel";
    set = next_set(*cam.pipeline, error);
    ASSERT_NE(set, nullptr);
    EXPECT_TRUE(same_pixels(depth_pixels(*set), f3));
    EXPECT_EQ(next_set(*cam.pipeline, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_END_OF_STREAM);
}

TEST(Kv3Faults, MalformedSettingIsReportedOnceAndIgnoredWhole)
{
    const scoped_env source("KV3_SOURCE", nullptr);
    for (const char* text : {"nodepth", "nodepth@", "nodepth@0", "nodepth@x", "nodepth@-1",
                             "explode@3", "NODEPTH@1", "nodepth@1,", ",nodepth@1",
                             "nodepth@1,,timeout@2", "nodepth@1;timeout@2", "nodepth @1",
                             "nodepth@1,bogus@2", "nodepth@99999999999999999999"}) {
        const scoped_env faults("KV3_FAULTS", text);
        testing::internal::CaptureStderr();
        const camera cam = start_camera();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(cam.query_error, kv3::KV3_SUCCESS) << text;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << text << ": " << said;
        EXPECT_NE(said.find("KV3_FAULTS"), std::string::npos) << said;
        EXPECT_NE(said.find(text), std::string::npos) << said;
        // Even the well-formed part of a malformed setting is ignored: frame 1 has its depth.
        kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
        const auto set = next_set(*cam.pipeline, error);
        ASSERT_NE(set, nullptr) << text;
        EXPECT_NE(set->get_depth_frame(), nullptr) << text;
    }
}
