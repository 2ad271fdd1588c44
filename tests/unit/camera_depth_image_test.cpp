#include "camera/depth_image.hpp"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <kv3/kv3.hpp>

namespace {

// A depth frame over a buffer of the test's own that records which operations were asked.
class RecordingFrame : public kv3::depth_frame {
public:
    RecordingFrame(const std::uint16_t* data, int width, int height)
        : data_(data), width_(width), height_(height)
    {
    }
    std::int32_t width() const override { calls.push_back("width"); return width_; }
    std::int32_t height() const override { calls.push_back("height"); return height_; }
    kv3::kv3_intrinsics intrinsics() const override
    {
        calls.push_back("intrinsics");
        return {};
    }
    const std::uint16_t* data() const override { calls.push_back("data"); return data_; }

    mutable std::vector<std::string> calls;

private:
    const std::uint16_t* data_;
    int width_;
    int height_;
};

}  // namespace

TEST(CameraDepthImage, WrapsTheBufferWithoutCopying)
{
    std::vector<std::uint16_t> buffer(640 * 480);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint16_t>(i % 60000);
    }
    const RecordingFrame frame(buffer.data(), 640, 480);
    const cv::Mat depth = depth_image_of(frame);

    EXPECT_EQ(frame.calls, (std::vector<std::string>{"data", "width", "height"}));
    ASSERT_EQ(depth.type(), CV_16UC1);
    EXPECT_EQ(depth.rows, 480);
    EXPECT_EQ(depth.cols, 640);
    EXPECT_EQ(depth.step, 640u * 2u);
    EXPECT_EQ(depth.ptr<std::uint16_t>(0), buffer.data());
    EXPECT_EQ(depth.at<std::uint16_t>(2, 5), buffer[2 * 640 + 5]);  // row after row

    buffer[320 * 640 + 440] = 777;  // the wrap sees the buffer itself
    EXPECT_EQ(depth.at<std::uint16_t>(320, 440), 777);
}

TEST(CameraDepthImage, TakesItsSizeFromTheFrame)
{
    std::vector<std::uint16_t> buffer(320 * 240, 5);
    const cv::Mat depth = depth_image_of(RecordingFrame(buffer.data(), 320, 240));
    EXPECT_EQ(depth.rows, 240);
    EXPECT_EQ(depth.cols, 320);
}

TEST(CameraDepthImage, UnwrappableFramesGiveAnEmptyImage)
{
    std::vector<std::uint16_t> buffer(16, 1);
    EXPECT_TRUE(depth_image_of(RecordingFrame(nullptr, 640, 480)).empty());
    EXPECT_TRUE(depth_image_of(RecordingFrame(buffer.data(), 0, 480)).empty());
    EXPECT_TRUE(depth_image_of(RecordingFrame(buffer.data(), 640, 0)).empty());
    EXPECT_TRUE(depth_image_of(RecordingFrame(buffer.data(), -4, -4)).empty());
}
