#include "analysis/depth_intake.hpp"

#include <cmath>
#include <cstdint>
#include <sstream>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

namespace {

cv::Mat flat_depth(std::uint16_t d)
{
    return cv::Mat(depth_rows, depth_cols, CV_16UC1, cv::Scalar(d));
}

}  // namespace

TEST(DepthIntake, DepthToPointFollowsTheCameraModel)
{
    const cv::Point3d reference = depth_to_point(420, 320, 1000);
    EXPECT_NEAR(reference.x, -3.78067, 1e-5);
    EXPECT_NEAR(reference.y, 491.96952, 1e-5);
    EXPECT_EQ(reference.z, 1000.0);

    const cv::Point3d corner = depth_to_point(0, 0, 1000);
    EXPECT_NEAR(corner.x, -886.85598, 1e-5);
    EXPECT_NEAR(corner.y, -666.67034, 1e-5);
    EXPECT_EQ(corner.z, 1000.0);

    // Right of and below the principal point both coordinates grow.
    const cv::Point3d far_corner = depth_to_point(479, 639, 2000);
    EXPECT_NEAR(far_corner.x, 2000 * (639 - 321.37) / 362.37, 1e-9);
    EXPECT_NEAR(far_corner.y, 2000 * (479 - 241.664) / 362.494, 1e-9);
}

TEST(DepthIntake, ZeroDepthGivesPositiveZeros)
{
    // Left of and above the principal point the products are -0 before the fix-up.
    for (const cv::Point3d p : {depth_to_point(0, 0, 0), depth_to_point(479, 639, 0)}) {
        EXPECT_EQ(p.x, 0.0);
        EXPECT_EQ(p.y, 0.0);
        EXPECT_EQ(p.z, 0.0);
        EXPECT_FALSE(std::signbit(p.x));
        EXPECT_FALSE(std::signbit(p.y));
        EXPECT_FALSE(std::signbit(p.z));
    }
}

TEST(DepthIntake, ProbeReadsRow320Column440)
{
    cv::Mat depth = flat_depth(1000);
    depth.at<std::uint16_t>(320, 440) = 1234;
    depth.at<std::uint16_t>(440, 320) = 4321;
    EXPECT_EQ(probe_depth(depth), 1234);

    std::ostringstream out;
    write_probe(out, depth);
    EXPECT_EQ(out.str(), "1234\r");

    depth.at<std::uint16_t>(320, 440) = 65535;  // unsigned, not a negative 16-bit number
    std::ostringstream top;
    write_probe(top, depth);
    EXPECT_EQ(top.str(), "65535\r");
}

TEST(DepthIntake, DepthViewOfAConstantFrameIsBlack)
{
    for (const std::uint16_t d : {std::uint16_t{0}, std::uint16_t{1500}, std::uint16_t{65535}}) {
        const cv::Mat view = make_depth_view(flat_depth(d));
        ASSERT_EQ(view.type(), CV_8UC1);
        ASSERT_EQ(view.size(), cv::Size(depth_cols, depth_rows));
        EXPECT_EQ(cv::countNonZero(view), 0) << "depth " << d;
    }
}

TEST(DepthIntake, DepthViewScalesFromTheSmallestToTheLargestDepth)
{
    cv::Mat depth = flat_depth(1000);
    depth.at<std::uint16_t>(10, 20) = 0;     // no measurement: takes part in the minimum
    depth.at<std::uint16_t>(30, 40) = 2040;  // the largest depth
    depth.at<std::uint16_t>(50, 60) = 1003;
    const cv::Mat view = make_depth_view(depth);
    EXPECT_EQ(view.at<std::uint8_t>(10, 20), 0);
    EXPECT_EQ(view.at<std::uint8_t>(30, 40), 255);
    EXPECT_EQ(view.at<std::uint8_t>(0, 0), 125);   // 1000 * 255 / 2040
    EXPECT_EQ(view.at<std::uint8_t>(50, 60), 125);  // 125.375 rounds to the nearest

    // Without a zero the smallest depth is black and the scale follows the frame.
    cv::Mat measured = flat_depth(1000);
    measured.at<std::uint16_t>(30, 40) = 1510;
    const cv::Mat measured_view = make_depth_view(measured);
    EXPECT_EQ(measured_view.at<std::uint8_t>(0, 0), 0);
    EXPECT_EQ(measured_view.at<std::uint8_t>(30, 40), 255);
}

TEST(DepthIntake, DepthViewOfTheReplayFrameMatchesItsStoredView)
{
    // The end-to-end test compares the window with this stored view.
    const cv::Mat depth =
        cv::imread(PALLET_TEST_DATA "/depth_one/depth_0001.png", cv::IMREAD_UNCHANGED);
    const cv::Mat expected = cv::imread(PALLET_TEST_DATA "/depth_one_view.png", cv::IMREAD_UNCHANGED);
    ASSERT_EQ(depth.type(), CV_16UC1);
    ASSERT_EQ(expected.type(), CV_8UC1);
    EXPECT_EQ(probe_depth(depth), 1234);
    const cv::Mat view = make_depth_view(depth);
    EXPECT_EQ(cv::norm(view, expected, cv::NORM_INF), 0.0);
}
