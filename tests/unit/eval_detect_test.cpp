#include "tools/eval_detect.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A face square on to a level camera, its middle at (x, 0, z) (camera frame, mm).
sim::FaceTruth face_at(double x, double z, const std::string& type = "block_1200x800_long", double yaw_deg = 0.0)
{
    sim::FaceTruth face;
    face.type = type;
    face.centre = {x, 0.0, z};
    face.normal = {0.0, 0.0, -1.0};
    face.width_mm = 1200.0;
    face.height_mm = 144.0;
    face.yaw_deg = yaw_deg;
    face.opening_centres = {{x - 300.0, 22.0, z}, {x + 300.0, 22.0, z}};
    return face;
}

DockPose detection_at(const Eigen::Vector3d& centre, double yaw_deg, const std::string& type = "block_1200x800_long")
{
    DockPose pose;
    pose.verdict = DockVerdict::pallet;
    pose.type = type;
    pose.centre_camera = centre;
    pose.centre_floor = {centre.x(), centre.z(), 72.0};
    pose.yaw_deg = yaw_deg;
    pose.face_height_mm = 144.0;
    return pose;
}

sim::Truth level_truth(const std::vector<sim::FaceTruth>& faces)
{
    sim::Truth truth;
    truth.mount.height_mm = 200.0;
    truth.mount.pitch_deg = 0.0;
    truth.floor_normal = {0.0, -1.0, 0.0};
    for (const sim::FaceTruth& face : faces) {
        sim::PalletTruth pallet;
        pallet.placement.model = "block_1200x800";
        pallet.faces = {face};
        truth.pallets.push_back(pallet);
    }
    return truth;
}

}  // namespace

TEST(MatchDetections, CentreAndYawLimitsHoldJustInsideNotOutside)
{
    const std::vector<std::vector<sim::FaceTruth>> pallets = {{face_at(0.0, 2000.0)}};
    const auto matches_one = [&](const Eigen::Vector3d& centre, double yaw) {
        return match_detections({detection_at(centre, yaw)}, pallets).size() == 1;
    };
    EXPECT_TRUE(matches_one({99.9, 0.0, 2000.0}, 0.0));
    EXPECT_FALSE(matches_one({100.1, 0.0, 2000.0}, 0.0));
    EXPECT_TRUE(matches_one({0.0, 60.0, 2079.0}, 0.0));   // 99.9 mm off in y and z together
    EXPECT_FALSE(matches_one({0.0, 60.0, 2081.0}, 0.0));  // 100.3 mm
    EXPECT_TRUE(matches_one({0.0, 0.0, 2000.0}, 9.9));
    EXPECT_FALSE(matches_one({0.0, 0.0, 2000.0}, -10.1));
    EXPECT_FALSE(matches_one({NAN, NAN, NAN}, 0.0));

    // The yaw difference wraps: 179 against -179 degrees is 2 degrees apart.
    const std::vector<FaceMatch> wrapped =
        match_detections({detection_at({0.0, 0.0, 2000.0}, 179.0)}, {{face_at(0.0, 2000.0, "t", -179.0)}});
    ASSERT_EQ(wrapped.size(), 1U);
    EXPECT_NEAR(wrapped[0].yaw_error_deg, -2.0, 1e-9);
}

TEST(MatchDetections, OneToOneNearestFirst)
{
    // Two detections of one face: the nearer matches, the other is left over.
    const std::vector<FaceMatch> two_for_one = match_detections(
        {detection_at({60.0, 0.0, 2000.0}, 0.0), detection_at({20.0, 0.0, 2000.0}, 0.0)}, {{face_at(0.0, 2000.0)}});
    ASSERT_EQ(two_for_one.size(), 1U);
    EXPECT_EQ(two_for_one[0].detection, 1U);
    EXPECT_NEAR(two_for_one[0].centre_distance_mm, 20.0, 1e-9);

    // Nearest first, each at most once: detection 0 takes pallet 0 (10 mm), so detection 1 (40 mm
    // from pallet 0 alone) and pallet 1 (90 mm from detection 0 alone) stay unmatched.
    const std::vector<std::vector<sim::FaceTruth>> pallets = {{face_at(0.0, 2000.0)}, {face_at(100.0, 2000.0)}};
    const std::vector<FaceMatch> crossing =
        match_detections({detection_at({10.0, 0.0, 2000.0}, 0.0), detection_at({-40.0, 0.0, 2000.0}, 0.0)}, pallets);
    ASSERT_EQ(crossing.size(), 1U);
    EXPECT_EQ(crossing[0].detection, 0U);
    EXPECT_EQ(crossing[0].pallet, 0U);

    // Each pallet to its own detection, whatever the order of the detections.
    const std::vector<FaceMatch> both =
        match_detections({detection_at({93.0, 0.0, 2000.0}, 0.0), detection_at({5.0, 0.0, 2000.0}, 0.0)}, pallets);
    ASSERT_EQ(both.size(), 2U);
    EXPECT_EQ(both[0].detection, 1U);
    EXPECT_EQ(both[0].pallet, 0U);
    EXPECT_EQ(both[1].detection, 0U);
    EXPECT_EQ(both[1].pallet, 1U);

    // A pallet is found through its second seen face as well; never twice.
    sim::FaceTruth side = face_at(700.0, 2400.0, "block_1200x800_short", 90.0);
    const std::vector<FaceMatch> by_side = match_detections(
        {detection_at({700.0, 0.0, 2400.0}, 88.0), detection_at({0.0, 0.0, 2000.0}, 0.0)}, {{face_at(0.0, 2000.0), side}});
    ASSERT_EQ(by_side.size(), 1U);
    EXPECT_EQ(by_side[0].detection, 0U);
    EXPECT_EQ(by_side[0].face, 1U);
}

TEST(FaceView, WholeCutOffOrOut)
{
    const Eigen::Vector3d up(0.0, -1.0, 0.0);
    EXPECT_EQ(face_view(face_at(0.0, 2000.0), up), FaceView::in_view);
    EXPECT_EQ(face_view(face_at(1500.0, 2000.0), up), FaceView::cut_off);  // its right end beyond the edge
    EXPECT_EQ(face_view(face_at(3000.0, 2000.0), up), FaceView::out_of_view);
    EXPECT_EQ(face_view(face_at(0.0, -2000.0), up), FaceView::out_of_view);  // behind the camera
}

TEST(DetectBins, RecallFalsePalletsTypesAndErrorsCounted)
{
    // Frame 1: a pallet found with its type (centre 10, 4, 2 mm off), one found with the wrong
    // type (30, 0, 6 mm), one missed, one cut off and found, a pallet behind (not counted) found,
    // and a false pallet.
    const sim::Truth truth = level_truth({face_at(0.0, 2000.0), face_at(-2000.0, 4000.0), face_at(2000.0, 4000.0),
                                          face_at(1500.0, 2000.0), face_at(0.0, 3500.0)});
    Detection detection;
    detection.pallets = {detection_at({10.0, 4.0, 2002.0}, 1.0), detection_at({-1970.0, 0.0, 4006.0}, -3.0, "other"),
                         detection_at({1500.0, 0.0, 2000.0}, 0.0), detection_at({0.0, 0.0, 3500.0}, 0.0),
                         detection_at({-600.0, 0.0, 1000.0}, 0.0)};
    detection.pallets[0].pockets.push_back({});
    detection.pallets[0].pockets[0].centre_camera = {-290.0, 22.0, 2000.0};  // 10 mm from the left opening
    detection.pallets[1].face_height_mm = 150.0;
    const std::vector<DetectPair> pairs = pair_frame(truth, {true, true, true, true, false}, detection);
    ASSERT_EQ(pairs.size(), 6U);
    EXPECT_EQ(pairs[2].detection, -1);
    EXPECT_EQ(pairs[3].view, FaceView::cut_off);
    EXPECT_FALSE(pairs[4].counted);
    EXPECT_EQ(pairs[5].pallet, -1);
    EXPECT_EQ(pairs[5].detection, 4);

    // Frame 2: no pallet, two false pallets (one an unknown type). Frame 3: no pallet, nothing.
    Detection two_false;
    two_false.pallets = {detection_at({0.0, 0.0, 1500.0}, 0.0), detection_at({500.0, 0.0, 1500.0}, 0.0)};
    two_false.pallets[1].verdict = DockVerdict::unknown_type;
    std::vector<DetectFrame> frames(3);
    frames[0].pairs = pairs;
    frames[1].pairs = pair_frame(level_truth({}), {}, two_false);
    frames[2].pairs = pair_frame(level_truth({}), {}, Detection{});

    const DetectBin b = summarise_frames("all", frames);
    EXPECT_EQ(b.frames, 3U);
    EXPECT_EQ(b.pallet_free_frames, 2U);
    EXPECT_EQ(b.faces_in_view, 3U);
    EXPECT_EQ(b.found_in_view, 2U);
    EXPECT_EQ(b.faces_cut_off, 1U);
    EXPECT_EQ(b.found_cut_off, 1U);
    EXPECT_EQ(b.found, 3U);
    EXPECT_EQ(b.type_right, 2U);
    EXPECT_EQ(b.false_pallets, 3U);
    EXPECT_EQ(b.false_in_pallet_free, 2U);
    EXPECT_DOUBLE_EQ(b.centre_p50[0], 10.0);  // |x| errors 10, 30, 0
    EXPECT_DOUBLE_EQ(b.centre_p95[0], 28.0);  // interpolated: 10 + 0.9 * 20
    EXPECT_DOUBLE_EQ(b.centre_p50[2], 2.0);
    EXPECT_DOUBLE_EQ(b.yaw_p50, 1.0);
    EXPECT_DOUBLE_EQ(b.opening_p50, 10.0);
    EXPECT_DOUBLE_EQ(b.height_p95, 5.4);      // |height errors| 0, 6, 0

    const auto confusion = type_confusion(frames);
    EXPECT_EQ(confusion.at("block_1200x800_long").at("block_1200x800_long"), 2U);
    EXPECT_EQ(confusion.at("block_1200x800_long").at("other"), 1U);
    EXPECT_EQ(confusion.at("block_1200x800_long").at("missed"), 1U);
    EXPECT_EQ(pair_frame(level_truth({}), {}, two_false)[1].reported_type, "unknown_type");
}

TEST(DetectBins, KeysAndTheirOrder)
{
    EXPECT_EQ(distance_bin(999.9), "0.6-1 m");
    EXPECT_EQ(distance_bin(1000.0), "1-2 m");
    EXPECT_EQ(distance_bin(3999.0), "3-4 m");
    EXPECT_EQ(distance_bin(NAN), "");
    EXPECT_EQ(yaw_bin(-14.9), "0-15");
    EXPECT_EQ(yaw_bin(-30.0), "30-45");
    EXPECT_EQ(height_bin(99.0), "60-100 mm");
    EXPECT_EQ(height_bin(300.0), "300-400 mm");

    std::vector<DetectFrame> frames(4);
    frames[0].mount.height_mm = 350.0;
    frames[1].mount.height_mm = 80.0;
    frames[2].mount.height_mm = 150.0;
    frames[3].mount.height_mm = 90.0;
    const std::vector<DetectBin> bins =
        bins_of_frames(frames, [](const DetectFrame& f) { return height_bin(f.mount.height_mm); });
    ASSERT_EQ(bins.size(), 3U);
    EXPECT_EQ(bins[0].key, "60-100 mm");  // by the leading number, not as text
    EXPECT_EQ(bins[0].frames, 2U);
    EXPECT_EQ(bins[1].key, "100-200 mm");
    EXPECT_EQ(bins[2].key, "300-400 mm");
}
