#include "analysis/pallet_pose.hpp"

#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"

namespace {

// Closed square outline, corners only, clockwise from the top-left.
Contour square(int x, int y, int side)
{
    return {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}};
}

Eigen::Matrix3d rz_ry_rx(double yaw_deg, double pitch_deg, double roll_deg)
{
    const double rad = std::acos(-1.0) / 180.0;
    return (Eigen::AngleAxisd(yaw_deg * rad, Eigen::Vector3d::UnitZ()) *
            Eigen::AngleAxisd(pitch_deg * rad, Eigen::Vector3d::UnitY()) *
            Eigen::AngleAxisd(roll_deg * rad, Eigen::Vector3d::UnitX()))
        .toRotationMatrix();
}

}  // namespace

TEST(SelectPalletContours, LargestAreaEarliestOnTies)
{
    EXPECT_TRUE(select_pallet_contours({}).empty());

    // Two squares of the same largest area: the earlier one is the face.
    const std::vector<Contour> tied = {square(0, 0, 5), square(100, 100, 20), square(300, 0, 20)};
    const std::vector<Contour> selection = select_pallet_contours(tied);
    ASSERT_EQ(selection.size(), 1U);
    EXPECT_EQ(selection[0], tied[1]);

    // Every candidate of zero area (lines): the first is the face.
    const std::vector<Contour> flat = {{{0, 0}, {300, 0}}, {{0, 10}, {10, 10}}};
    ASSERT_EQ(select_pallet_contours(flat).size(), 1U);
    EXPECT_EQ(select_pallet_contours(flat)[0], flat[0]);
}

TEST(SelectPalletContours, OnlyTheFirstPointDecides)
{
    const Contour face = square(100, 100, 200);
    const Contour on_edge = {{100, 150}, {120, 150}, {120, 170}};        // starts on the edge
    const Contour runs_out = {{290, 290}, {400, 290}, {400, 400}};       // starts inside
    const Contour mostly_in = {{90, 200}, {250, 200}, {250, 250}, {120, 250}};  // starts outside
    const Contour inside_early = {{150, 150}, {160, 150}, {160, 160}};

    const std::vector<Contour> candidates = {inside_early, on_edge, face, mostly_in, runs_out};
    const std::vector<Contour> selection = select_pallet_contours(candidates);
    ASSERT_EQ(selection.size(), 4U);
    EXPECT_EQ(selection[0], face);
    EXPECT_EQ(selection[1], inside_early);  // candidate order, not the face's position
    EXPECT_EQ(selection[2], on_edge);
    EXPECT_EQ(selection[3], runs_out);
}

TEST(FillFaceMask, InnerContoursCutOutWithTheirBoundary)
{
    const cv::Size size(640, 480);
    const Contour face = square(100, 100, 200);
    const Contour hole = square(150, 150, 50);
    const Contour island = square(165, 165, 20);  // inside the hole: not filled again

    const cv::Mat only_face = fill_face_mask({face}, size);
    EXPECT_EQ(only_face.size(), size);
    EXPECT_EQ(only_face.type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(only_face), 201 * 201);

    const cv::Mat mask = fill_face_mask({face, hole, island}, size);
    EXPECT_EQ(cv::countNonZero(mask), 201 * 201 - 51 * 51);
    EXPECT_EQ(mask.at<std::uint8_t>(100, 100), 255);
    EXPECT_EQ(mask.at<std::uint8_t>(150, 150), 0);  // the hole's own boundary is gone
    EXPECT_EQ(mask.at<std::uint8_t>(175, 175), 0);  // the island stays cut
    EXPECT_EQ(mask.at<std::uint8_t>(149, 149), 255);
    EXPECT_EQ(fill_face_mask({}, size).size(), size);
}

TEST(GatherFacePoints, ColumnMajorOrderAndBothTests)
{
    cv::Mat face_mask = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::Mat band = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::Mat depth = cv::Mat::zeros(480, 640, CV_16UC1);
    const auto set = [&](int u, int v, std::uint16_t d, bool in_band) {
        face_mask.at<std::uint8_t>(v, u) = 255;
        band.at<std::uint8_t>(v, u) = in_band ? 255 : 0;
        depth.at<std::uint16_t>(v, u) = d;
    };
    set(6, 2, 1000, true);
    set(5, 9, 1100, true);
    set(5, 7, 1200, true);
    set(7, 1, 1300, false);  // outside the band mask
    set(8, 3, 0, true);      // no depth
    band.at<std::uint8_t>(0, 0) = 255;  // band and depth, but not on the face
    depth.at<std::uint16_t>(0, 0) = 900;

    const std::vector<cv::Point3d> points = gather_face_points(face_mask, band, depth);
    ASSERT_EQ(points.size(), 3U);
    EXPECT_EQ(points[0], depth_to_point(7, 5, 1200));
    EXPECT_EQ(points[1], depth_to_point(9, 5, 1100));
    EXPECT_EQ(points[2], depth_to_point(2, 6, 1000));
}

TEST(GatherFacePoints, HoleInTheCandidatesIsCutShortHoleIsKept)
{
    const Contour face = square(100, 100, 250);
    const Contour hole = square(200, 200, 30);
    const cv::Mat band(480, 640, CV_8UC1, cv::Scalar(255));
    const cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(1500));

    const std::size_t whole = 251 * 251;
    EXPECT_EQ(gather_face_points(fill_face_mask({face, hole}, band.size()), band, depth).size(),
              whole - 31 * 31);
    // A hole too short to be a candidate is not in the selection and so not cut out: its pixels
    // depend on the band mask and the depth alone.
    cv::Mat band_with_gap = band.clone();
    band_with_gap(cv::Rect(200, 200, 31, 31)).setTo(0);
    EXPECT_EQ(gather_face_points(fill_face_mask({face}, band.size()), band, depth).size(), whole);
    EXPECT_EQ(gather_face_points(fill_face_mask({face}, band.size()), band_with_gap, depth).size(),
              whole - 31 * 31);
}

TEST(FillFaceMask, KeptMaskAndPointListGiveThePlainOnes)
{
    // A mask and a list kept from face to face: each face is drawn over the last one's mask,
    // after one of another size and type, and gathered into the last one's list.
    const cv::Size size(640, 480);
    const cv::Mat band(480, 640, CV_8UC1, cv::Scalar(255));
    cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(1500));
    depth(cv::Rect(0, 0, 640, 240)).setTo(0);  // the upper half has no depth
    const std::vector<Contour> faces[] = {
        {square(100, 100, 250), square(200, 200, 30)}, {square(300, 50, 100)}, {}, {square(10, 10, 600)}};

    cv::Mat face_mask(100, 100, CV_16UC1, cv::Scalar(7));
    std::vector<cv::Point3d> face_points(5000, cv::Point3d(1, 2, 3));
    for (std::size_t k = 0; k < std::size(faces); ++k) {
        SCOPED_TRACE("face " + std::to_string(k));
        const cv::Mat plain = fill_face_mask(faces[k], size);
        const cv::Mat& kept = fill_face_mask(faces[k], size, face_mask);
        EXPECT_EQ(&kept, &face_mask);
        ASSERT_EQ(kept.size(), size);
        ASSERT_EQ(kept.type(), CV_8UC1);
        EXPECT_EQ(cv::norm(kept, plain, cv::NORM_INF), 0.0);
        gather_face_points(kept, band, depth, face_points);
        EXPECT_EQ(face_points, gather_face_points(plain, band, depth));
    }
    EXPECT_EQ(face_points.size(), 601u * 240u);  // the last face's lower half
}

TEST(RectCentrePoint, IntegerHalvesAndMissingDepth)
{
    cv::Mat depth = cv::Mat::zeros(480, 640, CV_16UC1);
    depth.at<std::uint16_t>(99, 250) = 1500;  // row 99, column 250
    const cv::Point3d centre = rect_centre_point(cv::Rect(100, 50, 301, 99), depth);
    EXPECT_NEAR(centre.x, -295.43009, 1e-5);
    EXPECT_NEAR(centre.y, -590.34356, 1e-5);
    EXPECT_EQ(centre.z, 1500.0);

    // No depth at the centre: exactly +0 everywhere, though the neighbours have depth.
    depth.setTo(1500);
    depth.at<std::uint16_t>(99, 250) = 0;
    const cv::Point3d none = rect_centre_point(cv::Rect(100, 50, 301, 99), depth);
    EXPECT_EQ(none, cv::Point3d(0, 0, 0));
    EXPECT_FALSE(std::signbit(none.x));
    EXPECT_FALSE(std::signbit(none.y));
}

TEST(RotationAngles, YawPitchRollAndEulerSolutions)
{
    struct Case {
        double yaw, pitch, roll;     // R = Rz(yaw) Ry(pitch) Rx(roll), degrees
        double e0, e1, e2;           // expected Euler angles, degrees
    };
    const Case cases[] = {
        {30, 20, 10, 30, 20, 10},
        {-30, 20, 10, 150, 160, -170},  // negative yaw: the other solution, e0 in [0, 180]
        {120, -40, 70, 120, -40, 70},
        {-60, -25, -100, 120, -155, 80},
    };
    for (const Case& c : cases) {
        const Eigen::Matrix3d R = rz_ry_rx(c.yaw, c.pitch, c.roll);
        const RotationAngles angles = rotation_angles(R);
        EXPECT_NEAR(angles.yaw_deg, c.yaw, 1e-9);
        EXPECT_NEAR(angles.pitch_deg, c.pitch, 1e-9);
        EXPECT_NEAR(angles.roll_deg, c.roll, 1e-9);

        const Eigen::Vector3d euler = euler_zyx(R);
        const Eigen::Vector3d degrees = euler_degrees(euler);
        EXPECT_NEAR(degrees(0), c.e0, 1e-9) << c.yaw;
        EXPECT_NEAR(degrees(1), c.e1, 1e-9) << c.yaw;
        EXPECT_NEAR(degrees(2), c.e2, 1e-9) << c.yaw;
        EXPECT_NEAR(degrees(0), euler(0) * 180.0 / std::acos(-1.0), 0.0);
        // Either solution rebuilds the same rotation.
        EXPECT_TRUE(rz_ry_rx(degrees(0), degrees(1), degrees(2)).isApprox(R, 1e-12));
    }
    const Eigen::Vector3d radians = euler_zyx(rz_ry_rx(-30, 20, 10));
    EXPECT_NEAR(radians(0), 2.617994, 5e-7);
    EXPECT_NEAR(radians(1), 2.792527, 5e-7);
    EXPECT_NEAR(radians(2), -2.967060, 5e-7);
}

TEST(RotationAngles, MinusIdentity)
{
    // -I with +0 off the diagonal, as the plane fit of no points gives it; a -0 at R(1, 0)
    // would turn yaw to -180.
    Eigen::Matrix3d R = Eigen::Matrix3d::Zero();
    R.diagonal().setConstant(-1.0);
    const RotationAngles angles = rotation_angles(R);
    EXPECT_EQ(angles.yaw_deg, 180.0);
    EXPECT_EQ(angles.pitch_deg, 0.0);
    EXPECT_EQ(angles.roll_deg, 180.0);
    const Eigen::Vector3d euler = euler_zyx(R);
    EXPECT_EQ(euler(0), std::acos(-1.0));
    EXPECT_EQ(euler(1), 0.0);
    EXPECT_EQ(euler(2), 0.0);
    EXPECT_EQ(euler_degrees(euler)(0), 180.0);
}
