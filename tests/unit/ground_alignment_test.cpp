#include "analysis/ground_alignment.hpp"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/depth_intake.hpp"
#include "analysis/plane_fit.hpp"

namespace {

std::size_t index_of(int v, int u)
{
    return static_cast<std::size_t>(v) * 640 + static_cast<std::size_t>(u);
}

// Depth (whole mm) of the plane z = a*x + b*y + c seen through the camera model: along the ray of
// pixel (v, u) a point of depth d sits at (d*rx, d*ry, d), so d = c / (1 - a*rx - b*ry).
cv::Mat render_plane(double a, double b, double c)
{
    cv::Mat depth(480, 640, CV_16UC1);
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const double rx = (u - camera_model.cx) / camera_model.fx;
            const double ry = (v - camera_model.cy) / camera_model.fy;
            const double d = c / (1.0 - a * rx - b * ry);
            depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(std::lround(d));
        }
    }
    return depth;
}

// A floor seen by a camera tilted towards it: lower rows are closer (about 0.9 m to 4.5 m).
cv::Mat sloped_floor()
{
    return render_plane(0.1, -1.0, 1500.0);
}

bool same_point(const cv::Point3d& p, const cv::Point3d& q)
{
    return p.x == q.x && p.y == q.y && p.z == q.z;
}

bool all_same_except(const std::vector<cv::Point3d>& a, const std::vector<cv::Point3d>& b,
                     std::size_t skipped)
{
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (i != skipped && !same_point(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(GroundAlignment, FloorLiesAtZeroHeight)
{
    const cv::Mat depth = sloped_floor();
    const std::vector<cv::Point3d> aligned = align_to_ground(depth);
    ASSERT_EQ(aligned.size(), 480u * 640u);
    double worst = 0.0;
    for (const cv::Point3d& p : aligned) {
        worst = std::max(worst, std::abs(p.z));
    }
    EXPECT_LT(worst, 2.0);

    // In-plane coordinates follow the rows of the rotation of the true floor: x' and y' are
    // R * (p - P0) and not, say, R transposed.
    const Eigen::Matrix3d R = rotation_onto_z(Eigen::Vector3d(0.1, -1.0, 1500.0));
    const cv::Point3d P0 = depth_to_point(420, 320, depth.at<std::uint16_t>(420, 320));
    double worst_in_plane = 0.0;
    for (int v = 0; v < 480; v += 7) {
        for (int u = 0; u < 640; u += 7) {
            const cv::Point3d p = depth_to_point(v, u, depth.at<std::uint16_t>(v, u)) - P0;
            const Eigen::Vector3d expected = R * Eigen::Vector3d(p.x, p.y, p.z);
            const cv::Point3d& q = aligned[index_of(v, u)];
            worst_in_plane = std::max({worst_in_plane, std::abs(q.x - expected(0)), std::abs(q.y - expected(1))});
        }
    }
    EXPECT_LT(worst_in_plane, 2.0);

    // A pixel raised 200 mm towards the camera (outside the patch) sits on the normal's side.
    cv::Mat raised = depth.clone();
    raised.at<std::uint16_t>(300, 500) = static_cast<std::uint16_t>(raised.at<std::uint16_t>(300, 500) - 200);
    const std::vector<cv::Point3d> lifted = align_to_ground(raised);
    EXPECT_GT(lifted[index_of(300, 500)].z, 50.0);
    EXPECT_TRUE(all_same_except(aligned, lifted, index_of(300, 500)));
}

TEST(GroundAlignment, ReferencePixelIsTheOriginAndRowColumnAreNotSwapped)
{
    const std::vector<cv::Point3d> aligned = align_to_ground(sloped_floor());
    const cv::Point3d& origin = aligned[index_of(420, 320)];  // row 420, column 320
    EXPECT_EQ(origin.x, 0.0);
    EXPECT_EQ(origin.y, 0.0);
    EXPECT_EQ(origin.z, 0.0);
    const cv::Point3d& swapped = aligned[index_of(320, 420)];
    EXPECT_GT(std::hypot(swapped.x, swapped.y), 100.0);
}

TEST(GroundAlignment, PixelsWithoutDepthAreExactlyZero)
{
    cv::Mat depth = sloped_floor();
    depth.at<std::uint16_t>(10, 20) = 0;
    depth.at<std::uint16_t>(479, 639) = 0;
    depth.at<std::uint16_t>(0, 600) = 0;
    const std::vector<cv::Point3d> aligned = align_to_ground(depth);
    for (const std::size_t i : {index_of(10, 20), index_of(479, 639), index_of(0, 600)}) {
        EXPECT_EQ(aligned[i].x, 0.0) << "entry " << i;
        EXPECT_EQ(aligned[i].y, 0.0) << "entry " << i;
        EXPECT_EQ(aligned[i].z, 0.0) << "entry " << i;
        EXPECT_FALSE(std::signbit(aligned[i].x) || std::signbit(aligned[i].y) || std::signbit(aligned[i].z));
    }
    // P0 is about a metre from the camera, so -M * P0 is far from zero.
    EXPECT_GT(depth.at<std::uint16_t>(420, 320), 900);
}

TEST(GroundAlignment, PlaneComesFromRows380To459AndColumns240To399Only)
{
    const cv::Mat floor = sloped_floor();
    const std::vector<cv::Point3d> base = align_to_ground(floor);
    const std::size_t watched = index_of(100, 100);

    struct Change {
        int v;
        int u;
        std::uint16_t depth;
        bool inside;
    };
    const Change changes[] = {
        {459, 399, 500, true},  {380, 240, 500, true},  {400, 300, 0, true},
        {460, 300, 500, false}, {400, 400, 500, false}, {379, 300, 500, false},
        {400, 239, 500, false}, {460, 399, 0, false},   {10, 10, 0, false},
    };
    for (const Change& change : changes) {
        cv::Mat depth = floor.clone();
        depth.at<std::uint16_t>(change.v, change.u) = change.depth;
        const std::vector<cv::Point3d> aligned = align_to_ground(depth);
        const std::size_t changed = index_of(change.v, change.u);
        if (change.inside) {
            // A patch pixel, zero depth included, moves the fitted floor and so every other pixel.
            EXPECT_FALSE(same_point(aligned[watched], base[watched]))
                << "row " << change.v << " column " << change.u;
        } else {
            EXPECT_TRUE(all_same_except(aligned, base, changed)) << "row " << change.v << " column " << change.u;
        }
    }
}

TEST(GroundAlignment, FloorWithoutSlopeAlongXKeepsXDifferences)
{
    // a = 0: every row has one depth, and x' = x - x0 for every measured pixel.
    const cv::Mat depth = render_plane(0.0, -0.8, 1800.0);
    const std::vector<cv::Point3d> aligned = align_to_ground(depth);
    const double x0 = depth_to_point(420, 320, depth.at<std::uint16_t>(420, 320)).x;
    double worst = 0.0;
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            const double x = depth_to_point(v, u, depth.at<std::uint16_t>(v, u)).x;
            worst = std::max(worst, std::abs(aligned[index_of(v, u)].x - (x - x0)));
        }
    }
    EXPECT_LT(worst, 0.01);
}

TEST(GroundAlignment, EmptyFrameGivesZeroEverywhere)
{
    const cv::Mat depth = cv::Mat::zeros(480, 640, CV_16UC1);
    const std::vector<cv::Point3d> aligned = align_to_ground(depth);
    ASSERT_EQ(aligned.size(), 480u * 640u);
    for (const cv::Point3d& p : aligned) {
        ASSERT_TRUE(p.x == 0.0 && p.y == 0.0 && p.z == 0.0);
    }
}

TEST(GroundAlignment, KeptScratchGivesThePlainListInItsOwnStorage)
{
    // Frames whose lists differ everywhere, in an order where each could leave something behind
    // for the next: a floor, a frame with no depth, a patch without depth (a floor fit of zeros:
    // every measured pixel aligned to NaN), a pixel lost here and there, the floor again.
    cv::Mat holes = render_plane(0.0, -0.8, 1800.0);
    for (int k = 0; k < 480 * 640; k += 97) holes.at<std::uint16_t>(k / 640, k % 640) = 0;
    cv::Mat no_patch = sloped_floor();
    no_patch(cv::Rect(240, 380, 160, 80)).setTo(0);
    const cv::Mat frames[] = {sloped_floor(), cv::Mat::zeros(480, 640, CV_16UC1), no_patch, holes,
                              sloped_floor()};

    AlignmentScratch scratch;
    const cv::Point3d* storage = nullptr;
    for (std::size_t k = 0; k < std::size(frames); ++k) {
        const std::vector<cv::Point3d>& aligned = align_to_ground(frames[k], scratch);
        const std::vector<cv::Point3d> plain = align_to_ground(frames[k]);
        ASSERT_EQ(aligned.size(), plain.size()) << "frame " << k;
        // Bit for bit, NaN included.
        EXPECT_EQ(std::memcmp(aligned.data(), plain.data(), plain.size() * sizeof(cv::Point3d)), 0)
            << "frame " << k;
        EXPECT_EQ(&aligned, &scratch.aligned);
        if (storage != nullptr) {
            EXPECT_EQ(aligned.data(), storage) << "reallocated at frame " << k;
        }
        storage = aligned.data();
    }
    EXPECT_TRUE(std::isnan(align_to_ground(no_patch, scratch)[0].z));
}
