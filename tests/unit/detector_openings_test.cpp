#include "analysis/detector/openings.hpp"

#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "analysis/detector/face_line.hpp"
#include "analysis/detector/face_points.hpp"
#include "common/pallet_types.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "sim/scenes.hpp"

namespace {

FloorFrame true_floor(const sim::Truth& truth)
{
    return floor_frame_of(truth.floor_normal, truth.mount.height_mm);
}

// The truth's face as the scan would give it.
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

// The openings of the frame's first face, through the steps before them; false when no face
// line holds.
struct Seen {
    FaceCandidate candidate;
    std::vector<Opening> openings;
    const PalletType* type = nullptr;  // the truth's
    std::vector<double> true_middles;  // the truth's openings' middles along the line
};

bool openings_of(const cv::Mat& depth, const sim::Truth& truth, Seen& seen)
{
    const DetectorParams params;
    const FloorFrame f = true_floor(truth);
    const sim::FaceTruth& face = truth.pallets[0].faces[0];
    seen.candidate = true_candidate(f, face);
    seen.type = find_pallet_type(builtin_pallet_types(), face.type);
    seen.true_middles.clear();
    for (const Eigen::Vector3d& c : face.opening_centres) {
        const Eigen::Vector3d q = floor_of(f, c);
        seen.true_middles.push_back(along(seen.candidate.line, q.x(), q.y()));
    }
    std::vector<double> values;
    const FaceWindow window = window_of(seen.candidate, f, params);
    const double floor_height = local_floor_height(depth, window, f, params, values);
    std::vector<FacePoint> band, upper;
    window_points(depth, window, f, floor_height, params, band, upper);
    std::uint64_t random = 1;
    FaceLineScratch line_scratch;
    FaceFit fit;
    if (!fit_face_line(band, upper, seen.candidate, f, params, random, line_scratch, fit)) return false;
    OpeningScratch scratch;
    find_openings(band, upper, fit, f, params, scratch, seen.openings);
    return true;
}

// The openings where the truth has them, as wide and as high as the type's.
void expect_openings(const Seen& seen, double middle_mm, double width_mm, double top_mm)
{
    ASSERT_NE(seen.type, nullptr);
    ASSERT_EQ(seen.openings.size(), seen.type->openings.size());
    ASSERT_EQ(seen.true_middles.size(), seen.openings.size());
    for (std::size_t k = 0; k < seen.openings.size(); ++k) {
        const Opening& o = seen.openings[k];
        const FaceRect& r = seen.type->openings[k];
        EXPECT_NEAR((o.lo + o.hi) / 2.0, seen.true_middles[k], middle_mm) << k;
        EXPECT_NEAR(o.hi - o.lo, r.right_mm - r.left_mm, width_mm) << k;
        EXPECT_NEAR(o.top, r.top_mm, top_mm) << k;  // read from the pixel rows just above it
        EXPECT_GE(o.rows, DetectorParams{}.opening_min_rows) << k;
        if (k > 0) {
            EXPECT_GT(o.lo, seen.openings[k - 1].hi) << k;
        }
    }
}

sim::Frame render(const std::string& model, double distance, double lateral, double yaw, bool exact,
                  std::uint64_t seed = 13)
{
    sim::Scene scene = sim::pallet_scene(distance, lateral, yaw);
    scene.pallets[0].model = model;
    if (exact) scene.sensor = sim::exact_sensor();
    return sim::render(scene, seed);
}

}  // namespace

TEST(DetectorOpenings, EveryTypesOpeningsAreWhereItHasThem)
{
    // Each built-in face with fork openings, seen square on: its front, and its side turned to
    // the camera where that is a type of its own (turned a quarter, the side's middle 1400 mm
    // ahead).
    for (const PalletModel& model : builtin_pallet_models()) {
        for (const double yaw : {0.0, 90.0}) {
            const double half_side = model.side.width_mm / 2.0;
            const sim::Frame frame = yaw == 0.0 ? render(model.name, 1400.0, 0.0, 0.0, true)
                                                : render(model.name, 1400.0 + model.front.width_mm / 2.0, half_side,
                                                         90.0, true);
            const sim::FaceTruth& face = frame.truth.pallets[0].faces[0];
            if (face.type.empty()) continue;  // a side without fork openings
            SCOPED_TRACE(model.name + " " + face.type);
            Seen seen;
            ASSERT_TRUE(openings_of(frame.depth, frame.truth, seen));
            expect_openings(seen, 3.0, 5.0, 6.0);
        }
    }
}

TEST(DetectorOpenings, TurnedNoisyAndHoledFacesKeepTheirOpenings)
{
    // Turned either way, the blocks' sides in view through the openings (an opening's ends move
    // onto them), with and without the sensor's noise.
    for (const double yaw : {-45.0, -30.0, -10.0, 15.0, 30.0, 45.0}) {
        for (const bool exact : {true, false}) {
            SCOPED_TRACE("yaw " + std::to_string(yaw) + (exact ? " exact" : " noisy"));
            const sim::Frame frame = render("block_1200x800", 1600.0, yaw > 0.0 ? 250.0 : -250.0, yaw, exact);
            Seen seen;
            ASSERT_TRUE(openings_of(frame.depth, frame.truth, seen));
            expect_openings(seen, 3.0, 5.0, 5.0);
        }
    }

    // A tenth of the pixels lost at random.
    sim::Frame frame = render("block_1200x1000", 1500.0, 100.0, 5.0, false);
    sim::apply_dropouts(frame.depth, sim::Dropouts{0.0, 0.0, 0.1}, 21);
    Seen lossy;
    ASSERT_TRUE(openings_of(frame.depth, frame.truth, lossy));
    expect_openings(lossy, 4.0, 8.0, 6.0);

    // The middle block lost over three rows (12 mm, two height slices at most): a gap there is
    // seen in too few slices to be an opening.
    const sim::Frame square = render("block_1200x800", 1400.0, 0.0, 0.0, true);
    cv::Mat holed = square.depth.clone();
    const cv::Point2d middle = sim::project(square.truth.pallets[0].faces[0].centre);
    holed(cv::Rect(static_cast<int>(middle.x) - 30, static_cast<int>(middle.y), 60, 3)).setTo(0);
    Seen rows_lost;
    ASSERT_TRUE(openings_of(holed, square.truth, rows_lost));
    expect_openings(rows_lost, 3.0, 5.0, 5.0);
}

TEST(DetectorOpenings, FacesWithoutOpeningsShowNone)
{
    // A box's face, and the stringer pallet's long side: solid at fork heights.
    sim::Scene box_scene = sim::floor_scene();
    box_scene.sensor = sim::exact_sensor();
    sim::Box box;
    box.centre = {0.0, 1900.0, 200.0};
    box.size = {1200.0, 800.0, 400.0};
    box_scene.boxes.push_back(box);
    const sim::Frame box_frame = sim::render(box_scene, 13);
    sim::Truth truth = box_frame.truth;
    sim::FaceTruth front;
    front.centre = sim::floor_to_camera(truth.mount, {0.0, 1500.0, 72.0});
    front.normal = sim::camera_to_floor(truth.mount).transpose() * Eigen::Vector3d(0.0, -1.0, 0.0);
    front.width_mm = 1200.0;
    sim::PalletTruth pallet;
    pallet.faces.push_back(front);
    truth.pallets = {pallet};
    Seen solid;
    ASSERT_TRUE(openings_of(box_frame.depth, truth, solid));
    EXPECT_TRUE(solid.openings.empty());

    const sim::Frame side = render("stringer_48x40", 1400.0 + 508.0, 609.5, 90.0, true);
    ASSERT_TRUE(side.truth.pallets[0].faces[0].type.empty());
    Seen stringer_side;
    ASSERT_TRUE(openings_of(side.depth, side.truth, stringer_side));
    EXPECT_TRUE(stringer_side.openings.empty());
}
