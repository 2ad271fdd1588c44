#include "analysis/frame_analysis.hpp"

#include <cmath>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/result_report.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

std::string report_of(const FrameAnalysis& analysis)
{
    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    return out.str();
}

// A wide, flat hexagon: its bounding rectangle spans columns x .. x + width.
Contour hexagon(int x, int y, int width, int height)
{
    return {{x, y + height / 2}, {x + 10, y}, {x + width - 10, y}, {x + width, y + height / 2},
            {x + width - 10, y + height}, {x + 10, y + height}};
}

cv::Mat full_mask()
{
    return cv::Mat(480, 640, CV_8UC1, cv::Scalar(255));
}

// The second half of the literal recipe, from the candidate contours on.
FrameAnalysis analyse_candidates(const std::vector<Contour>& candidate_contours,
                                 const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    const FaceSelection face = select_face(candidate_contours);
    if (face.outcome != PalletOutcome::pallet_found) return analysis_of_face(depth, face, {});
    const cv::Mat face_mask = fill_face_mask(face.selection, depth.size());
    return analysis_of_face(depth, face, gather_face_points(face_mask, combined_band_mask, depth));
}

}  // namespace

TEST(AnalyseCandidates, OutcomeOrderAndWidthLimit)
{
    cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(1500));
    depth.at<std::uint16_t>(320, 440) = 777;  // the probe: row 320, column 440

    const FrameAnalysis none = analyse_candidates({}, full_mask(), depth);
    EXPECT_EQ(none.outcome, PalletOutcome::no_contour);
    EXPECT_EQ(none.probe_depth, 777);

    // Bounding width = contour span + 1: a span of 199 is 200 pixels wide.
    const FrameAnalysis narrow = analyse_candidates({hexagon(100, 0, 199, 479)}, full_mask(), depth);
    EXPECT_EQ(narrow.outcome, PalletOutcome::no_pallet);
    EXPECT_EQ(narrow.pose.bounding_rect, cv::Rect(100, 0, 200, 480));
    EXPECT_TRUE(narrow.pose.boxes.empty());

    const FrameAnalysis flat = analyse_candidates({hexagon(100, 200, 200, 4)}, full_mask(), depth);
    EXPECT_EQ(flat.outcome, PalletOutcome::pallet_found);
    EXPECT_EQ(flat.pose.bounding_rect, cv::Rect(100, 200, 201, 5));

    // Only the largest candidate's width counts, however wide a smaller one is.
    const FrameAnalysis largest_narrow = analyse_candidates(
        {hexagon(0, 0, 600, 4), hexagon(300, 100, 150, 300)}, full_mask(), depth);
    EXPECT_EQ(largest_narrow.outcome, PalletOutcome::no_pallet);
}

TEST(AnalyseCandidates, PoseOfAFlatFaceWithAHole)
{
    const cv::Mat depth(480, 640, CV_16UC1, cv::Scalar(2000));  // a face square to the camera
    const Contour face = hexagon(150, 150, 300, 100);
    const Contour hole = {{250, 180}, {300, 180}, {300, 220}, {250, 220}};
    const Contour outside = {{10, 10}, {20, 10}, {20, 20}};
    const FrameAnalysis analysis = analyse_candidates({outside, hole, face}, full_mask(), depth);
    ASSERT_EQ(analysis.outcome, PalletOutcome::pallet_found);

    const PalletPose& pose = analysis.pose;
    EXPECT_EQ(pose.bounding_rect, cv::Rect(150, 150, 301, 101));
    ASSERT_EQ(pose.boxes.size(), 2U);  // the face, then the hole; never the outside contour
    EXPECT_NEAR(pose.boxes[1][0].x + pose.boxes[1][2].x, 550.0, 1e-3);
    cv::Mat face_mask = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::fillPoly(face_mask, std::vector<Contour>{face}, cv::Scalar(255));
    EXPECT_EQ(pose.face_point_count,
              static_cast<std::size_t>(cv::countNonZero(face_mask)) - 51 * 41);
    EXPECT_EQ(pose.centre_point, depth_to_point(200, 300, 2000));

    // z = 2000 everywhere: the normal is (0, 0, -1) and R turns it onto +Z. Which half-turn
    // does it depends on the rounding left in the fitted slopes, so only its last row is fixed.
    EXPECT_LT((pose.rotation.row(2) - Eigen::RowVector3d(0, 0, -1)).norm(), 1e-9);
    EXPECT_TRUE((pose.rotation * pose.rotation.transpose()).isIdentity(1e-9));
    EXPECT_GE(pose.euler_rad(0), 0.0);
    EXPECT_LE(pose.euler_rad(0), std::acos(-1.0));
    EXPECT_EQ(pose.euler_deg(0), pose.euler_rad(0) * 180.0 / std::acos(-1.0));
}

TEST(AnalyseCandidates, NoFacePointsGivesMinusIdentityReport)
{
    // A face with no pixel in the band mask: the plane fit of no points, R = -I, nothing fails.
    cv::Mat depth = cv::Mat::zeros(480, 640, CV_16UC1);
    const cv::Mat no_band = cv::Mat::zeros(480, 640, CV_8UC1);
    const FrameAnalysis analysis =
        analyse_candidates({hexagon(100, 100, 300, 100)}, no_band, depth);
    ASSERT_EQ(analysis.outcome, PalletOutcome::pallet_found);
    EXPECT_EQ(analysis.pose.face_point_count, 0U);

    std::ostringstream out;
    write_report(out, analysis, TextEncoding::utf8);
    // The bytes this build prints, signed zeros included: -0 where a negative zero reaches the
    // stream (R's off-diagonal and the pitch), as the default double output writes it.
    EXPECT_EQ(out.str(),
              "TT:\n"
              "[0;\n 0;\n 0]\n"
              "TR: \n"
              "[-1, 0, 0;\n -0, -1, 0;\n 0, -0, -1]\n"
              "绕 Z 轴的旋转角度（yaw）:180\n"
              "绕 Y 轴的旋转角度（pitch）：-0\n"
              "绕 X 轴的旋转角度（roll）:180\n"
              "Euler angles (radians): 3.14159      -0       0\n"
              "Euler angles (degrees): 180  -0   0\n");
}

TEST(AnalyseDepth, RefusesAnotherSizeOrType)
{
    AnalysisWorkspace workspace;
    for (const cv::Mat& wrong : {cv::Mat(cv::Mat::zeros(240, 320, CV_16UC1)),
                                 cv::Mat(cv::Mat::zeros(480, 640, CV_8UC1)), cv::Mat()}) {
        EXPECT_THROW(analyse_depth(wrong, workspace), cv::Exception);
        EXPECT_THROW(analyse_depth_literal(wrong), cv::Exception);
    }
}

TEST(AnalyseDepth, NoMeasurementIsNoContour)
{
    AnalysisWorkspace workspace;
    const FrameAnalysis analysis = analyse_depth(cv::Mat::zeros(480, 640, CV_16UC1), workspace);
    EXPECT_EQ(analysis.outcome, PalletOutcome::no_contour);
    EXPECT_EQ(analysis.probe_depth, 0);
}

TEST(AnalyseDepthLiteral, KeptWorkspaceGivesWhatAFreshOneGives)
{
    // One workspace over frames of every outcome, each leaving masks, a face and points behind
    // for the next; a frame without a face after one with a face; the first frame again.
    sim::Scene narrow = sim::floor_scene();
    sim::Box box;
    box.centre = {0.0, 1400.0, 100.0};
    box.size = {300.0, 300.0, 200.0};
    narrow.boxes.push_back(box);
    sim::Scene noisy = sim::pallet_scene(1300.0, 120.0, 12.0);
    noisy.sensor.dropout_rate = 0.02;
    const cv::Mat frames[] = {sim::render(sim::pallet_scene(1250.0), 1).depth,
                              sim::render(sim::floor_scene(), 2).depth,
                              sim::render(noisy, 3).depth,
                              sim::render(narrow, 4).depth,
                              sim::render(sim::pallet_scene(1800.0, -200.0, -10.0), 5).depth,
                              cv::Mat(cv::Mat::zeros(480, 640, CV_16UC1)),
                              sim::render(sim::pallet_scene(1250.0), 1).depth};
    LiteralWorkspace workspace;
    int found = 0;
    for (std::size_t k = 0; k < std::size(frames); ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        const FrameAnalysis fresh = analyse_depth_literal(frames[k]);
        const FrameAnalysis kept = analyse_depth_literal(frames[k], workspace);
        EXPECT_EQ(kept.outcome, fresh.outcome);
        EXPECT_EQ(kept.pose.face_contour, fresh.pose.face_contour);
        EXPECT_EQ(kept.pose.boxes, fresh.pose.boxes);
        EXPECT_EQ(kept.pose.face_point_count, fresh.pose.face_point_count);
        EXPECT_EQ(report_of(kept), report_of(fresh));
        found += fresh.outcome == PalletOutcome::pallet_found;
    }
    EXPECT_GE(found, 3);
}
