#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tools/scan_json.hpp"

using nlohmann::json;

namespace {

// A pallet-found value built by hand, every pose field set.
FrameAnalysis found_by_hand()
{
    FrameAnalysis analysis;
    analysis.probe_depth = 65535;
    analysis.outcome = PalletOutcome::pallet_found;
    PalletPose& pose = analysis.pose;
    pose.bounding_rect = cv::Rect(101, 150, 420, 95);
    pose.boxes = {BoxCorners{cv::Point2f(10.6f, 20.4f), cv::Point2f(300.5f, 20.25f),
                             cv::Point2f(300.5f, 90.125f), cv::Point2f(10.6f, 90.1f)},
                  BoxCorners{cv::Point2f(1, 2), cv::Point2f(3, 4), cv::Point2f(5, 6),
                             cv::Point2f(7, 8)}};
    pose.face_point_count = 31415;
    pose.centre_point = cv::Point3d(-12.5, 0.1 + 0.2, 1500.0000000000002);
    pose.rotation << 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 1.0 / 3.0;  // rows: R is not symmetric
    pose.angles = {12.3456789, -0.000123456789, 179.99999999999997};
    pose.euler_rad = Eigen::Vector3d(std::acos(-1.0), 1e-300, -2.5e-7);
    pose.euler_deg = pose.euler_rad * 180.0 / std::acos(-1.0);
    return analysis;
}

json parsed_line(const nlohmann::ordered_json& record)
{
    const std::string line = record_line(record);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per record";
    return json::parse(line);
}

// A detection that found `pose` (a pallet or an unknown type), or rejected it.
Detection holding(const DockPose& pose)
{
    Detection detection;
    detection.floor = pose.floor;
    if (pose.verdict == DockVerdict::no_pallet) {
        detection.rejected = {pose};
        detection.reason = pose.reason;
    } else {
        detection.pallets = {pose};
        detection.reason = DockReason::none;
    }
    return detection;
}

}  // namespace

TEST(ScanJson, OutcomesWithoutPoseWriteNulls)
{
    FrameAnalysis analysis = found_by_hand();  // pose values left over must not leak out
    analysis.outcome = PalletOutcome::no_pallet;
    const json no_pallet = parsed_line(frame_record("a.png", 2, analysis, 1.0, Detection{}, 0.5));
    EXPECT_EQ(no_pallet["outcome"], "no_pallet");
    EXPECT_EQ(no_pallet["bounding_rect"]["width"], 420);
    for (const char* key : {"boxes", "face_point_count", "centre_point", "rotation", "yaw_deg",
                            "pitch_deg", "roll_deg", "euler_rad", "euler_deg"}) {
        ASSERT_TRUE(no_pallet.contains(key)) << key;
        EXPECT_TRUE(no_pallet[key].is_null()) << key;
    }

    analysis.outcome = PalletOutcome::no_contour;
    const json no_contour = parsed_line(frame_record("a.png", 3, analysis, 1.0, Detection{}, 0.5));
    EXPECT_EQ(no_contour["outcome"], "no_contour");
    EXPECT_TRUE(no_contour["bounding_rect"].is_null());
    EXPECT_TRUE(no_contour["rotation"].is_null());
    EXPECT_EQ(no_contour["probe_depth"], 65535);
}

TEST(ScanJson, NonFiniteNumbersAndOddNamesStayValidJson)
{
    FrameAnalysis analysis = found_by_hand();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    analysis.pose.centre_point = cv::Point3d(nan, -inf, 5.0);
    analysis.pose.rotation(1, 2) = nan;
    analysis.pose.angles.yaw_deg = inf;
    analysis.pose.euler_deg(0) = nan;
    analysis.pose.boxes[0][2].x = std::numeric_limits<float>::quiet_NaN();

    // A file name that is not UTF-8 (Latin-1 e-acute) must not make the record throw.
    const json record = parsed_line(frame_record("caf\xE9\".png", 4, analysis, nan, Detection{}, nan));
    EXPECT_TRUE(record["centre_point"][0].is_null());
    EXPECT_TRUE(record["centre_point"][1].is_null());
    EXPECT_EQ(record["centre_point"][2], 5.0);
    EXPECT_TRUE(record["rotation"][1][2].is_null());
    EXPECT_EQ(record["rotation"][1][1], 0.5);
    EXPECT_TRUE(record["yaw_deg"].is_null());
    EXPECT_TRUE(record["euler_deg"][0].is_null());
    EXPECT_TRUE(record["boxes"][0][2][0].is_null());
    EXPECT_TRUE(record["analysis_ms"].is_null());
    EXPECT_EQ(record["source"], "caf\xEF\xBF\xBD\".png");
}

TEST(ScanJson, DockObjectHoldsEveryKeyNullWhereNotMeasured)
{
    DockPose dock;
    dock.floor.found = true;
    dock.floor.normal = {0.0, -0.99, 0.1};
    dock.floor.camera_height_mm = 201.5;
    dock.floor.camera_tilt_deg = 5.9;
    dock.floor.camera_roll_deg = -0.25;
    dock.floor.residual_mm = 0.75;
    dock.floor.inliers = 1234;
    dock.face_found = true;
    dock.face_points = 5000;
    dock.face_inliers = 4000;
    dock.face_residual_mm = 1.5;
    dock.face_tilt_deg = 0.125;
    dock.yaw_deg = -12.5;
    dock.face_distance_mm = 1499.5;
    dock.face_normal_camera = {0.2, -0.1, -0.97};
    dock.left_edge_camera = {-600.0, 280.0, 1480.0};
    dock.left_edge_floor = {-600.0, 1500.0, 72.0};  // the right edge stays unmeasured (NaN)
    dock.face_height_mm = 144.0;
    dock.centre_camera = {1.0, 2.0, 3.0};
    dock.centre_floor = {4.0, 5.0, 6.0};
    DockPocket pocket;
    pocket.offset_mm = -263.5;
    pocket.width_mm = 380.0;
    pocket.centre_camera = {7.0, 8.0, 9.0};
    pocket.centre_floor = {10.0, 11.0, std::numeric_limits<double>::quiet_NaN()};
    dock.pockets = {pocket};
    dock.verdict = DockVerdict::no_pallet;
    dock.reason = DockReason::face_cut_off;

    const nlohmann::ordered_json written = frame_record("a.png", 1, found_by_hand(), 1.0, holding(dock), 0.25);
    const json record = parsed_line(written);
    ASSERT_TRUE(record.contains("dock"));
    const json& d = record["dock"];
    // In the order written, after every earlier key of the record, the pallets last.
    const auto line = nlohmann::ordered_json::parse(record_line(written));
    EXPECT_EQ(line.back(), line["pallets"]);
    EXPECT_TRUE(line["pallets"].empty()) << "a face with the verdict no_pallet is no pallet";
    std::vector<std::string> keys;
    for (auto it = line["dock"].begin(); it != line["dock"].end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"verdict", "type", "reason", "confidence", "floor", "face", "left_edge",
                                              "right_edge", "width_mm", "height_mm", "centre", "pockets",
                                              "measure_ms"}));
    EXPECT_EQ(d["verdict"], "no_pallet");
    EXPECT_EQ(d["reason"], "face_cut_off");
    EXPECT_EQ(d["confidence"], 0.0);
    EXPECT_EQ(d["floor"]["found"], true);
    EXPECT_EQ(d["floor"]["normal"][1], -0.99);
    EXPECT_EQ(d["floor"]["camera_height_mm"], 201.5);
    EXPECT_EQ(d["floor"]["camera_roll_deg"], -0.25);
    EXPECT_EQ(d["floor"]["inliers"], 1234);
    EXPECT_EQ(d["face"]["yaw_deg"], -12.5);
    EXPECT_EQ(d["face"]["distance_mm"], 1499.5);
    EXPECT_EQ(d["face"]["normal"][0], 0.2);
    EXPECT_EQ(d["left_edge"]["floor"][0], -600.0);
    EXPECT_EQ(d["left_edge"]["camera"][1], 280.0);
    EXPECT_TRUE(d["right_edge"].is_null());
    EXPECT_TRUE(d["width_mm"].is_null());
    EXPECT_EQ(d["centre"]["camera"], json::array({1.0, 2.0, 3.0}));
    EXPECT_EQ(d["centre"]["floor"], json::array({4.0, 5.0, 6.0}));
    ASSERT_EQ(d["pockets"].size(), 1U);
    EXPECT_EQ(d["pockets"][0]["offset_mm"], -263.5);
    EXPECT_EQ(d["pockets"][0]["width_mm"], 380.0);
    EXPECT_TRUE(d["pockets"][0]["centre"].is_null());  // one coordinate not measured: no point
    EXPECT_EQ(d["measure_ms"], 0.25);
    EXPECT_EQ(record["analysis_ms"], 1.0);  // the keys before it stay as they were

    // Nothing measured: the same keys, the measured values null, a pallet verdict's reason null.
    DockPose nothing;
    const json bare = parsed_line(frame_record("b.png", 2, found_by_hand(), 1.0, holding(nothing), 0.5))["dock"];
    EXPECT_EQ(bare.size(), keys.size());
    EXPECT_EQ(bare["reason"], "no_floor");
    EXPECT_EQ(bare["floor"]["found"], false);
    EXPECT_TRUE(bare["floor"]["normal"].is_null());
    EXPECT_TRUE(bare["floor"]["camera_height_mm"].is_null());
    EXPECT_EQ(bare["face"]["found"], false);
    EXPECT_TRUE(bare["face"]["yaw_deg"].is_null());
    EXPECT_TRUE(bare["centre"].is_null());
    EXPECT_TRUE(bare["pockets"].is_null());
    DockPose pallet = dock;
    pallet.verdict = DockVerdict::pallet;
    pallet.reason = DockReason::none;
    pallet.type = "block_1200x800_long";
    const json with_pallet = parsed_line(frame_record("c.png", 3, found_by_hand(), 1.0, holding(pallet), 0.5));
    const json& found = with_pallet["dock"];
    EXPECT_EQ(found["verdict"], "pallet");
    EXPECT_EQ(found["type"], "block_1200x800_long");
    EXPECT_TRUE(found["reason"].is_null());
    // The pallets array holds the same object, the rejected faces only with the explain setting.
    ASSERT_EQ(with_pallet["pallets"].size(), 1U);
    EXPECT_EQ(with_pallet["pallets"][0], found);
    EXPECT_FALSE(with_pallet.contains("rejected"));
    Detection explained = holding(dock);
    explained.explained = true;
    const json told = parsed_line(frame_record("d.png", 4, found_by_hand(), 1.0, explained, 0.5));
    ASSERT_EQ(told["rejected"].size(), 1U);
    EXPECT_EQ(told["rejected"][0]["reason"], "face_cut_off");
    EXPECT_TRUE(told["pallets"].empty());
}
