#include <cmath>
#include <limits>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tools/scan_json.hpp"

using nlohmann::json;

namespace {

// A pallet-found value with awkward doubles: none of them survives a 6- or 15-digit print.
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

TEST(ScanJson, PalletFoundRoundTripsEveryNumber)
{
    const FrameAnalysis analysis = found_by_hand();
    const json record = parsed_line(frame_record("dir/frame_0001.png", 1, analysis, 3.25));
    const PalletPose& pose = analysis.pose;

    EXPECT_EQ(record["source"], "dir/frame_0001.png");
    EXPECT_EQ(record["index"], 1);
    EXPECT_EQ(record["outcome"], "pallet_found");
    EXPECT_EQ(record["probe_depth"], 65535);
    EXPECT_EQ(record["bounding_rect"], json::parse(R"({"x":101,"y":150,"width":420,"height":95})"));
    EXPECT_EQ(record["face_point_count"], 31415);
    EXPECT_EQ(record["analysis_ms"].get<double>(), 3.25);
    EXPECT_EQ(record["centre_point"][1].get<double>(), pose.centre_point.y);
    EXPECT_EQ(record["centre_point"][2].get<double>(), pose.centre_point.z);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(record["rotation"][r][c].get<double>(), pose.rotation(r, c)) << r << c;
    EXPECT_EQ(record["yaw_deg"].get<double>(), pose.angles.yaw_deg);
    EXPECT_EQ(record["pitch_deg"].get<double>(), pose.angles.pitch_deg);
    EXPECT_EQ(record["roll_deg"].get<double>(), pose.angles.roll_deg);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(record["euler_rad"][i].get<double>(), pose.euler_rad(i));
        EXPECT_EQ(record["euler_deg"][i].get<double>(), pose.euler_deg(i));
    }
    ASSERT_EQ(record["boxes"].size(), 2u);
    for (std::size_t b = 0; b < 2; ++b)
        for (std::size_t k = 0; k < 4; ++k) {
            EXPECT_EQ(record["boxes"][b][k][0].get<float>(), pose.boxes[b][k].x);
            EXPECT_EQ(record["boxes"][b][k][1].get<float>(), pose.boxes[b][k].y);
        }
}

TEST(ScanJson, OutcomesWithoutPoseWriteNulls)
{
    FrameAnalysis analysis = found_by_hand();  // pose values left over must not leak out
    analysis.outcome = PalletOutcome::no_pallet;
    const json no_pallet = parsed_line(frame_record("a.png", 2, analysis, 1.0));
    EXPECT_EQ(no_pallet["outcome"], "no_pallet");
    EXPECT_EQ(no_pallet["bounding_rect"]["width"], 420);
    for (const char* key : {"boxes", "face_point_count", "centre_point", "rotation", "yaw_deg",
                            "pitch_deg", "roll_deg", "euler_rad", "euler_deg"}) {
        ASSERT_TRUE(no_pallet.contains(key)) << key;
        EXPECT_TRUE(no_pallet[key].is_null()) << key;
    }

    analysis.outcome = PalletOutcome::no_contour;
    const json no_contour = parsed_line(frame_record("a.png", 3, analysis, 1.0));
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
    const json record = parsed_line(frame_record("caf\xE9\".png", 4, analysis, nan));
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
