// The stand-in camera's sources: the rendered scene and the replay of recorded PNG frames.
#include "kv3_test_support.hpp"

#include "analysis/depth_intake.hpp"

#include <sim/intrinsics.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>

#include <sys/stat.h>

using namespace kv3_test;

namespace {

std::unique_ptr<kv3::frame_set> next_set(kv3::pipeline& pipeline, kv3::kv3_error& error)
{
    return std::unique_ptr<kv3::frame_set>(pipeline.wait_for_frames(15000, error));
}

}  // namespace

TEST(Kv3Scene, FloorFramesHaveTheCameraSizeIntrinsicsAndGeometry)
{
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera cam = start_camera();
    ASSERT_EQ(cam.query_error, kv3::KV3_SUCCESS);
    ASSERT_EQ(cam.start_error, kv3::KV3_SUCCESS);

    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    const auto first = next_set(*cam.pipeline, error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, kv3::KV3_SUCCESS);
    EXPECT_EQ(first->frame_number(), 1u);
    kv3::depth_frame* frame = first->get_depth_frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width(), 640);
    EXPECT_EQ(frame->height(), 480);

    // The SDK's intrinsics are the simulator's and the program's camera model, bit for bit.
    const kv3::kv3_intrinsics k = frame->intrinsics();
    EXPECT_EQ(k.width, sim::depth_camera.width);
    EXPECT_EQ(k.height, sim::depth_camera.height);
    EXPECT_EQ(k.fx, camera_model.fx);
    EXPECT_EQ(k.fy, camera_model.fy);
    EXPECT_EQ(k.cx, camera_model.cx);
    EXPECT_EQ(k.cy, camera_model.cy);

    // 200 mm above the floor, tilted 6 degrees up: the bottom row sees the floor at about
    // 366 mm, the ground patch rows 380..459 between about 400 and 730 mm, the top rows nothing.
    const cv::Mat depth = depth_pixels(*first);
    EXPECT_NEAR(cv::mean(depth.row(479))[0], 366.0, 5.0);
    EXPECT_NEAR(cv::mean(depth.row(459))[0], 402.0, 5.0);
    EXPECT_NEAR(cv::mean(depth.row(380))[0], 727.0, 8.0);
    EXPECT_EQ(cv::countNonZero(depth.rowRange(0, 250)), 0);
    EXPECT_EQ(cv::countNonZero(depth.rowRange(380, 480)), 100 * 640);

    const auto second = next_set(*cam.pipeline, error);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->frame_number(), 2u);
    EXPECT_GT(second->timestamp_us(), first->timestamp_us());
    const cv::Mat depth2 = depth_pixels(*second);
    EXPECT_FALSE(same_pixels(depth, depth2)) << "the sensor noise changes from frame to frame";
    // The near floor stays put while the default animation moves its pallet.
    EXPECT_LT(cv::norm(depth.rowRange(380, 480), depth2.rowRange(380, 480), cv::NORM_INF), 30.0);
}

TEST(Kv3Scene, SameFrameNumberRendersTheSameFrame)
{
    const scoped_env source("KV3_SOURCE", "scene");
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera a = start_camera();
    const camera b = start_camera();
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    const auto from_a = next_set(*a.pipeline, error);
    const auto from_b = next_set(*b.pipeline, error);
    ASSERT_NE(from_a, nullptr);
    ASSERT_NE(from_b, nullptr);
    EXPECT_TRUE(same_pixels(depth_pixels(*from_a), depth_pixels(*from_b)));
}

TEST(Kv3Scene, ColourFrameOnlyWhenItsStreamIsEnabled)
{
    const scoped_env source("KV3_SOURCE", nullptr);
    const scoped_env faults("KV3_FAULTS", nullptr);
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;

    const camera depth_only = start_camera(false);
    const auto plain = next_set(*depth_only.pipeline, error);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->get_color_frame(), nullptr);

    const camera both = start_camera(true);
    const auto set = next_set(*both.pipeline, error);
    ASSERT_NE(set, nullptr);
    kv3::color_frame* colour = set->get_color_frame();
    ASSERT_NE(colour, nullptr);
    EXPECT_EQ(colour->width(), 960);
    EXPECT_EQ(colour->height(), 540);
    const std::uint8_t* bytes = colour->data();
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(set->get_color_frame(), colour) << "one colour frame per set";
    EXPECT_NE(set->get_depth_frame(), nullptr);
}

TEST(Kv3Replay, PlaysFilesInNameOrderAndStartsOverAfterTheLast)
{
    const temp_dir dir;
    // Name order, not creation order: "10.png" sorts before "a.png"; other files are not frames.
    const cv::Mat b = write_depth_png(dir.file("b.png"), 2000);
    const cv::Mat a = write_depth_png(dir.file("a.png"), 1000);
    const cv::Mat ten = write_depth_png(dir.file("10.png"), 3000);
    write_text_file(dir.file("notes.txt"), "not a frame");
    const std::string setting = "replay:" + dir.path();
    const scoped_env source("KV3_SOURCE", setting.c_str());
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera cam = start_camera();
    ASSERT_EQ(cam.query_error, kv3::KV3_SUCCESS);

    const cv::Mat expected[] = {ten, a, b, ten, a, b, ten};
    for (std::uint64_t n = 1; n <= 7; ++n) {
        kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
        const auto set = next_set(*cam.pipeline, error);
        ASSERT_NE(set, nullptr) << "frame " << n;
        EXPECT_EQ(error, kv3::KV3_SUCCESS);
        EXPECT_EQ(set->frame_number(), n);
        EXPECT_TRUE(same_pixels(depth_pixels(*set), expected[n - 1])) << "frame " << n;
    }
}

TEST(Kv3Replay, PlayOnceDeliversEveryFrameThenEndsForGood)
{
    const temp_dir dir;
    const cv::Mat f1 = write_depth_png(dir.file("frame_001.png"), 100);
    const cv::Mat f2 = write_depth_png(dir.file("frame_002.png"), 200);
    const cv::Mat f3 = write_depth_png(dir.file("frame_003.png"), 300);
    const std::string setting = "replay-once:" + dir.path();
    const scoped_env source("KV3_SOURCE", setting.c_str());
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera cam = start_camera();
    ASSERT_EQ(cam.query_error, kv3::KV3_SUCCESS);

    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    for (const cv::Mat& expected : {f1, f2, f3}) {
        const auto set = next_set(*cam.pipeline, error);
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(error, kv3::KV3_SUCCESS);
        EXPECT_TRUE(same_pixels(depth_pixels(*set), expected));
    }
    for (int again = 0; again < 3; ++again) {
        error = kv3::KV3_SUCCESS;
        EXPECT_EQ(cam.pipeline->wait_for_frames(15000, error), nullptr);
        EXPECT_EQ(error, kv3::KV3_ERROR_END_OF_STREAM);
    }
}

TEST(Kv3Replay, FrameBuffersStayValidUntilTheirSetIsDeleted)
{
    const temp_dir dir;
    const cv::Mat f1 = write_depth_png(dir.file("1.png"), 10);
    const cv::Mat f2 = write_depth_png(dir.file("2.png"), 20);
    const std::string setting = "replay:" + dir.path();
    const scoped_env source("KV3_SOURCE", setting.c_str());
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera cam = start_camera();

    // Hold three sets at once; each buffer must still hold its own frame after later waits
    // (a shared or recycled buffer would show the newer frame, a freed one trips ASan).
    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    std::unique_ptr<kv3::frame_set> sets[3];
    const std::uint16_t* buffers[3];
    for (int i = 0; i < 3; ++i) {
        sets[i] = next_set(*cam.pipeline, error);
        ASSERT_NE(sets[i], nullptr);
        buffers[i] = sets[i]->get_depth_frame()->data();
    }
    const cv::Mat expected[] = {f1, f2, f1};
    for (int i = 2; i >= 0; --i) {
        const cv::Mat view(480, 640, CV_16UC1, const_cast<std::uint16_t*>(buffers[i]));
        EXPECT_TRUE(same_pixels(view, expected[i])) << "set " << i + 1;
        sets[i].reset();
    }
}

TEST(Kv3Replay, BadFilesGiveSetsWithoutDepthAndOneLineEach)
{
    const temp_dir dir;
    const cv::Mat good = write_depth_png(dir.file("a_good.png"), 500);
    ASSERT_TRUE(cv::imwrite(dir.file("b_8bit.png"), cv::Mat(480, 640, CV_8UC1, cv::Scalar(7))));
    ASSERT_TRUE(cv::imwrite(dir.file("c_colour.png"), cv::Mat(480, 640, CV_16UC3, cv::Scalar(7))));
    ASSERT_TRUE(cv::imwrite(dir.file("d_small.png"), cv::Mat(240, 320, CV_16UC1, cv::Scalar(7))));
    write_text_file(dir.file("e_garbage.png"), "this is no PNG");
    // A named pipe must not be opened: nothing would ever write to it.
    ASSERT_EQ(::mkfifo(dir.file("f_pipe.png").c_str(), 0600), 0);
    std::filesystem::create_symlink("f_loop.png", dir.file("f_loop.png"));
    const cv::Mat last = write_depth_png(dir.file("g_good.png"), 900);
    const std::string setting = "replay-once:" + dir.path();
    const scoped_env source("KV3_SOURCE", setting.c_str());
    const scoped_env faults("KV3_FAULTS", nullptr);
    const camera cam = start_camera();
    ASSERT_EQ(cam.query_error, kv3::KV3_SUCCESS);

    kv3::kv3_error error = kv3::KV3_ERROR_INTERNAL;
    const auto first = next_set(*cam.pipeline, error);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(same_pixels(depth_pixels(*first), good));

    const std::pair<const char*, const char*> bad[] = {
        {"b_8bit.png", "not a 16-bit single-channel PNG (8-bit, 1 channel)"},
        {"c_colour.png", "not a 16-bit single-channel PNG (16-bit, 3 channels)"},
        {"d_small.png", "not 640 x 480 (320 x 240)"},
        {"e_garbage.png", "not a PNG file"},
        {"f_loop.png", "a symbolic link loop"},
        {"f_pipe.png", "not a regular file (a named pipe)"},
    };
    for (const auto& [name, reason] : bad) {
        testing::internal::CaptureStderr();
        const auto set = next_set(*cam.pipeline, error);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_NE(set, nullptr) << name;
        EXPECT_EQ(error, kv3::KV3_ERROR_FRAME_UNREADABLE) << name;
        EXPECT_EQ(set->get_depth_frame(), nullptr) << name;
        // Exactly one line, naming the file and the reason; the decoder adds nothing.
        EXPECT_EQ(said, "kv3: replay frame " + dir.file(name) + ": " + reason + "; no depth frame\n");
    }
    const auto after = next_set(*cam.pipeline, error);
    ASSERT_NE(after, nullptr);
    EXPECT_TRUE(same_pixels(depth_pixels(*after), last));
    EXPECT_EQ(next_set(*cam.pipeline, error), nullptr);
    EXPECT_EQ(error, kv3::KV3_ERROR_END_OF_STREAM);
}
