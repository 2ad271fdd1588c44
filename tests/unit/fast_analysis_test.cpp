#include "analysis/fast_analysis.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/range_masks.hpp"
#include "analysis/result_report.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

bool same_image(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() &&
           cv::norm(a.reshape(1), b.reshape(1), cv::NORM_INF) == 0.0;
}

std::string report_of(const FrameAnalysis& analysis)
{
    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    return out.str();
}

cv::Rect bounds_of(const cv::Mat& mask)
{
    std::vector<cv::Point> pixels;
    cv::findNonZero(mask, pixels);
    return pixels.empty() ? cv::Rect() : cv::boundingRect(pixels);
}

GroundFrame ground_frame(const cv::Mat& depth)
{
    std::vector<cv::Point3d> ground_points;
    return ground_frame_of(depth, ground_points);
}

// The fast band mask of a depth image, made in the given workspace (which may hold an earlier
// frame's mask).
const BandMask& fast_band(const cv::Mat& depth, AnalysisWorkspace& workspace)
{
    make_combined_band_mask_fast(depth, ground_frame(depth), workspace.band);
    return workspace.band;
}

// Every output of the fast form against the literal one on one depth image, in a workspace that
// the caller may have used for other frames before.
void expect_fast_equals_literal(const cv::Mat& depth, const std::string& what,
                                AnalysisWorkspace& workspace)
{
    SCOPED_TRACE(what);
    const cv::Mat literal_mask = make_combined_band_mask(align_to_ground(depth));
    const BandMask& band = fast_band(depth, workspace);
    ASSERT_TRUE(same_image(literal_mask, band.mask));
    EXPECT_EQ(band.bounds, bounds_of(literal_mask));
    EXPECT_EQ(find_candidate_contours_fast(band), find_candidate_contours(literal_mask));

    const FrameAnalysis literal = analyse_depth_literal(depth);
    const FrameAnalysis fast = analyse_depth(depth, workspace);
    EXPECT_EQ(fast.outcome, literal.outcome);
    EXPECT_EQ(fast.pose.face_contour, literal.pose.face_contour);
    EXPECT_EQ(fast.pose.bounding_rect, literal.pose.bounding_rect);
    EXPECT_EQ(fast.pose.face_point_count, literal.pose.face_point_count);
    EXPECT_EQ(fast.pose.boxes, literal.pose.boxes);
    EXPECT_EQ(report_of(fast), report_of(literal));
}

void expect_fast_equals_literal(const cv::Mat& depth, const std::string& what)
{
    AnalysisWorkspace workspace;
    expect_fast_equals_literal(depth, what, workspace);
}

sim::Scene random_scene(std::mt19937_64& rng)
{
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto between = [&](double lo, double hi) { return lo + (hi - lo) * uniform(rng); };
    sim::Scene scene;
    scene.mount.height_mm = between(150.0, 260.0);
    scene.mount.pitch_deg = between(2.0, 10.0);
    scene.mount.roll_deg = between(-3.0, 3.0);
    scene.sensor.noise_k_per_mm = between(0.0, 6.0e-6);
    scene.sensor.dropout_rate = uniform(rng) < 0.5 ? 0.0 : between(0.0, 0.02);
    scene.sensor.cavity_no_return = uniform(rng) < 0.3;
    if (uniform(rng) < 0.85) {
        scene.pallets = {sim::PalletPlacement{between(800.0, 2600.0), between(-500.0, 500.0),
                                              between(-35.0, 35.0)}};
    }
    const int boxes = static_cast<int>(between(0.0, 3.0));
    for (int k = 0; k < boxes; ++k) {
        sim::Box box;
        box.centre = Eigen::Vector3d(between(-1500.0, 1500.0), between(700.0, 3500.0), 0.0);
        box.size = Eigen::Vector3d(between(100.0, 900.0), between(100.0, 900.0),
                                   between(50.0, 600.0));
        box.centre.z() = box.size.z() / 2.0;
        box.yaw_deg = between(-45.0, 45.0);
        scene.boxes.push_back(box);
    }
    return scene;
}

cv::Point3d aligned(const GroundFrame& g, int v, int u, int d)
{
    return aligned_point(g, v, u, static_cast<std::uint16_t>(d));
}

struct Edge {
    int axis;      // 0: x', 1: y', 2: z'
    double value;  // mm
};

double component(const cv::Point3d& a, int axis)
{
    return axis == 0 ? a.x : axis == 1 ? a.y : a.z;
}

bool inside_other_bands(const cv::Point3d& a, int axis)
{
    const bool x_ok = std::abs(a.x) > 1.0 && std::abs(a.x) < 599.0;
    const bool y_ok = a.y > -1999.0 && a.y < -401.0;
    const bool z_ok = std::abs(a.z) > 42.0 && std::abs(a.z) < 240.0;
    return (axis == 0 || x_ok) && (axis == 1 || y_ok) && (axis == 2 || z_ok);
}

// Sets d to a depth that puts the pixel's aligned coordinate within 0.005 mm of the edge with the
// other two coordinates inside their bands, if there is one.
bool depth_near_edge(const GroundFrame& g, int v, int u, const Edge& edge, std::uint16_t& d)
{
    // The aligned coordinate is affine in the depth: solve for it, then try the neighbours.
    const double at1 = component(aligned(g, v, u, 1), edge.axis);
    const double slope = component(aligned(g, v, u, 2), edge.axis) - at1;
    if (std::abs(slope) < 1e-3) return false;
    const double guess = 1.0 + (edge.value - at1) / slope;
    if (!(guess > 0.0 && guess < 65536.0)) return false;
    for (int candidate = static_cast<int>(guess) - 1; candidate <= static_cast<int>(guess) + 2; ++candidate) {
        if (candidate < 1 || candidate > 65535) continue;
        const cv::Point3d a = aligned(g, v, u, candidate);
        if (std::abs(component(a, edge.axis) - edge.value) < 0.005 && inside_other_bands(a, edge.axis)) {
            d = static_cast<std::uint16_t>(candidate);
            return true;
        }
    }
    return false;
}

}  // namespace

TEST(FastAnalysis, EqualsLiteralOnSeededRandomScenes)
{
    std::mt19937_64 rng(20240611);
    int outcomes[3] = {0, 0, 0};
    AnalysisWorkspace workspace;  // one for every frame, as the program keeps it
    for (int k = 0; k < 24; ++k) {
        const sim::Scene scene = random_scene(rng);
        const cv::Mat depth = sim::render(scene, 1000 + static_cast<std::uint64_t>(k)).depth;
        expect_fast_equals_literal(depth, "random scene " + std::to_string(k), workspace);
        ++outcomes[static_cast<int>(analyse_depth_literal(depth).outcome)];
    }
    expect_fast_equals_literal(sim::render(sim::warehouse_scene(), 7).depth, "warehouse", workspace);
    // The scenes must exercise the pose path, not only the early outcomes.
    EXPECT_GE(outcomes[static_cast<int>(PalletOutcome::pallet_found)], 5);
    EXPECT_GE(outcomes[static_cast<int>(PalletOutcome::no_contour)] +
                  outcomes[static_cast<int>(PalletOutcome::no_pallet)], 1);
}

// Depths chosen pixel by pixel so that one aligned coordinate lies within a few thousandths of a
// millimetre of a band edge while the other two are well inside their bands: the float test cannot
// decide these pixels and must hand them to the double path.
TEST(FastAnalysis, PixelsAtEveryBandEdgeDecidedLikeLiteral)
{
    // A rolled camera: with a level one, y' would not depend on the column, and a whole row would
    // miss the -2000 edge by the same amount.
    sim::Mount mount = sim::default_mount();
    mount.roll_deg = 1.5;
    sim::Scene scene = sim::floor_scene(mount);
    scene.sensor = sim::exact_sensor();
    cv::Mat depth = sim::render(scene, 3).depth;
    const GroundFrame g = ground_frame(depth);
    const std::array<Edge, 10> edges{{{2, 41.0}, {2, -41.0}, {2, 241.0}, {2, -241.0}, {1, -400.0},
                                      {1, -2000.0}, {0, 600.0}, {0, -600.0}, {0, 0.5}, {0, -0.5}}};
    const cv::Rect ground_patch(240, 380, 160, 80);
    std::array<int, 10> near_edge{};
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            if (ground_patch.contains(cv::Point(u, v))) continue;  // keeps M and P0
            // The least-populated edge first, so that the rare ones (x' near 0, y' at -2000) get
            // every pixel that can reach them.
            std::array<std::size_t, 10> order{};
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return near_edge[a] < near_edge[b];
            });
            for (const std::size_t e : order) {
                if (depth_near_edge(g, v, u, edges[e], depth.at<std::uint16_t>(v, u))) {
                    ++near_edge[e];
                    break;
                }
            }
        }
    }
    for (std::size_t e = 0; e < edges.size(); ++e) {
        EXPECT_GE(near_edge[e], 20) << "edge " << e << " has too few pixels to test";
    }
    const cv::Mat literal_mask = make_combined_band_mask(align_to_ground(depth));
    const int inside = cv::countNonZero(literal_mask);
    EXPECT_GT(inside, 0);  // both sides of the edges are present
    EXPECT_LT(inside, std::accumulate(near_edge.begin(), near_edge.end(), 0));
    expect_fast_equals_literal(depth, "band edges");
}

// Rows whose every measured pixel sits just inside a height edge, the rest of the row without a
// return: the quick test that skips whole blocks of a row sees a range tight around the edge,
// and must not skip them. A level camera keeps one height at one depth along a row.
TEST(FastAnalysis, RowsHeldAtAHeightEdgeKeepTheirPixels)
{
    sim::Scene scene = sim::floor_scene(sim::default_mount());
    scene.sensor = sim::exact_sensor();
    cv::Mat depth = sim::render(scene, 5).depth;
    const GroundFrame g = ground_frame(depth);
    const std::array<Edge, 4> edges{{{2, 41.01}, {2, -41.01}, {2, 240.99}, {2, -240.99}}};
    int held = 0;
    std::array<int, 4> rows_at{};
    for (int v = 0; v < 380; ++v) {  // above the ground patch, which keeps M and P0
        // The edge this row reaches with the most pixels.
        std::array<std::array<std::uint16_t, 640>, 4> depths{};
        std::array<int, 4> hits{};
        for (std::size_t e = 0; e < edges.size(); ++e) {
            for (int u = 0; u < 640; ++u) {
                hits[e] += depth_near_edge(g, v, u, edges[e], depths[e][static_cast<std::size_t>(u)]) ? 1 : 0;
            }
        }
        const std::size_t best = static_cast<std::size_t>(std::max_element(hits.begin(), hits.end()) - hits.begin());
        if (hits[best] < 10) continue;
        for (int u = 0; u < 640; ++u) depth.at<std::uint16_t>(v, u) = depths[best][static_cast<std::size_t>(u)];
        held += hits[best];
        ++rows_at[best];
    }
    for (const int rows : rows_at) EXPECT_GE(rows, 1);  // every edge held by a row
    ASSERT_GT(held, 1000);
    const cv::Mat literal_mask = make_combined_band_mask(align_to_ground(depth));
    EXPECT_GT(cv::countNonZero(literal_mask), held / 2);
    expect_fast_equals_literal(depth, "rows at height edges");
}

TEST(FastAnalysis, DegenerateFramesEqualLiteral)
{
    // Nothing measured; a ground patch without depth (non-finite M); a floor with the largest
    // depths a pixel can hold, whose heights exceed 16 bits; one value everywhere.
    expect_fast_equals_literal(cv::Mat::zeros(480, 640, CV_16UC1), "all zero");

    sim::Scene scene = sim::pallet_scene(1250.0);
    scene.sensor = sim::exact_sensor();
    cv::Mat no_ground = sim::render(scene, 5).depth;
    no_ground(cv::Rect(240, 380, 160, 80)).setTo(0);
    expect_fast_equals_literal(no_ground, "ground patch without depth");
    AnalysisWorkspace workspace;
    EXPECT_EQ(cv::countNonZero(fast_band(no_ground, workspace).mask), 0);

    cv::Mat far = sim::render(scene, 6).depth;
    far(cv::Rect(0, 0, 640, 200)).setTo(65535);
    far(cv::Rect(0, 0, 30, 480)).setTo(65000);
    expect_fast_equals_literal(far, "largest depths");

    expect_fast_equals_literal(cv::Mat(480, 640, CV_16UC1, cv::Scalar(1234)), "one value");
}

// Ground patches that fit no floor a camera could stand on: the fitted slopes are rounding noise
// or the plane is tilted by the patch's own edges, and the rotation that follows is arbitrary,
// but it is the same in both forms, since both fit the same points with the same function.
TEST(FastAnalysis, DegenerateFloorsEqualLiteral)
{
    AnalysisWorkspace workspace;
    for (const int depth_mm : {500, 1000, 2000, 2350, 4000}) {
        const std::string at = " at " + std::to_string(depth_mm) + " mm";
        const cv::Mat wall(480, 640, CV_16UC1, cv::Scalar(depth_mm));
        expect_fast_equals_literal(wall, "one constant depth" + at, workspace);

        cv::Mat box = wall.clone();  // a box 100 mm nearer, wide enough to pass for a face
        box(cv::Rect(100, 150, 420, 120)).setTo(depth_mm - 100);
        expect_fast_equals_literal(box, "a box 100 mm nearer" + at, workspace);

        cv::Mat two = wall.clone();  // two depths, meeting inside the ground patch
        two(cv::Rect(0, 420, 640, 60)).setTo(depth_mm + 37);
        expect_fast_equals_literal(two, "two depths" + at, workspace);

        cv::Mat half = box.clone();  // half the ground patch without depth
        half(cv::Rect(240, 380, 80, 80)).setTo(0);
        expect_fast_equals_literal(half, "half a patch without depth" + at, workspace);
    }
    // A rendered floor with half its patch lost.
    sim::Scene scene = sim::pallet_scene(1500.0);
    scene.sensor = sim::exact_sensor();
    cv::Mat rendered = sim::render(scene, 8).depth;
    rendered(cv::Rect(240, 420, 160, 40)).setTo(0);
    expect_fast_equals_literal(rendered, "rendered floor, half its patch lost", workspace);
}

TEST(FastAnalysis, WindowedContoursEqualWholeImageAtBordersAndCorners)
{
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<int> column(-20, 660), row(-20, 500), size(2, 120);
    for (int k = 0; k < 30; ++k) {
        cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
        const int blobs = 1 + k % 5;
        for (int b = 0; b < blobs; ++b) {
            const cv::Rect r(column(rng), row(rng), size(rng), size(rng));
            cv::rectangle(mask, r, cv::Scalar(255), cv::FILLED);
            cv::circle(mask, r.br(), size(rng) / 3, cv::Scalar(0), cv::FILLED);  // holes, notches
            cv::line(mask, r.tl(), r.br() + cv::Point(40, -30), cv::Scalar(255), 1 + k % 3);
        }
        if (k % 6 == 0) mask.row(0).setTo(255);    // touching the image edges themselves
        if (k % 6 == 1) mask.col(639).setTo(255);
        if (k % 6 == 2) mask(cv::Rect(0, 470, 640, 10)).setTo(255);
        const BandMask band{mask, bounds_of(mask)};
        EXPECT_EQ(find_candidate_contours_fast(band), find_candidate_contours(mask)) << "mask " << k;
    }
    EXPECT_TRUE(find_candidate_contours_fast(BandMask{cv::Mat::zeros(480, 640, CV_8UC1), cv::Rect()}).empty());
}

TEST(FastAnalysis, FacePointsFromRectangleEqualWholeScan)
{
    // A face with a hole and pixels outside the band mask or without depth, in column-major order.
    cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(1500));
    depth(cv::Rect(300, 200, 5, 40)).setTo(0);
    cv::Mat band = cv::Mat::zeros(480, 640, CV_8UC1);
    band(cv::Rect(100, 150, 400, 120)).setTo(255);
    band(cv::Rect(250, 180, 30, 30)).setTo(0);
    const std::vector<Contour> selection{
        {{90, 140}, {520, 160}, {480, 300}, {120, 280}},
        {{200, 200}, {240, 200}, {240, 230}, {200, 230}}};
    const cv::Mat face_mask = fill_face_mask(selection, depth.size());
    const cv::Rect face_rect = cv::boundingRect(selection[0]);
    const std::vector<cv::Point3d> whole = gather_face_points(face_mask, band, depth);
    ASSERT_GT(whole.size(), 1000u);
    cv::Mat workspace_mask(480, 640, CV_8UC1, cv::Scalar(7));  // stale bytes outside the face
    const cv::Mat window = fill_face_mask_fast(selection, face_rect, workspace_mask);
    EXPECT_TRUE(same_image(window, face_mask(face_rect)));
    std::vector<cv::Point3d> points{cv::Point3d(1, 2, 3)};  // an earlier frame's point
    gather_face_points_fast(window, face_rect, band, depth, points);
    EXPECT_EQ(points, whole);
}

TEST(FastAnalysis, FaceFilledInItsRectangleEqualsWholeImageFill)
{
    // A face wider than 200 pixels with inner contours: one well inside it, one that starts inside
    // and runs out past the face's bounding rectangle, and one along the rectangle's edge. The
    // face points feed the 16-digit rotation of the report, so any pixel filled differently shows.
    cv::Mat depth(480, 640, CV_16UC1);
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(1200 + u / 3 + v / 5);
    }
    cv::Mat band = cv::Mat::zeros(480, 640, CV_8UC1);
    band(cv::Rect(60, 120, 500, 220)).setTo(255);
    const Contour face{{80, 140}, {540, 150}, {530, 320}, {90, 300}};
    const Contour inner{{200, 200}, {260, 205}, {255, 250}, {205, 245}};
    const Contour leaving{{400, 200}, {600, 180}, {620, 260}, {410, 240}};
    const Contour on_edge{{80, 140}, {120, 141}, {100, 170}};
    AnalysisWorkspace workspace;
    for (const auto& candidates : std::vector<std::vector<Contour>>{
             {face}, {face, inner}, {face, inner, leaving}, {on_edge, face, inner}}) {
        const FaceSelection selected = select_face(candidates);
        ASSERT_EQ(selected.outcome, PalletOutcome::pallet_found);
        const FrameAnalysis literal = analysis_of_face(
            depth, selected,
            gather_face_points(fill_face_mask(selected.selection, depth.size()), band, depth));
        const cv::Mat window = fill_face_mask_fast(selected.selection, selected.bounding_rect,
                                                   workspace.face_mask);
        gather_face_points_fast(window, selected.bounding_rect, band, depth, workspace.face_points);
        const FrameAnalysis fast = analysis_of_face(depth, selected, workspace.face_points);
        EXPECT_EQ(fast.pose.face_point_count, literal.pose.face_point_count);
        EXPECT_EQ(report_of(fast), report_of(literal));
    }
}
