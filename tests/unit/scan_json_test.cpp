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

}  // namespace

TEST(ScanJson, OutcomesWithoutPoseWriteNulls)
{
    FrameAnalysis analysis = found_by_hand();  // pose values left over must not leak out
    analysis.outcome = PalletOutcome::no_pallet;
    const json no_pallet = parsed_line(frame_record("a.png", 2, analysis, 1.0, DockPose{}, 0.5));
    EXPECT_EQ(no_pallet["outcome"], "no_pallet");
    EXPECT_EQ(no_pallet["bounding_rect"]["width"], 420);
    for (const char* key : {"boxes", "face_point_count", "centre_point", "rotation", "yaw_deg",
                            "pitch_deg", "roll_deg", "euler_rad", "euler_deg"}) {
        ASSERT_TRUE(no_pallet.contains(key)) << key;
        EXPECT_TRUE(no_pallet[key].is_null()) << key;
    }

    analysis.outcome = PalletOutcome::no_contour;
    const json no_contour = parsed_line(frame_record("a.png", 3, analysis, 1.0, DockPose{}, 0.5));
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
    const json record = parsed_line(frame_record("caf\xE9\".png", 4, analysis, nan, DockPose{}, nan));
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
