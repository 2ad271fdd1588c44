#include "analysis/detector/detect_pallets.hpp"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "sim/scenes.hpp"
#include "sim/sensor_presets.hpp"

namespace {

constexpr double deg = 3.14159265358979323846 / 180.0;

// The detector with the built-in types, the default parameters and the given seed.
Detection detect(const cv::Mat& depth, std::uint64_t seed = 1, bool explain = false)
{
    DetectorParams params;
    params.seed = seed;
    params.explain = explain;
    DetectorWorkspace workspace;
    return detect_pallets(depth, builtin_pallet_types(), params, workspace);
}

// A lone pallet, the working mount, the default sensor unless said otherwise.
sim::Frame pallet_frame(double distance, double lateral, double yaw_deg, bool exact = false,
                        std::uint64_t seed = 11, const std::string& model = "block_1200x800")
{
    sim::Scene scene = sim::pallet_scene(distance, lateral, yaw_deg);
    scene.pallets[0].model = model;
    if (exact) scene.sensor = sim::exact_sensor();
    return sim::render(scene, seed);
}

Eigen::Vector3d floor_point(const sim::Truth& truth, const Eigen::Vector3d& camera_point)
{
    return sim::camera_to_floor(truth.mount) * camera_point + Eigen::Vector3d(0.0, 0.0, truth.mount.height_mm);
}

// The truth's pockets of the first pallet's face, half way up the openings, camera frame.
Eigen::Vector3d true_pocket(const sim::Truth& truth, int side)
{
    return truth.pallets[0].faces[0].opening_centres[side < 0 ? 0 : 1];
}

void expect_near3(const Eigen::Vector3d& measured, const Eigen::Vector3d& truth, double tolerance,
                  const char* what)
{
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(measured(k), truth(k), tolerance) << what << " axis " << k;
}

// Every field of two results, compared exactly: NaN equals NaN.
bool same_bits(double a, double b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool same_bits(const Eigen::Vector3d& a, const Eigen::Vector3d& b)
{
    return same_bits(a.x(), b.x()) && same_bits(a.y(), b.y()) && same_bits(a.z(), b.z());
}

bool same_result(const DockPose& a, const DockPose& b)
{
    bool same = a.floor.found == b.floor.found && same_bits(a.floor.normal, b.floor.normal) &&
                same_bits(a.floor.camera_height_mm, b.floor.camera_height_mm) &&
                same_bits(a.floor.residual_mm, b.floor.residual_mm) && a.floor.inliers == b.floor.inliers &&
                a.face_found == b.face_found && a.face_points == b.face_points &&
                a.face_inliers == b.face_inliers && same_bits(a.yaw_deg, b.yaw_deg) &&
                same_bits(a.face_tilt_deg, b.face_tilt_deg) &&
                same_bits(a.face_distance_mm, b.face_distance_mm) &&
                same_bits(a.left_edge_floor, b.left_edge_floor) &&
                same_bits(a.right_edge_floor, b.right_edge_floor) &&
                same_bits(a.centre_camera, b.centre_camera) && same_bits(a.centre_floor, b.centre_floor) &&
                same_bits(a.width_mm, b.width_mm) && same_bits(a.face_height_mm, b.face_height_mm) &&
                a.pockets.size() == b.pockets.size() && a.verdict == b.verdict &&
                a.reason == b.reason && a.type == b.type && same_bits(a.confidence, b.confidence);
    for (std::size_t k = 0; same && k < a.pockets.size(); ++k) {
        same = same_bits(a.pockets[k].offset_mm, b.pockets[k].offset_mm) &&
               same_bits(a.pockets[k].width_mm, b.pockets[k].width_mm) &&
               same_bits(a.pockets[k].centre_camera, b.pockets[k].centre_camera);
    }
    return same;
}

bool same_detection(const Detection& a, const Detection& b)
{
    if (a.pallets.size() != b.pallets.size() || a.rejected.size() != b.rejected.size() ||
        a.candidates != b.candidates || a.reason != b.reason || a.explained != b.explained) {
        return false;
    }
    for (std::size_t k = 0; k < a.pallets.size(); ++k) {
        if (!same_result(a.pallets[k], b.pallets[k])) return false;
    }
    for (std::size_t k = 0; k < a.rejected.size(); ++k) {
        if (!same_result(a.rejected[k], b.rejected[k])) return false;
    }
    return true;
}

}  // namespace

TEST(DetectPallets, SquareOnPalletMatchesTheTruthInBothFrames)
{
    const sim::Frame frame = pallet_frame(1500.0, 0.0, 0.0, true);
    const Detection detection = detect_pallets(frame.depth);
    ASSERT_EQ(detection.pallets.size(), 1U);
    const DockPose dock = dock_of(detection);
    ASSERT_EQ(dock.verdict, DockVerdict::pallet) << dock_reason_name(dock.reason);
    EXPECT_EQ(dock.type, "block_1200x800_long");
    EXPECT_EQ(dock.reason, DockReason::none);

    // The floor: 200 mm below the camera, which looks 6 degrees up.
    ASSERT_TRUE(dock.floor.found);
    EXPECT_LT(std::acos(dock.floor.normal.dot(frame.truth.floor_normal)), 0.1 * deg);
    EXPECT_NEAR(dock.floor.camera_height_mm, 200.0, 1.0);
    EXPECT_NEAR(dock.floor.camera_tilt_deg, 6.0, 0.05);
    EXPECT_NEAR(dock.floor.camera_roll_deg, 0.0, 0.05);
    EXPECT_LT(dock.floor.residual_mm, 1.0);

    // The face 1500 mm ahead, square on, 1200 mm wide, 144 mm high, vertical.
    EXPECT_NEAR(dock.yaw_deg, 0.0, 0.05);
    EXPECT_NEAR(dock.face_distance_mm, 1500.0, 1.0);
    EXPECT_NEAR(dock.face_tilt_deg, 0.0, 0.5);
    EXPECT_NEAR(dock.width_mm, 1200.0, 4.0);
    EXPECT_NEAR(dock.face_height_mm, 144.0, 4.0);
    EXPECT_LT(std::acos(dock.face_normal_camera.dot(frame.truth.pallets[0].faces[0].normal)), 0.1 * deg);
    expect_near3(dock.centre_camera, frame.truth.pallets[0].faces[0].centre, 3.0, "centre, camera frame");
    expect_near3(dock.centre_floor, {0.0, 1500.0, 72.0}, 3.0, "centre, floor frame");
    expect_near3(dock.left_edge_floor, {-600.0, 1500.0, dock.centre_floor.z()}, 3.0, "left edge");
    expect_near3(dock.right_edge_floor, {600.0, 1500.0, dock.centre_floor.z()}, 3.0, "right edge");

    // Two openings 382.5 mm wide, their middles 263.75 mm either side, half way up.
    ASSERT_EQ(dock.pockets.size(), 2U);
    EXPECT_NEAR(dock.pockets[0].offset_mm, -263.75, 4.0);
    EXPECT_NEAR(dock.pockets[1].offset_mm, 263.75, 4.0);
    for (int k = 0; k < 2; ++k) {
        EXPECT_NEAR(dock.pockets[k].width_mm, 382.5, 6.0) << k;
        expect_near3(dock.pockets[k].centre_camera, true_pocket(frame.truth, k == 0 ? -1 : 1), 4.0, "pocket");
    }
    EXPECT_GT(dock.confidence, 0.8);
    EXPECT_LE(dock.confidence, 1.0);
}

TEST(DetectPallets, TurnAndOffsetKeepTheirSignsAndFrames)
{
    // Yaw > 0 turns the right end away: it must come out > 0, the right end farther, the face
    // looking to the right (its normal's x > 0), and the centre where the truth has it in either
    // frame.
    for (const double yaw : {-15.0, 15.0}) {
        for (const double lateral : {-200.0, 250.0}) {
            SCOPED_TRACE("yaw " + std::to_string(yaw) + " lateral " + std::to_string(lateral));
            const sim::Frame frame = pallet_frame(1400.0, lateral, yaw);
            const DockPose dock = dock_of(detect_pallets(frame.depth));
            ASSERT_EQ(dock.verdict, DockVerdict::pallet) << dock_reason_name(dock.reason);
            EXPECT_NEAR(dock.yaw_deg, yaw, 0.3);
            EXPECT_EQ(dock.right_edge_floor.y() > dock.left_edge_floor.y(), yaw > 0.0);
            EXPECT_LT(dock.left_edge_floor.x(), dock.right_edge_floor.x());
            EXPECT_LT(dock.face_normal_camera.z(), 0.0);  // towards the camera
            EXPECT_EQ(dock.face_normal_camera.x() > 0.0, yaw > 0.0);
            EXPECT_LT(std::acos(dock.face_normal_camera.dot(frame.truth.pallets[0].faces[0].normal)), 0.5 * deg);
            expect_near3(dock.centre_camera, frame.truth.pallets[0].faces[0].centre, 6.0, "centre, camera frame");
            expect_near3(dock.centre_floor, floor_point(frame.truth, frame.truth.pallets[0].faces[0].centre), 6.0,
                         "centre, floor frame");
            EXPECT_NEAR(dock.centre_floor.x(), lateral, 6.0);
            EXPECT_NEAR(dock.width_mm, 1200.0, 10.0);
            ASSERT_EQ(dock.pockets.size(), 2U);
            for (int k = 0; k < 2; ++k) {
                expect_near3(dock.pockets[k].centre_camera, true_pocket(frame.truth, k == 0 ? -1 : 1), 8.0,
                             "pocket");
            }
        }
    }
}

TEST(DetectPallets, FacesCutOffByTheBandOrTheImageAreMeasuredWhole)
{
    // 300 mm to the side, where the fixed lateral band keeps 900 mm of the face: all 1200.
    const sim::Frame beside = pallet_frame(1250.0, 300.0, 0.0, true);
    const DockPose wide = dock_of(detect_pallets(beside.depth));
    ASSERT_EQ(wide.verdict, DockVerdict::pallet) << dock_reason_name(wide.reason);
    EXPECT_NEAR(wide.width_mm, 1200.0, 5.0);
    EXPECT_NEAR(wide.centre_floor.x(), 300.0, 3.0);

    // At 1 m, turned and beside the camera, one end lies outside the image: that edge and the
    // width are not measured, and the centre comes from the end seen and the pockets.
    const sim::Frame cut = pallet_frame(1000.0, 250.0, -20.0, true);
    const DockPose half = dock_of(detect_pallets(cut.depth));
    ASSERT_EQ(half.verdict, DockVerdict::pallet) << dock_reason_name(half.reason);
    EXPECT_TRUE(std::isnan(half.width_mm));
    EXPECT_NE(std::isnan(half.left_edge_floor.x()), std::isnan(half.right_edge_floor.x()));
    EXPECT_TRUE(std::isnan(half.left_edge_camera.x()) == std::isnan(half.left_edge_floor.x()));
    expect_near3(half.centre_camera, cut.truth.pallets[0].faces[0].centre, 5.0, "centre of a face cut off");
    EXPECT_NEAR(half.yaw_deg, -20.0, 0.3);
}

TEST(DetectPallets, ClutterAndALoadLeaveTheFaceAlone)
{
    // A box beside the pallet that the face line's extension crosses, and a load on the deck set
    // back 25 mm: under every seed the face's spread, top and centre stay the pallet's.
    for (const std::uint64_t render_seed : {5ULL, 105ULL}) {
        const sim::Frame frame = sim::render(sim::warehouse_scene(), render_seed);
        for (std::uint64_t seed = 1; seed <= 6; ++seed) {
            SCOPED_TRACE("render " + std::to_string(render_seed) + " seed " + std::to_string(seed));
            const DockPose dock = dock_of(detect(frame.depth, seed));
            ASSERT_EQ(dock.verdict, DockVerdict::pallet) << dock_reason_name(dock.reason);
            expect_near3(dock.centre_camera, frame.truth.pallets[0].faces[0].centre, 3.0, "centre");
            EXPECT_NEAR(dock.face_height_mm, 144.0, 4.0);
            EXPECT_LT(dock.face_residual_mm, 4.0);
            EXPECT_NEAR(dock.yaw_deg, 0.0, 0.1);
        }
    }
}

TEST(DetectPallets, FloorAloneHoldsNoPallet)
{
    // Dropouts and noise on a floor that the fixed analysis often takes for a pallet: the robust
    // floor never takes pixels without depth, and no face stands on it.
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        sim::Scene scene = sim::floor_scene(sim::Mount{250.0, 4.0, 0.0});
        scene.sensor.noise_k_per_mm = 2.0e-6;
        scene.sensor.dropout_rate = 0.04;
        const Detection detection = detect(sim::render(scene, seed).depth);
        EXPECT_TRUE(detection.pallets.empty()) << "seed " << seed;
        const DockPose dock = dock_of(detection);
        EXPECT_EQ(dock.verdict, DockVerdict::no_pallet);
        EXPECT_EQ(dock.reason, DockReason::no_face);
        EXPECT_TRUE(dock.floor.found);
        EXPECT_NEAR(dock.floor.camera_height_mm, 250.0, 3.0) << "seed " << seed;
        EXPECT_NEAR(dock.floor.camera_tilt_deg, 4.0, 0.2) << "seed " << seed;
        EXPECT_EQ(dock.confidence, 0.0);
    }
}

TEST(DetectPallets, DegenerateInputsSayWhatIsMissing)
{
    // No depth at all: no floor, nothing measured.
    const Detection empty = detect(cv::Mat::zeros(480, 640, CV_16UC1));
    EXPECT_FALSE(empty.floor.found);
    EXPECT_EQ(empty.reason, DockReason::no_floor);
    EXPECT_TRUE(empty.pallets.empty());
    const DockPose none = dock_of(empty);
    EXPECT_EQ(none.reason, DockReason::no_floor);
    EXPECT_EQ(none.verdict, DockVerdict::no_pallet);
    EXPECT_FALSE(none.face_found);
    EXPECT_TRUE(std::isnan(none.floor.camera_height_mm));
    EXPECT_TRUE(std::isnan(none.centre_camera.x()));
    EXPECT_TRUE(none.pockets.empty());
    EXPECT_EQ(none.confidence, 0.0);

    // One depth everywhere (a wall square to the camera), or every pixel at the sensor's limits:
    // no plane there is a floor below the camera.
    for (const int depth : {1, 1800, 65535}) {
        EXPECT_EQ(detect(cv::Mat(480, 640, CV_16UC1, cv::Scalar(depth))).reason, DockReason::no_floor) << depth;
    }

    // The floor alone, exact: a floor and nothing on it.
    sim::Scene floor_only = sim::floor_scene();
    floor_only.sensor = sim::exact_sensor();
    const Detection bare = detect(sim::render(floor_only, 3).depth, 1, true);
    EXPECT_TRUE(bare.floor.found);
    EXPECT_EQ(bare.reason, DockReason::no_face);
    EXPECT_EQ(bare.candidates, 0U);
    EXPECT_TRUE(bare.rejected.empty());

    // Another size or type is refused.
    EXPECT_THROW(detect(cv::Mat::zeros(240, 320, CV_16UC1)), cv::Exception);
    EXPECT_THROW(detect(cv::Mat::zeros(480, 640, CV_32FC1)), cv::Exception);
}

TEST(DetectPallets, ResultFollowsFromInputAndSeedAlone)
{
    const sim::Frame frame = pallet_frame(1750.0, 120.0, 10.0, false, 21);
    DetectorParams params;
    params.seed = 7;
    DetectorWorkspace workspace;
    const Detection first = detect_pallets(frame.depth, builtin_pallet_types(), params, workspace);
    ASSERT_EQ(first.pallets.size(), 1U);
    EXPECT_TRUE(same_detection(first, detect(frame.depth, 7)));

    // A workspace that held another frame changes nothing.
    const sim::Frame other = pallet_frame(1100.0, -200.0, -15.0, false, 22, "plastic_9leg_1200x800");
    detect_pallets(other.depth, builtin_pallet_types(), params, workspace);
    EXPECT_TRUE(same_detection(first, detect_pallets(frame.depth, builtin_pallet_types(), params, workspace)));

    // A result and a dock pose kept from frames with more pallets, other types and pockets, or no
    // floor, and given back to the detector, hold this frame's alone.
    sim::Scene three = sim::pallet_scene(2600.0);
    three.pallets = {sim::PalletPlacement{2600.0, -1350.0, 0.0}, sim::PalletPlacement{2600.0, 0.0, 0.0},
                     sim::PalletPlacement{2600.0, 1350.0, 0.0}};
    three.pallets[2].model = "stringer_48x40";
    const cv::Mat three_depth = sim::render(three, 23).depth;
    const cv::Mat no_floor(480, 640, CV_16UC1, cv::Scalar(900));
    DetectorParams explain = params;
    explain.explain = true;
    for (const cv::Mat* before : {&three_depth, &no_floor, &other.depth}) {
        for (const DetectorParams* p : {&params, &explain}) {
            Detection kept;
            DockPose dock;
            detect_pallets(*before, builtin_pallet_types(), *p, workspace, kept);
            dock_of(kept, dock);
            ASSERT_FALSE(kept.rejected.empty() && kept.pallets.empty() && before != &no_floor);
            detect_pallets(frame.depth, builtin_pallet_types(), *p, workspace, kept);
            dock_of(kept, dock);
            const Detection fresh = detect(frame.depth, 7, p->explain);
            EXPECT_TRUE(same_detection(fresh, kept));
            EXPECT_TRUE(same_result(dock_of(fresh), dock));
        }
    }
    Detection none;
    DockPose dock = dock_of(first);
    detect_pallets(no_floor, builtin_pallet_types(), params, workspace, none);
    dock_of(none, dock);
    EXPECT_TRUE(same_result(dock_of(detect(no_floor, 7)), dock));
    EXPECT_EQ(dock.reason, DockReason::no_floor);
    EXPECT_TRUE(dock.pockets.empty() && dock.type.empty());

    // Another seed draws other samples; the robust fits land on the same face.
    for (const std::uint64_t seed : {1ULL, 2ULL, 0xFFFFFFFFFFFFFFFFULL}) {
        const Detection again = detect(frame.depth, seed);
        ASSERT_EQ(again.pallets.size(), 1U) << seed;
        expect_near3(again.pallets[0].centre_camera, first.pallets[0].centre_camera, 1.0, "centre under another seed");
        EXPECT_NEAR(again.pallets[0].yaw_deg, first.pallets[0].yaw_deg, 0.05) << seed;
    }
}

TEST(DetectPallets, ConfidenceFallsWithDistanceAndNoise)
{
    // The same placement, nearer and cleaner against farther and noisier: the second is measured
    // less surely, and says so.
    const sim::Frame near_frame = pallet_frame(1250.0, 0.0, 5.0, true);
    sim::Scene far_scene = sim::pallet_scene(3250.0, 0.0, 5.0);
    far_scene.sensor.noise_k_per_mm = 2.0e-6;
    const sim::Frame far_frame = sim::render(far_scene, 4);
    const DockPose sure = dock_of(detect(near_frame.depth));
    const DockPose unsure = dock_of(detect(far_frame.depth));
    ASSERT_EQ(sure.verdict, DockVerdict::pallet);
    ASSERT_EQ(unsure.verdict, DockVerdict::pallet) << dock_reason_name(unsure.reason);
    EXPECT_GT(sure.confidence, unsure.confidence);
    EXPECT_GT(unsure.confidence, 0.0);
    EXPECT_LE(sure.confidence, 1.0);
}

TEST(DetectPallets, APalletSeenFromItsCornerIsOnePallet)
{
    // Turned by 30 to 60 degrees, both faces of a pallet stand in view; the corner where they meet
    // often hides the nearer face's end there. One pallet comes back, the face turned more squarely
    // to the camera, wherever it stands.
    int frames = 0;
    for (const std::string model : {"block_1100x1100", "block_1200x1000"}) {
        for (const double yaw : {-55.0, -48.0, -40.0, -33.0, 33.0, 40.0, 48.0, 55.0}) {
            for (const double distance : {1800.0, 2300.0}) {
                const sim::Frame frame = pallet_frame(distance, 0.2 * yaw * 10.0, yaw, true, 5, model);
                const Detection detection = detect(frame.depth);
                SCOPED_TRACE(model + " yaw " + std::to_string(yaw) + " at " + std::to_string(distance));
                ASSERT_EQ(detection.pallets.size(), 1U);
                const sim::PalletTruth& truth = frame.truth.pallets[0];
                const sim::FaceTruth& square = truth.faces[0];
                EXPECT_NEAR(detection.pallets[0].yaw_deg, square.yaw_deg, 1.0);
                EXPECT_LT((detection.pallets[0].centre_camera - square.centre).norm(), 30.0);
                ++frames;
            }
        }
    }
    EXPECT_EQ(frames, 32);
}

TEST(DetectPallets, AWallSeenPastAPalletIsNoPallet)
{
    // The pallet's blocks leave their shadows on a wall behind it, and the wall shows through its
    // openings: along the wall's foot, solid parts and gaps as a face has them. Gaps that a nearer
    // surface fills are no openings, so the wall is no pallet.
    int frames = 0;
    for (const std::string model : {"stringer_48x40", "block_1200x800"}) {
        for (const double wall : {2900.0, 3050.0, 3200.0, 3400.0}) {
            for (const double yaw : {-12.0, 6.0}) {
                sim::Scene scene = sim::pallet_scene(1900.0, 0.0, yaw);
                scene.pallets[0].model = model;
                scene.sensor = sim::exact_sensor();
                scene.boxes.push_back(sim::back_wall(wall));
                const sim::Frame frame = sim::render(scene, 3);
                const Detection detection = detect(frame.depth);
                SCOPED_TRACE(model + " wall at " + std::to_string(wall) + " yaw " + std::to_string(yaw));
                ASSERT_EQ(detection.pallets.size(), 1U);
                EXPECT_LT((detection.pallets[0].centre_camera - frame.truth.pallets[0].faces[0].centre).norm(), 20.0);
                ++frames;
            }
        }
    }
    EXPECT_EQ(frames, 16);
}

// A time-of-flight frame of the 1000 mm face of a 1200 x 1000 block pallet, its middle
// `distance` ahead and `lateral` to the right, turned by `yaw`.
sim::Frame short_face_frame(double distance, double lateral, double yaw, const sim::Mount& mount, std::uint64_t seed)
{
    const PalletModel& model = *find_pallet_model("block_1200x1000");
    sim::Scene scene = sim::with_sensor(sim::pallet_scene(distance), sim::sensor_preset("tof"));
    scene.mount = mount;
    // Turned a quarter further: its left side face, 1000 mm wide, faces the camera.
    sim::PalletPlacement& pallet = scene.pallets[0];
    pallet = sim::PalletPlacement{0.0, 0.0, yaw + 90.0, "block_1200x1000"};
    const Eigen::Vector3d middle =
        sim::pallet_to_floor(pallet, {-model.front.width_mm / 2.0, model.side.width_mm / 2.0, 0.0});
    pallet.distance_mm = distance - middle.y();
    pallet.lateral_mm = lateral - middle.x();
    return sim::render(scene, seed);
}

TEST(DetectPallets, AFarNarrowFaceTurnsToAllItsBlocks)
{
    // The 1000 mm face of a 1200 x 1000 block pallet 3.2 m ahead, turned 8 to 12 degrees, on a
    // time-of-flight sensor: a line sampled through its nearest block alone misses the others by
    // more than the noise, and a face line fitted to that block cut the face in two (about 560 mm
    // wide, no type). Each frame gives the whole face, its type and its yaw.
    const std::vector<PalletType> types = builtin_pallet_types();
    int found = 0, frames = 0;
    for (const double yaw : {-12.0, -8.0, 8.0, 12.0}) {
        for (const std::uint64_t seed : {1ULL, 2ULL, 3ULL}) {
            const sim::Frame frame = short_face_frame(3200.0, -700.0, yaw, sim::Mount{360.0, -2.5, 0.0}, seed);
            const sim::FaceTruth& face = frame.truth.pallets[0].faces[0];
            ASSERT_EQ(face.type, "block_1200x1000_short");
            ++frames;
            DetectorWorkspace workspace;
            const Detection detection = detect_pallets(frame.depth, types, DetectorParams{}, workspace);
            SCOPED_TRACE("yaw " + std::to_string(yaw) + " seed " + std::to_string(seed));
            ASSERT_EQ(detection.pallets.size(), 1U);
            const DockPose& pose = detection.pallets[0];
            EXPECT_EQ(pose.type, face.type);
            EXPECT_NEAR(pose.yaw_deg, face.yaw_deg, 1.0);
            if (std::isfinite(pose.width_mm)) {  // else an end unseen
                EXPECT_NEAR(pose.width_mm, 1000.0, 30.0);
            }
            found += pose.type == face.type;
        }
    }
    EXPECT_EQ(found, frames);
}

TEST(DetectPallets, AFaceGoesOnWhereOnlyItsTopDoes)
{
    // The scan (every other row) sees the 1000 mm face of a 1200 x 1000 block pallet only as far
    // as its second opening, as when a cluster of lost pixels or a bend breaks it there: beyond,
    // its odd rows hold no depth. The face's top goes on over the opening to the window's end, so
    // the window grows and the face is measured whole, not as its first two blocks.
    const std::vector<PalletType> types = builtin_pallet_types();
    int found = 0, frames = 0;
    for (const double lateral : {-300.0, 300.0}) {
        for (const double yaw : {-5.0, 0.0, 5.0}) {
            sim::Frame frame = short_face_frame(2200.0, lateral, yaw, sim::Mount{257.0, 2.9, 0.0}, 3);
            const sim::FaceTruth& face = frame.truth.pallets[0].faces[0];
            // The face's right end lies along its plane, to the right of the camera's view of it:
            // the second block's right side, 572.5 mm from the left end.
            const Eigen::Vector3d right = face.normal.cross(Eigen::Vector3d(0.0, 1.0, 0.0)).normalized();
            const Eigen::Vector3d along = right.x() > 0.0 ? right : Eigen::Vector3d(-right);
            const Eigen::Vector3d cut = face.centre + (572.5 - 500.0 + 10.0) * along;
            const int first = static_cast<int>(std::ceil(sim::project(cut).x));
            ASSERT_GT(first, 0);
            ASSERT_LT(first, frame.depth.cols);
            for (int v = 1; v < frame.depth.rows; v += 2) frame.depth.row(v).colRange(first, frame.depth.cols).setTo(0);
            ++frames;
            DetectorWorkspace workspace;
            const Detection detection = detect_pallets(frame.depth, types, DetectorParams{}, workspace);
            SCOPED_TRACE("lateral " + std::to_string(lateral) + " yaw " + std::to_string(yaw));
            ASSERT_EQ(detection.pallets.size(), 1U);
            EXPECT_EQ(detection.pallets[0].type, "block_1200x1000_short");
            EXPECT_NEAR(detection.pallets[0].width_mm, 1000.0, 30.0);
            found += detection.pallets[0].type == "block_1200x1000_short";
        }
    }
    EXPECT_EQ(found, frames);
}
