#include "analysis/detector/face_scan.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

// The floor frame of the renderer's own floor: the scan is tested apart from the floor fit.
FloorFrame true_floor(const sim::Truth& truth)
{
    return floor_frame_of(truth.floor_normal, truth.mount.height_mm);
}

std::vector<FaceCandidate> candidates_of(const sim::Frame& frame, const DetectorParams& params = DetectorParams{})
{
    ScanScratch scratch;
    std::vector<FaceCandidate> candidates;
    find_candidates(frame.depth, true_floor(frame.truth), params, scratch, candidates);
    return candidates;
}

sim::Frame exact_frame(sim::Scene scene, std::uint64_t seed = 5)
{
    scene.sensor = sim::exact_sensor();
    return sim::render(scene, seed);
}

// A truth face as a line in the floor frame: its normal turned away from the camera, and its
// centre's place along it.
struct TrueFace {
    Line line;
    double middle;
    double width;
};

TrueFace true_face(const sim::Truth& truth, const sim::FaceTruth& face)
{
    const FloorFrame f = true_floor(truth);
    const Eigen::Vector3d centre = floor_of(f, face.centre);
    const Eigen::Vector2d outward(f.x.dot(face.normal), f.y.dot(face.normal));
    const Eigen::Vector2d m = -outward.normalized();
    const Line line{m.x(), m.y(), m.x() * centre.x() + m.y() * centre.y()};
    return {line, along(line, centre.x(), centre.y()), face.width_mm};
}

// The angle between two lines' normals, in degrees.
double angle_between(const Line& a, const Line& b)
{
    return std::acos(std::min(1.0, std::abs(a.mx * b.mx + a.my * b.my))) * 180.0 / pi;
}

// Whether the candidate lies on the face and spans it (within `reach` at either end).
void expect_on_face(const FaceCandidate& c, const TrueFace& face, double reach)
{
    EXPECT_LT(angle_between(c.line, face.line), 2.0);
    const Eigen::Vector3d middle = point_on_line(c.line, (c.left + c.right) / 2.0, 0.0);
    EXPECT_NEAR(residual(face.line, middle.x(), middle.y()), 0.0, 15.0);
    EXPECT_NEAR(c.right - c.left, face.width, reach);
    EXPECT_NEAR(along(face.line, middle.x(), middle.y()), face.middle, reach);
    EXPECT_NEAR(c.range, middle.head<2>().norm(), 1e-6);
}

}  // namespace

TEST(DetectorScan, EachFaceInViewIsOneCandidate)
{
    // Square on: the front face alone, end to end.
    const sim::Frame square = exact_frame(sim::pallet_scene(1500.0, 0.0, 0.0));
    const std::vector<FaceCandidate> one = candidates_of(square);
    ASSERT_EQ(one.size(), 1U);
    expect_on_face(one[0], true_face(square.truth, square.truth.pallets[0].faces[0]), 40.0);
    EXPECT_GT(one[0].columns, 100);

    // Seen from its corner: both faces, square to each other, the nearer first.
    const sim::Frame corner = exact_frame(sim::pallet_scene(1600.0, 424.0, 45.0));
    const std::vector<FaceCandidate> two = candidates_of(corner);
    ASSERT_EQ(two.size(), 2U);
    EXPECT_NEAR(angle_between(two[0].line, two[1].line), 90.0, 3.0);
    ASSERT_EQ(corner.truth.pallets[0].faces.size(), 2U);
    for (const sim::FaceTruth& truth : corner.truth.pallets[0].faces) {
        const TrueFace face = true_face(corner.truth, truth);
        const FaceCandidate& c = angle_between(two[0].line, face.line) < 45.0 ? two[0] : two[1];
        SCOPED_TRACE("face " + std::to_string(truth.width_mm));
        expect_on_face(c, face, 60.0);
    }
    EXPECT_LE(two[0].range, two[1].range);
}

TEST(DetectorScan, NeighbouringPalletsStaySeparate)
{
    // Two pallets side by side, 100 mm apart on one line, the camera before the gap or before one
    // of them, with and without noise: their fronts are two candidates, each the whole face.
    for (const double lateral : {0.0, -250.0}) {
        for (const bool exact : {true, false}) {
            SCOPED_TRACE("camera " + std::to_string(lateral) + (exact ? " exact" : " noisy"));
            sim::Scene scene = sim::pallet_scene(1800.0, -650.0 - lateral, 0.0);
            scene.pallets.push_back({1800.0, 650.0 - lateral, 0.0, "block_1200x800"});
            if (exact) scene.sensor = sim::exact_sensor();
            const sim::Frame pair = sim::render(scene, 7);
            const std::vector<FaceCandidate> found = candidates_of(pair);
            ASSERT_EQ(found.size(), 2U);
            const bool in_order = found[0].left < found[1].left;
            expect_on_face(found[in_order ? 0 : 1], true_face(pair.truth, pair.truth.pallets[0].faces[0]), 40.0);
            expect_on_face(found[in_order ? 1 : 0], true_face(pair.truth, pair.truth.pallets[1].faces[0]), 40.0);
        }
    }
}

TEST(DetectorScan, CandidatesComeNearestFirst)
{
    // The scan runs left to right; the nearer pallet stands on the right.
    sim::Scene scene = sim::pallet_scene(2400.0, -700.0, 0.0);
    scene.pallets.push_back({1300.0, 500.0, 0.0, "block_1100x1100"});
    const sim::Frame frame = exact_frame(scene);
    const std::vector<FaceCandidate> found = candidates_of(frame);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_LT(found[0].range, found[1].range);
    expect_on_face(found[0], true_face(frame.truth, frame.truth.pallets[1].faces[0]), 40.0);
    expect_on_face(found[1], true_face(frame.truth, frame.truth.pallets[0].faces[0]), 40.0);

    // No more than max_candidates: the nearest kept.
    DetectorParams params;
    params.max_candidates = 1;
    const std::vector<FaceCandidate> first = candidates_of(frame, params);
    ASSERT_EQ(first.size(), 1U);
    EXPECT_EQ(first[0].range, found[0].range);
}

TEST(DetectorScan, LongAndShortRunsAreNoCandidates)
{
    // A wall 3 m long standing on the floor at pallet heights: longer than any face.
    sim::Scene long_wall = sim::floor_scene();
    sim::Box wall;
    wall.centre = {0.0, 2100.0, 300.0};
    wall.size = {3000.0, 200.0, 600.0};
    wall.label = sim::Label::wall;
    long_wall.boxes.push_back(wall);
    EXPECT_TRUE(candidates_of(exact_frame(long_wall)).empty());

    // The same wall 2 m long is a candidate: its length alone refused it.
    sim::Scene short_wall = long_wall;
    short_wall.boxes[0].size.x() = 2000.0;
    EXPECT_EQ(candidates_of(exact_frame(short_wall)).size(), 1U);

    // A post 150 mm wide is shorter than any face.
    sim::Scene post = long_wall;
    post.boxes[0].size.x() = 150.0;
    EXPECT_TRUE(candidates_of(exact_frame(post)).empty());
}

TEST(DetectorScan, FaceBrokenByMissingColumnsIsOneCandidate)
{
    // Columns without depth across the face (a dead column, a cable in front lost to the sensor):
    // fewer than scan_max_skip and more, the face stays one candidate over its whole width.
    const sim::Frame frame = exact_frame(sim::pallet_scene(1500.0, 100.0, 8.0));
    const TrueFace face = true_face(frame.truth, frame.truth.pallets[0].faces[0]);
    for (const int missing : {3, 12, 30}) {
        SCOPED_TRACE(std::to_string(missing) + " columns missing");
        cv::Mat depth = frame.depth.clone();
        const cv::Point2d middle = sim::project(frame.truth.pallets[0].faces[0].centre);
        const int first = static_cast<int>(middle.x) + 40;  // across a fork opening's top board
        depth.colRange(first, first + missing).setTo(0);
        ScanScratch scratch;
        std::vector<FaceCandidate> found;
        find_candidates(depth, true_floor(frame.truth), DetectorParams{}, scratch, found);
        ASSERT_EQ(found.size(), 1U);
        expect_on_face(found[0], face, 40.0);
    }
}
