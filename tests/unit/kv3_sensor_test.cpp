// The stand-in camera's sensor setting, KV3_SENSOR: which sensor films its scenes.
#include "kv3_test_support.hpp"

#include <sim/scenes.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace kv3_test;

namespace {

// The first depth frame of a camera started from the current environment.
cv::Mat first_frame()
{
    const camera cam = start_camera();
    EXPECT_EQ(cam.start_error, kv3::KV3_SUCCESS);
    kv3::kv3_error error = kv3::KV3_SUCCESS;
    const std::unique_ptr<kv3::frame_set> set(cam.pipeline->wait_for_frames(15000, error));
    if (set == nullptr)
        return {};
    const cv::Mat depth = depth_pixels(*set);
    cam.pipeline->stop(error);
    return depth;
}

}  // namespace

TEST(Kv3Sensor, ScenesAreFilmedWithTheNamedPresetAndLegacyWithoutOne)
{
    const scoped_env faults("KV3_FAULTS", nullptr);
    const scoped_env source("KV3_SOURCE", "scene:pallet");
    const cv::Mat legacy = sim::render_scene_frame("pallet", 1).depth;
    const char* const unchanged_settings[] = {nullptr, "", "legacy"};
    for (const char* unchanged : unchanged_settings) {
        const scoped_env sensor("KV3_SENSOR", unchanged);
        EXPECT_TRUE(same_pixels(first_frame(), legacy)) << (unchanged ? unchanged : "unset");
    }
    for (const char* name : {"ideal", "tof", "tof:noise"}) {
        const scoped_env sensor("KV3_SENSOR", name);
        const cv::Mat expected = sim::render_scene_frame("pallet", 1, sim::sensor_preset(name)).depth;
        const cv::Mat got = first_frame();
        EXPECT_TRUE(same_pixels(got, expected)) << name;
        EXPECT_FALSE(same_pixels(got, legacy)) << name;
    }
}

TEST(Kv3Sensor, AReplayPlaysItsFramesAsRecordedWhateverTheSensor)
{
    const scoped_env faults("KV3_FAULTS", nullptr);
    const temp_dir folder;
    const cv::Mat recorded = write_depth_png(folder.file("a.png"), 700);
    const std::string replay = "replay:" + folder.path();
    const scoped_env source("KV3_SOURCE", replay.c_str());
    const scoped_env sensor("KV3_SENSOR", "tof");
    EXPECT_TRUE(same_pixels(first_frame(), recorded));
}

TEST(Kv3Sensor, AnUnknownSensorIsAStartUpErrorThatSaysSo)
{
    const scoped_env faults("KV3_FAULTS", nullptr);
    const scoped_env source("KV3_SOURCE", nullptr);
    for (const char* bad : {"TOF", "tof:", "tof:all", "ideal ", "none"}) {
        const scoped_env sensor("KV3_SENSOR", bad);
        testing::internal::CaptureStderr();
        const camera cam = start_camera();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(cam.query_error, kv3::KV3_ERROR_INVALID_SOURCE) << bad;
        EXPECT_EQ(cam.start_error, kv3::KV3_ERROR_INVALID_SOURCE) << bad;
        EXPECT_NE(said.find("KV3_SENSOR=\"" + std::string(bad) + "\""), std::string::npos) << said;
        EXPECT_NE(said.find(sim::sensor_preset_list()), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        kv3::kv3_error error = kv3::KV3_SUCCESS;
        EXPECT_EQ(cam.pipeline->wait_for_frames(15000, error), nullptr);
        EXPECT_EQ(error, kv3::KV3_ERROR_NOT_STARTED);
    }
    const std::string text = kv3::kv3_error_to_string(kv3::KV3_ERROR_INVALID_SOURCE);
    EXPECT_NE(text.find("KV3_SENSOR"), std::string::npos) << text;

    // A bad source is said first, and alone; without a camera the sensor is not looked at.
    const scoped_env sensor("KV3_SENSOR", "bogus");
    {
        const scoped_env bad_source("KV3_SOURCE", "scene:nowhere");
        testing::internal::CaptureStderr();
        const camera cam = start_camera();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(cam.query_error, kv3::KV3_ERROR_INVALID_SOURCE);
        EXPECT_NE(said.find("KV3_SOURCE"), std::string::npos) << said;
        EXPECT_EQ(said.find("KV3_SENSOR=\""), std::string::npos) << said;
    }
    const scoped_env no_camera("KV3_SOURCE", "none");
    testing::internal::CaptureStderr();
    EXPECT_EQ(start_camera().query_error, kv3::KV3_ERROR_NO_DEVICE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
