// The step pallet_scan applies to each record before it is written: the vehicle frame's keys and
// the tracks, over records handed in input order.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/vehicle_frame.hpp"
#include "tools/scan_json.hpp"
#include "tools/scan_track.hpp"

using json = nlohmann::ordered_json;

namespace {

// A pallet verdict whose face centre stands at floor point (x, y, 72), its ends 600 mm to either
// side and two pockets; the camera points are the floor points moved, which the step never reads.
DockPose pallet_at(double x, double y, double yaw_deg = 0.0)
{
    DockPose pose;
    pose.floor.found = true;
    pose.verdict = DockVerdict::pallet;
    pose.reason = DockReason::none;
    pose.type = "block_1200x800";
    pose.face_found = true;
    pose.yaw_deg = yaw_deg;
    pose.centre_floor = {x, y, 72.0};
    pose.centre_camera = {x, 200.0 - 72.0, y};
    pose.left_edge_floor = {x - 600.0, y, 72.0};
    pose.left_edge_camera = {x - 600.0, 128.0, y};
    for (const double offset : {-262.5, 262.5}) {
        DockPocket pocket;
        pocket.offset_mm = offset;
        pocket.centre_floor = {x + offset, y, 50.0};
        pocket.centre_camera = {x + offset, 150.0, y};
        pose.pockets.push_back(pocket);
    }
    return pose;
}

Detection detection_of(const std::vector<DockPose>& pallets)
{
    Detection detection;
    detection.floor = pallets.empty() ? DockFloor{} : pallets.front().floor;
    detection.pallets = pallets;
    detection.reason = pallets.empty() ? DockReason::no_face : DockReason::none;
    return detection;
}

// The record of the frame after the step.
json stepped(RecordStep& step, const Detection& detection, std::uint64_t index,
             std::optional<double> time_s = std::nullopt)
{
    json record = frame_record("f.png", index, FrameAnalysis{}, 1.0, detection, 0.5);
    apply_record_step(step, detection, index, time_s, record);
    return record;
}

Eigen::Vector3d point_of(const json& p)
{
    return {p[0].get<double>(), p[1].get<double>(), p[2].get<double>()};
}

}  // namespace

TEST(ScanTrack, WithoutMountOrTrackTheRecordStaysByteForByte)
{
    RecordStep step;
    const Detection detection = detection_of({pallet_at(100.0, 1500.0)});
    const std::string before = record_line(frame_record("f.png", 1, FrameAnalysis{}, 1.0, detection, 0.5));
    EXPECT_EQ(record_line(stepped(step, detection, 1)), before);
    EXPECT_EQ(step.tracker.tracks.size(), 0u);
}

TEST(ScanTrack, VehicleKeysBesideCameraAndFloor)
{
    RecordStep step;
    step.mount = CameraMount{-300.0, 50.0, 200.0, 0.0, -6.0, 10.0};
    const DockPose pose = pallet_at(100.0, 1500.0, 2.0);
    const json record = stepped(step, detection_of({pose}), 1);
    const json& pallet = record["pallets"][0];

    // "vehicle" comes after the point's other frames; unmeasured points stay null.
    std::vector<std::string> keys;
    for (const auto& item : pallet["centre"].items()) keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"camera", "floor", "vehicle"}));
    EXPECT_TRUE(point_of(pallet["centre"]["vehicle"]).isApprox(floor_to_vehicle(*step.mount, pose.centre_floor), 1e-12));
    EXPECT_TRUE(point_of(pallet["left_edge"]["vehicle"]).isApprox(floor_to_vehicle(*step.mount, pose.left_edge_floor)));
    EXPECT_TRUE(pallet["right_edge"].is_null());
    EXPECT_TRUE(point_of(pallet["pockets"][1]["centre"]["vehicle"])
                    .isApprox(floor_to_vehicle(*step.mount, pose.pockets[1].centre_floor)));
    // The mount turned 10 degrees left: the face's yaw 2 in the camera's heading is 12 here, and
    // a centre 1.5 m along that heading lies to the vehicle's left of its x axis.
    EXPECT_DOUBLE_EQ(pallet["vehicle_yaw_deg"].get<double>(), 12.0);
    const double pi = std::acos(-1.0);
    EXPECT_NEAR(pallet["centre"]["vehicle"][1].get<double>(),
                50.0 + 1500.0 * std::sin(10.0 * pi / 180.0) - 100.0 * std::cos(10.0 * pi / 180.0), 1e-9);
    EXPECT_EQ(record["dock"]["centre"]["vehicle"], pallet["centre"]["vehicle"]);
    EXPECT_FALSE(record.contains("tracks_held"));  // no tracks without --track
    EXPECT_FALSE(pallet.contains("track_id"));

    // A frame without a pallet: the dock's points are null and its yaw too.
    const json empty = stepped(step, detection_of({}), 2);
    EXPECT_TRUE(empty["dock"]["centre"].is_null());
    EXPECT_TRUE(empty["dock"]["vehicle_yaw_deg"].is_null());
}

TEST(ScanTrack, IdsKeptOverAReplayAndAMissedFrameHeld)
{
    RecordStep step;
    step.track = true;
    for (std::uint64_t k = 1; k <= 12; ++k) {
        const double forward = 3000.0 - 10.0 * static_cast<double>(k);
        const bool missed = k == 6;
        const json record = stepped(step, detection_of(missed ? std::vector<DockPose>{}
                                                               : std::vector<DockPose>{pallet_at(0.0, forward)}), k);
        if (missed) {
            ASSERT_EQ(record["tracks_held"].size(), 1u);
            const json& held = record["tracks_held"][0];
            EXPECT_EQ(held["track_id"], 1);
            EXPECT_EQ(held["frames_since_seen"], 1);
            // Predicted on at the pallet's speed, 10 mm a frame.
            EXPECT_NEAR(held["smoothed"]["centre"]["floor"][1].get<double>(), forward, 3.0);
            continue;
        }
        const json& pallet = record["pallets"][0];
        EXPECT_EQ(pallet["track_id"], 1) << k;
        EXPECT_EQ(pallet["frames_seen"], k < 6 ? k : k - 1) << k;
        EXPECT_EQ(record["tracks_held"], json::array()) << k;
        EXPECT_TRUE(pallet["smoothed"]["centre_sd_mm"]["floor"].is_array());
        EXPECT_LE(pallet["smoothed"]["yaw_sd_deg"].get<double>(), 1.0 + 1e-12);
    }
}

TEST(ScanTrack, TwoPalletsCrossingKeepTheirIds)
{
    // Side by side at 2 m, crossing at 1.5 m/s each through one point (turned 3 degrees apart,
    // which tells them apart there), listed nearest first as the detector lists them (so their
    // order in the record changes): the ids go with the pallets, not the order.
    RecordStep step;
    step.track = true;
    step.mount = CameraMount{-300.0, 0.0, 200.0, 0.0, -6.0, 0.0};
    for (std::uint64_t k = 1; k <= 21; ++k) {
        const double lateral = -500.0 + 50.0 * static_cast<double>(k - 1);  // floor X, right
        const DockPose a = pallet_at(lateral, 2000.0 + 0.02 * lateral, 1.5);
        const DockPose b = pallet_at(-lateral, 2000.0 - 0.02 * lateral, -1.5);
        const bool a_nearer = a.centre_floor.y() < b.centre_floor.y();
        const json record = stepped(step, detection_of(a_nearer ? std::vector<DockPose>{a, b}
                                                                : std::vector<DockPose>{b, a}), k);
        const json& pa = record["pallets"][a_nearer ? 0 : 1];
        const json& pb = record["pallets"][a_nearer ? 1 : 0];
        EXPECT_EQ(pa["track_id"], 1) << k;
        EXPECT_EQ(pb["track_id"], 2) << k;
        // The vehicle's y is the floor's -X: pallet a moves from the vehicle's left to its right.
        EXPECT_NEAR(pa["smoothed"]["centre"]["vehicle"][1].get<double>(), -lateral, 40.0) << k;
    }
}

TEST(ScanTrack, TimeFromTimestampsElseTheNominalRate)
{
    // Frames 0.1 s apart with the pallet 10 mm nearer in each (100 mm/s); the next frame, 0.5 s
    // later, misses it: the held track has moved on 50 mm. At the nominal 30 frames a second the
    // same records would make it 300 mm/s, 10 mm a frame.
    for (const bool stamped : {true, false}) {
        RecordStep step;
        step.track = true;
        for (std::uint64_t k = 1; k <= 15; ++k) {
            const std::optional<double> t = stamped ? std::optional<double>(0.1 * static_cast<double>(k)) : std::nullopt;
            stepped(step, detection_of({pallet_at(0.0, 3000.0 - 10.0 * static_cast<double>(k))}), k, t);
        }
        const std::optional<double> t = stamped ? std::optional<double>(1.5 + 0.5) : std::nullopt;
        const json record = stepped(step, detection_of({}), 16, t);
        ASSERT_EQ(record["tracks_held"].size(), 1u);
        const double predicted = record["tracks_held"][0]["smoothed"]["centre"]["floor"][1].get<double>();
        EXPECT_NEAR(predicted, 2850.0 - (stamped ? 50.0 : 10.0), 5.0) << stamped;
    }
}
