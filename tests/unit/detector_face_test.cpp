#include "analysis/detector/face_extent.hpp"
#include "analysis/detector/face_line.hpp"
#include "analysis/detector/face_points.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

FloorFrame true_floor(const sim::Truth& truth)
{
    return floor_frame_of(truth.floor_normal, truth.mount.height_mm);
}

// The truth's face as the scan would give it: its line in the floor frame and its ends along it.
FaceCandidate true_candidate(const FloorFrame& f, const sim::FaceTruth& face)
{
    const Eigen::Vector3d centre = floor_of(f, face.centre);
    const Eigen::Vector2d m = -Eigen::Vector2d(f.x.dot(face.normal), f.y.dot(face.normal)).normalized();
    FaceCandidate c;
    c.line = {m.x(), m.y(), m.x() * centre.x() + m.y() * centre.y()};
    const double middle = along(c.line, centre.x(), centre.y());
    c.left = middle - face.width_mm / 2.0;
    c.right = middle + face.width_mm / 2.0;
    c.range = centre.head<2>().norm();
    c.columns = 100;
    return c;
}

// One face of a frame taken through the steps up to its extent, as the detector does.
struct FaceSteps {
    FloorFrame f;
    FaceCandidate candidate;
    FaceWindow window;
    double floor_height = 0.0;
    std::vector<FacePoint> band, upper;
    FaceFit fit;
    bool fitted = false;
    FaceRows rows;
    FaceEnds ends;
    std::vector<double> heights;
};

FaceSteps measure(const cv::Mat& depth, const FloorFrame& f, const FaceCandidate& candidate)
{
    const DetectorParams params;
    FaceSteps m;
    m.f = f;
    m.candidate = candidate;
    std::vector<double> values;
    m.window = window_of(candidate, f, params);
    m.floor_height = local_floor_height(depth, m.window, f, params, values);
    window_points(depth, m.window, f, m.floor_height, params, m.band, m.upper);
    std::uint64_t random = 1;
    FaceLineScratch scratch;
    m.fitted = fit_face_line(m.band, m.upper, candidate, f, params, random, scratch, m.fit);
    if (!m.fitted) return m;
    rows_of(m.band, m.fit, m.rows);
    face_ends(depth, m.band, m.fit, m.rows, f, values, m.ends);
    top_heights(m.band, m.upper, m.fit, m.heights);
    return m;
}

FaceSteps measure(const sim::Frame& frame, std::size_t pallet = 0)
{
    const FloorFrame f = true_floor(frame.truth);
    return measure(frame.depth, f, true_candidate(f, frame.truth.pallets[pallet].faces[0]));
}

sim::Frame pallet_frame(double distance, double lateral, double yaw, bool exact = true,
                        const std::string& model = "block_1200x800")
{
    sim::Scene scene = sim::pallet_scene(distance, lateral, yaw);
    scene.pallets[0].model = model;
    if (exact) scene.sensor = sim::exact_sensor();
    return sim::render(scene, 9);
}

// Hand-made points of a plate 1200 mm wide, 1500 mm ahead and square on, at 25..125 mm, leaning
// by lean_deg (> 0 the top farther), with a depth error of up to `noise` mm that follows from the
// point's place alone.
std::vector<FacePoint> leaning_plate(double lean_deg, double noise)
{
    std::vector<FacePoint> points;
    const double slope = std::tan(lean_deg * pi / 180.0);
    for (int row = 0; row <= 50; ++row) {
        const double h = 25.0 + 2.0 * row;
        for (int k = 0; k <= 120; ++k) {
            const double x = -600.0 + 10.0 * k;
            const double error = noise * std::sin(12.9898 * k + 78.233 * row);
            points.push_back({static_cast<float>(x), static_cast<float>(1500.0 + h * slope + error),
                              static_cast<float>(h), static_cast<std::int16_t>(k), static_cast<std::int16_t>(row)});
        }
    }
    return points;
}

FaceFit fit_of(const std::vector<FacePoint>& points, const Line& line)
{
    FaceFit fit;
    fit.line = line;
    fit.scale = 1.0;
    fit.inlier_band = 4.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        fit.inliers.push_back(static_cast<std::uint32_t>(i));
        fit.along.push_back(along(line, points[i]));
    }
    fit.left = -600.0;
    fit.right = 600.0;
    return fit;
}

// The truth face's end (-1 left, +1 right) along the candidate's line.
double true_end(const FaceCandidate& c, int side)
{
    return side < 0 ? c.left : c.right;
}

}  // namespace

TEST(DetectorFace, WindowSeesTheWholeBoxAroundTheFace)
{
    // Every pixel whose point lies in the window's box, at the face's heights, lies in its
    // rectangle: square on, turned, near, and near below a high camera that looks down, where the
    // face goes on below the image's last row.
    struct Case {
        sim::Mount mount;
        double distance, lateral, yaw;
        bool below;  // the face goes on below the image
    };
    const Case cases[] = {{sim::default_mount(), 1500.0, 0.0, 0.0, false},
                          {sim::default_mount(), 1300.0, 300.0, 25.0, false},
                          {sim::default_mount(), 800.0, -100.0, -10.0, false},
                          {sim::Mount{500.0, -10.0, 0.0}, 450.0, 0.0, 0.0, true}};
    const DetectorParams params;
    for (const Case& c : cases) {
        SCOPED_TRACE("distance " + std::to_string(c.distance));
        sim::Scene scene = sim::pallet_scene(c.distance, c.lateral, c.yaw);
        scene.mount = c.mount;
        scene.sensor = sim::exact_sensor();
        const sim::Frame frame = sim::render(scene, 3);
        const FloorFrame f = true_floor(frame.truth);
        const FaceWindow w = window_of(true_candidate(f, frame.truth.pallets[0].faces[0]), f, params);
        int inside = 0, outside = 0, last_row = 0;
        for (int v = 0; v < depth_rows; ++v) {
            for (int u = 0; u < depth_cols; ++u) {
                const std::uint16_t d = frame.depth.at<std::uint16_t>(v, u);
                if (d == 0) continue;
                const Eigen::Vector3d q = floor_of(f, d * pixel_direction(v, u));
                const double r = residual(w.line, q.x(), q.y());
                const double t = along(w.line, q.x(), q.y());
                if (r < w.r_lo || r > w.r_hi || t < w.t_lo || t > w.t_hi || q.z() < -params.local_floor_band_mm ||
                    q.z() > params.top_high_mm) {
                    continue;
                }
                (w.pixels.contains(cv::Point(u, v)) ? inside : outside) += 1;
                last_row += v == depth_rows - 1 && q.z() > params.band_low_mm;
            }
        }
        EXPECT_GT(inside, 1000);
        EXPECT_EQ(outside, 0);
        EXPECT_EQ(last_row > 0, c.below);
        if (c.below) {
            // The rectangle reaches the last row, and the band's points come from it too.
            EXPECT_EQ(w.pixels.br().y, depth_rows);
            const FaceSteps m = measure(frame);
            bool seen = false;
            for (const FacePoint& p : m.band) seen = seen || p.v == depth_rows - 1;
            EXPECT_TRUE(seen);
        }
    }
}

TEST(DetectorFace, PointsStandOnTheFloorInFrontOfTheFace)
{
    const sim::Frame frame = pallet_frame(1500.0, 100.0, 10.0);
    const FloorFrame truth = true_floor(frame.truth);
    const FaceCandidate candidate = true_candidate(truth, frame.truth.pallets[0].faces[0]);
    const DetectorParams params;

    // The fitted floor 15 mm below the real one: the floor in front says so, and every height is
    // taken from it.
    FloorFrame low = truth;
    low.height += 15.0;
    const FaceSteps m = measure(frame.depth, low, candidate);
    EXPECT_NEAR(m.floor_height, 15.0, 1.0);
    ASSERT_FALSE(m.band.empty());
    ASSERT_FALSE(m.upper.empty());
    for (const FacePoint& p : m.band) {
        ASSERT_GE(p.h, params.band_low_mm - 1e-3);
        ASSERT_LE(p.h, params.band_high_mm + 1e-3);
    }
    for (const FacePoint& p : m.upper) {
        ASSERT_GT(p.h, params.band_high_mm - 1e-3);
        ASSERT_LE(p.h, params.top_high_mm + 1e-3);
    }
    ASSERT_TRUE(m.fitted);
    EXPECT_NEAR(face_top(m.heights, 164.0), 144.0, 4.0);
    std::vector<double> values;
    const double bottom = face_bottom(m.band, m.fit, values);  // a twentieth of the band up
    EXPECT_GE(bottom, params.band_low_mm);
    EXPECT_LT(bottom, params.band_low_mm + 10.0);

    // Row by row, each row left to right; a pixel without depth never enters.
    for (std::size_t k = 1; k < m.band.size(); ++k) {
        const FacePoint& a = m.band[k - 1];
        const FacePoint& b = m.band[k];
        ASSERT_TRUE(a.v < b.v || (a.v == b.v && a.u < b.u)) << k;
    }
    const FacePoint probe = m.band[m.band.size() / 2];
    cv::Mat holed = frame.depth.clone();
    holed.at<std::uint16_t>(probe.v, probe.u) = 0;
    const FaceSteps without = measure(holed, low, candidate);
    EXPECT_EQ(without.band.size(), m.band.size() - 1);
    for (const FacePoint& p : without.band) EXPECT_FALSE(p.u == probe.u && p.v == probe.v);

    // No floor in front of the face (its pixels lost): the fitted floor stands.
    cv::Mat no_floor = frame.depth.clone();
    for (int v = 0; v < depth_rows; ++v) {
        for (int u = 0; u < depth_cols; ++u) {
            if (frame.labels.at<std::uint8_t>(v, u) == static_cast<std::uint8_t>(sim::Label::floor)) {
                no_floor.at<std::uint16_t>(v, u) = 0;
            }
        }
    }
    EXPECT_EQ(local_floor_height(no_floor, window_of(candidate, low, params), low, params, values), 0.0);
}

TEST(DetectorFace, LineAndEndsAreTheFrontsOwn)
{
    // Exact and noisy frames, square on and turned either way (the end blocks' sides in view):
    // the line within a few tenths of a degree, the ends within a few mm.
    for (const bool exact : {true, false}) {
        for (const double yaw : {-35.0, -15.0, 0.0, 20.0, 35.0}) {
            SCOPED_TRACE(std::string(exact ? "exact" : "noisy") + " yaw " + std::to_string(yaw));
            const sim::Frame frame = pallet_frame(1600.0, yaw > 0.0 ? 200.0 : -150.0, yaw, exact);
            const FaceSteps m = measure(frame);
            ASSERT_TRUE(m.fitted);
            const Line& truth = m.candidate.line;
            EXPECT_LT(std::acos(std::min(1.0, m.fit.line.mx * truth.mx + m.fit.line.my * truth.my)) * 180.0 / pi,
                      exact ? 0.2 : 0.5);
            EXPECT_NEAR(m.fit.line.c, truth.c, exact ? 2.0 : 4.0);
            EXPECT_LT(m.fit.scale, exact ? 1.5 : 4.0);
            EXPECT_EQ(m.fit.inliers.size(), m.fit.along.size());
            for (int side : {-1, 1}) {
                const double end = side < 0 ? m.ends.left : m.ends.right;
                EXPECT_NEAR(end, true_end(m.candidate, side), exact ? 4.0 : 8.0) << "side " << side;
                EXPECT_FALSE(side < 0 ? m.ends.left_rows.empty() : m.ends.right_rows.empty());
            }
            double error = NAN;
            EXPECT_NEAR(face_lean_deg(m.band, m.fit, error), 0.0, exact ? 0.5 : 1.0);
            EXPECT_NEAR(face_top(m.heights, 164.0), 144.0, exact ? 3.0 : 6.0);
        }
    }

    // One end beyond the image border: not measured, the other is.
    const sim::Frame cut = pallet_frame(1000.0, 250.0, -20.0);
    const FaceSteps half = measure(cut);
    ASSERT_TRUE(half.fitted);
    EXPECT_NE(std::isnan(half.ends.left), std::isnan(half.ends.right));
    const int seen = std::isnan(half.ends.left) ? 1 : -1;
    EXPECT_NEAR(seen < 0 ? half.ends.left : half.ends.right, true_end(half.candidate, seen), 4.0);

    // Two pallets side by side on one line: the face is the one the candidate lies on.
    sim::Scene pair = sim::pallet_scene(1800.0, -650.0, 0.0);
    pair.pallets.push_back({1800.0, 650.0, 0.0, "block_1200x800"});
    pair.sensor = sim::exact_sensor();
    const sim::Frame both = sim::render(pair, 9);
    for (std::size_t k = 0; k < 2; ++k) {
        const FaceSteps one = measure(both, k);
        ASSERT_TRUE(one.fitted) << k;
        EXPECT_NEAR(one.ends.left, one.candidate.left, 5.0) << k;
        EXPECT_NEAR(one.ends.right, one.candidate.right, 5.0) << k;
    }

    // A candidate over bare floor holds no face.
    const sim::Frame bare = sim::render([] {
        sim::Scene s = sim::floor_scene();
        s.sensor = sim::exact_sensor();
        return s;
    }(), 9);
    const FloorFrame f = true_floor(bare.truth);
    FaceCandidate nothing;
    nothing.line = {0.0, 1.0, 1500.0};
    nothing.left = -600.0;
    nothing.right = 600.0;
    nothing.range = 1500.0;
    EXPECT_FALSE(measure(bare.depth, f, nothing).fitted);
}

TEST(DetectorFace, SideEdgeMovesAnEndOntoTheSideInView)
{
    // A face 1500 mm ahead whose right end lies 300 mm left of the camera: the end block's side,
    // facing the camera, runs back from it. The rows put the end 1 mm out (the side's nearest
    // points pass for the face's); the side's points, well behind the face, put it back.
    const Line line{0.0, 1.0, 1500.0};
    const auto side_at = [](double x) {
        std::vector<FacePoint> band;
        for (int k = 0; k < 60; ++k) {
            const double r = 10.0 + 3.0 * k;
            for (const double h : {40.0, 60.0, 80.0}) {
                band.push_back({static_cast<float>(x), static_cast<float>(1500.0 + r), static_cast<float>(h), 0, 0});
            }
        }
        band.push_back({static_cast<float>(x), 1540.0f, 120.0f, 0, 0});  // a deck's top: never a side
        return band;
    };
    std::vector<FacePoint> band = side_at(-300.0);
    FaceFit fit = fit_of(band, line);
    std::vector<double> values;
    EXPECT_NEAR(side_edge(band, fit, -299.0, -1.0, values), -300.0, 1e-3);
    // A side read long (light that bounced inside the opening) seems to stand inside the part: the
    // end moves no farther than a grazing ray can carry the side's points (1.5 scales times
    // 299 / 1500, and a millimetre).
    band = side_at(-310.0);
    EXPECT_NEAR(side_edge(band, fit, -299.0, -1.0, values), -299.0 - (1.5 * 299.0 / 1500.0 + 1.0), 1e-9);
    // The same end right of the camera: its side faces away, the end stays.
    band = side_at(300.0);
    EXPECT_EQ(side_edge(band, fit, 296.0, -1.0, values), 296.0);
    // No side behind an edge: it stays.
    EXPECT_EQ(side_edge(band, fit, -450.0, -1.0, values), -450.0);
    EXPECT_TRUE(std::isnan(side_edge(band, fit, NAN, -1.0, values)));
}

TEST(DetectorFace, LeanIsTheSlopeOfTheFace)
{
    const Line line{0.0, 1.0, 1500.0};
    for (const double lean : {-6.5, -3.0, 0.0, 3.0, 6.5}) {
        for (const double noise : {0.0, 2.0}) {
            SCOPED_TRACE("lean " + std::to_string(lean) + " noise " + std::to_string(noise));
            const std::vector<FacePoint> plate = leaning_plate(lean, noise);
            double error = NAN;
            EXPECT_NEAR(face_lean_deg(plate, fit_of(plate, line), error), lean, noise > 0.0 ? 0.15 : 0.01);
            EXPECT_GE(error, 0.0);
            EXPECT_LT(error, noise > 0.0 ? 0.1 : 1e-4);
        }
    }
    // Without spread in height the lean is not measured.
    std::vector<FacePoint> flat = leaning_plate(0.0, 0.0);
    for (FacePoint& p : flat) p.h = 60.0f;
    double error = 0.0;
    EXPECT_TRUE(std::isnan(face_lean_deg(flat, fit_of(flat, line), error)));
    EXPECT_TRUE(std::isnan(error));
}

TEST(DetectorFace, TopIsTheDecksNotTheLoads)
{
    // The third highest height under the cap, the lowest when fewer; none without any.
    EXPECT_EQ(face_top({300.0, 150.0, 146.0, 145.0, 144.0, 120.0}, 164.0), 145.0);
    EXPECT_EQ(face_top({150.0, 146.0}, 164.0), 146.0);
    EXPECT_TRUE(std::isnan(face_top({300.0, 200.0}, 164.0)));
    EXPECT_TRUE(std::isnan(face_top({}, 164.0)));
    // In any order, equal heights counted one by one, a height at the cap under it.
    EXPECT_EQ(face_top({120.0, 145.0, 300.0, 144.0, 150.0, 146.0}, 164.0), 145.0);
    EXPECT_EQ(face_top({146.0, 150.0, 120.0, 150.0}, 164.0), 146.0);
    EXPECT_EQ(face_top({150.0, 164.0, 150.0, 150.0, 120.0}, 164.0), 150.0);
    EXPECT_EQ(face_top({170.0, 120.0}, 164.0), 120.0);

    // A load set back 25 mm on the deck leaves the top at the deck; one flush with the face goes
    // on above it.
    sim::Scene scene = sim::pallet_scene(1400.0, 0.0, 5.0);
    scene.sensor = sim::exact_sensor();
    scene.boxes.push_back(sim::load_on_pallet(scene.pallets[0], {1150.0, 750.0, 600.0}));
    const FaceSteps set_back = measure(sim::render(scene, 9));
    ASSERT_TRUE(set_back.fitted);
    EXPECT_NEAR(face_top(set_back.heights, 164.0), 144.0, 3.0);
    std::vector<int> bins;
    EXPECT_FALSE(face_goes_on_above(set_back.upper, set_back.fit, 164.0, bins));

    scene.boxes[0] = sim::load_on_pallet(scene.pallets[0], {1200.0, 800.0, 600.0});
    const FaceSteps flush = measure(sim::render(scene, 9));
    ASSERT_TRUE(flush.fitted);
    EXPECT_TRUE(face_goes_on_above(flush.upper, flush.fit, 164.0, bins));
}

TEST(DetectorFace, ABaseReadLongByFloorMultipathStillReachesTheFloor)
{
    // Light bounced off the floor reads the pixels the longer the lower they are, 0.3 mm per mm:
    // at 25 mm the face seems 15 mm behind itself, beyond the inlier band of a clean face. Taken
    // against the face's trend the base is where it is; taken against the line alone it would
    // stand some 35 mm above the floor.
    std::vector<FacePoint> plate = leaning_plate(0.0, 0.0);
    for (FacePoint& p : plate) p.y += 0.3f * (75.0f - p.h);
    const Line line{0.0, 1.0, 1500.0};
    FaceFit fit = fit_of(plate, line);
    std::vector<double> values;
    EXPECT_GT(face_bottom(plate, fit, values), 45.0);  // no trend known: the base is lost
    fit.trend_at_75 = 0.0;
    fit.trend_slope = -0.3;
    EXPECT_LT(face_bottom(plate, fit, values), 32.0);
}

TEST(DetectorFace, LeanComesFromTheSolidPartsAlone)
{
    // A far face's inlier band is wide: inside a fork opening the pallet's own inside, low down and
    // 40 mm behind the face, passes for the face's base and tips the lean back. The openings'
    // stretches leave it out.
    std::vector<FacePoint> plate = leaning_plate(0.0, 0.0);
    for (FacePoint& p : plate) {
        if (p.x > -450.0f && p.x < -100.0f && p.h < 50.0f) p.y += 40.0f;
    }
    const Line line{0.0, 1.0, 1500.0};
    const FaceFit fit = fit_of(plate, line);
    double error = NAN;
    EXPECT_LT(face_lean_deg(plate, fit, error), -2.0);
    EXPECT_NEAR(face_lean_deg(plate, fit, {{-450.0, -100.0}}, error), 0.0, 1e-6);
    // A stretch that covers nothing changes nothing.
    double plain_error = NAN;
    EXPECT_EQ(face_lean_deg(plate, fit, {{700.0, 900.0}}, error), face_lean_deg(plate, fit, plain_error));
}
