#include "tools/eval_compare.hpp"

#include <cmath>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "analysis/frame_analysis.hpp"
#include "analysis/pallet_pose.hpp"
#include "analysis/plane_fit.hpp"
#include "tools/eval_sweep.hpp"

namespace {

constexpr double rad = 3.14159265358979323846 / 180.0;

// The square-on pallet at 1.25 m with the renderer's working mount and default sensor.
SceneParams square_on_at_1250()
{
    SceneParams p;
    p.distance_mm = 1250.0;
    return p;
}

sim::Frame render_params(const SceneParams& p)
{
    return sim::render(make_scene(p), scene_seed(p, 1));
}

}  // namespace

TEST(WrapDeg, BringsDifferencesIntoHalfOpenCircle)
{
    EXPECT_DOUBLE_EQ(wrap_deg(180.0), 180.0);   // the upper edge is in
    EXPECT_DOUBLE_EQ(wrap_deg(-180.0), 180.0);  // the lower edge is not
    EXPECT_DOUBLE_EQ(wrap_deg(540.0), 180.0);
    EXPECT_DOUBLE_EQ(wrap_deg(-540.0), 180.0);
    EXPECT_DOUBLE_EQ(wrap_deg(190.0), -170.0);
    EXPECT_DOUBLE_EQ(wrap_deg(-190.0), 170.0);
    EXPECT_DOUBLE_EQ(wrap_deg(359.5), -0.5);
    EXPECT_DOUBLE_EQ(wrap_deg(-179.5), -179.5);
    EXPECT_DOUBLE_EQ(wrap_deg(720.25), 0.25);
    EXPECT_DOUBLE_EQ(wrap_deg(0.0), 0.0);
    // A reported yaw of 179 against a truth of -179 is 2 degrees off, not 358.
    EXPECT_NEAR(wrap_deg(179.0 - -179.0), -2.0, 1e-12);
    EXPECT_TRUE(std::isnan(wrap_deg(NAN)));
    EXPECT_TRUE(std::isnan(wrap_deg(INFINITY)));
}

TEST(AnglesForNormal, MatchesTheAnalysisRuleAndTheFaceGeometry)
{
    // Whatever plane the analysis fits, its R's last row fed back gives the very same lines.
    for (const Eigen::Vector3d& plane : {Eigen::Vector3d(0.1, -0.2, 5.0), Eigen::Vector3d(-0.7, 0.05, 0.0),
                                         Eigen::Vector3d(0.0, -1.0, 0.0), Eigen::Vector3d(2.0, 3.0, 1.0)}) {
        const Eigen::Matrix3d R = rotation_onto_z(plane);
        const RotationAngles lines = rotation_angles(R);
        const ReportedAngles again = angles_for_normal(R.row(2).transpose() * 3.0);  // length free
        EXPECT_NEAR(again.yaw_deg, lines.yaw_deg, 1e-9);
        EXPECT_NEAR(again.pitch_deg, lines.pitch_deg, 1e-9);
        EXPECT_NEAR(again.roll_deg, lines.roll_deg, 1e-9);
        EXPECT_TRUE(again.euler_deg.isApprox(euler_degrees(euler_zyx(R)), 1e-9));
    }

    // A vertical face turned by psi, seen by a camera tilted up by theta: the pitch line is
    // -psi, the roll line theta - 180, whatever the yaw line does.
    for (const double psi : {-20.0, -5.0, 0.0, 10.0}) {
        for (const double theta : {4.0, 6.0, 8.0}) {
            sim::Scene scene = sim::pallet_scene(1500.0, 0.0, psi);
            scene.mount.pitch_deg = theta;
            const ReportedAngles expected = angles_for_normal(sim::truth_of(scene).pallets[0].faces[0].normal);
            EXPECT_NEAR(expected.pitch_deg, -psi, 1e-9) << psi << " " << theta;
            EXPECT_NEAR(expected.roll_deg, theta - 180.0, 1e-9) << psi << " " << theta;
        }
    }

    // A normal pointing away from the camera is no face the analysis could have fitted.
    EXPECT_TRUE(std::isnan(angles_for_normal({0.0, 0.0, 1.0}).yaw_deg));
}

TEST(CompareWithTruth, SquareOnPalletAt1250IsFoundWithinCentimetres)
{
    const sim::Frame frame = render_params(square_on_at_1250());
    AnalysisWorkspace workspace;
    const SceneComparison c = compare_with_truth(analyse_depth(frame.depth, workspace), frame);
    ASSERT_EQ(c.outcome, PalletOutcome::pallet_found);
    EXPECT_GT(c.face_width_px, 200);
    EXPECT_GT(c.face_point_count, 1000U);
    EXPECT_TRUE(c.centre_on_face);
    for (int k = 0; k < 3; ++k) EXPECT_LT(std::abs(c.centre_error(k)), 40.0) << "axis " << k;
    EXPECT_NEAR(c.true_centre.z(), 1250.0, 30.0);  // the camera looks up: z-depth a bit less
}

TEST(CompareWithTruth, ErrorColumnsShowAKnownShiftOfTheTruth)
{
    const sim::Frame frame = render_params(square_on_at_1250());
    AnalysisWorkspace workspace;
    const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
    const SceneComparison base = compare_with_truth(analysis, frame);
    ASSERT_EQ(base.outcome, PalletOutcome::pallet_found);

    // Move the true centre by a known offset: the error moves by minus that offset.
    sim::Frame shifted = frame;
    const Eigen::Vector3d offset(12.0, -25.0, 40.0);
    shifted.truth.pallets[0].faces[0].centre += offset;
    const SceneComparison moved = compare_with_truth(analysis, shifted);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(moved.centre_error(k), base.centre_error(k) - offset(k), 1e-9);
    EXPECT_NEAR(moved.centre_error_norm, moved.centre_error.norm(), 1e-9);

    // A truth normal equal to the fitted one: no normal error and no angle error.
    sim::Frame same = frame;
    const Eigen::Vector3d fitted = analysis.pose.rotation.row(2).transpose();
    same.truth.pallets[0].faces[0].normal = fitted;
    const SceneComparison exact = compare_with_truth(analysis, same);
    EXPECT_NEAR(exact.normal_error_deg, 0.0, 1e-5);
    EXPECT_NEAR(exact.error.yaw_deg, 0.0, 1e-6);
    EXPECT_NEAR(exact.error.pitch_deg, 0.0, 1e-6);
    EXPECT_NEAR(exact.error.roll_deg, 0.0, 1e-6);

    // The same normal turned by 7 degrees about any axis across it: 7 degrees of normal error.
    const Eigen::Vector3d across = fitted.unitOrthogonal();
    same.truth.pallets[0].faces[0].normal = Eigen::AngleAxisd(7.0 * rad, across) * fitted;
    EXPECT_NEAR(compare_with_truth(analysis, same).normal_error_deg, 7.0, 1e-6);

    // The yaw line against the pallet yaw is the plain wrapped difference.
    sim::Frame turned = frame;
    turned.truth.pallets[0].placement.yaw_deg = analysis.pose.angles.yaw_deg + 200.0;
    EXPECT_NEAR(compare_with_truth(analysis, turned).yaw_line_vs_pallet_deg, 160.0, 1e-9);
}

TEST(CompareWithTruth, OnlyFoundPalletsCarryErrors)
{
    FrameAnalysis nothing;
    nothing.outcome = PalletOutcome::no_contour;
    const sim::Frame frame = render_params(square_on_at_1250());
    const SceneComparison none = compare_with_truth(nothing, frame);
    EXPECT_EQ(none.outcome, PalletOutcome::no_contour);
    EXPECT_EQ(none.face_width_px, 0);
    EXPECT_TRUE(std::isnan(none.centre_error_norm));
    EXPECT_TRUE(std::isnan(none.normal_error_deg));

    FrameAnalysis narrow;
    narrow.outcome = PalletOutcome::no_pallet;
    narrow.pose.bounding_rect = cv::Rect(10, 20, 150, 30);
    const SceneComparison small = compare_with_truth(narrow, frame);
    EXPECT_EQ(small.face_width_px, 150);
    EXPECT_TRUE(std::isnan(small.centre_error(0)));
    EXPECT_TRUE(std::isnan(small.error.yaw_deg));
}

TEST(CentrePixelOnFace, NeedsPalletLabelAndDepthOnTheFacePlane)
{
    SceneParams p = square_on_at_1250();
    p.noise_level = 0.0;  // no dropout at the pixels below
    const sim::Frame frame = render_params(p);
    const cv::Point2d centre = sim::project(frame.truth.pallets[0].faces[0].centre);
    const cv::Point on_face(static_cast<int>(std::lround(centre.x)), static_cast<int>(std::lround(centre.y)));
    EXPECT_TRUE(centre_pixel_on_face(on_face, frame));

    // Well below the pallet: the floor.
    EXPECT_FALSE(centre_pixel_on_face({on_face.x, 470}, frame));
    // Outside the image.
    EXPECT_FALSE(centre_pixel_on_face({-1, on_face.y}, frame));
    EXPECT_FALSE(centre_pixel_on_face({on_face.x, 480}, frame));

    // A pallet label at the right depth but with its return lost is a miss.
    sim::Frame lost = frame;
    lost.depth.at<std::uint16_t>(on_face.y, on_face.x) = 0;
    EXPECT_FALSE(centre_pixel_on_face(on_face, lost));

    // A pallet label 300 mm behind the face plane (a block deep in a fork opening) is a miss.
    sim::Frame deep = frame;
    deep.depth.at<std::uint16_t>(on_face.y, on_face.x) += 300;
    EXPECT_FALSE(centre_pixel_on_face(on_face, deep));
}

TEST(CompareDockWithTruth, ErrorsInBothFramesAndTheirSigns)
{
    const sim::Frame frame = render_params(square_on_at_1250());
    AnalysisWorkspace workspace;
    const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
    const DockPose dock = dock_of(detect_pallets(frame.depth));
    const DockComparison base = compare_dock_with_truth(dock, analysis, frame);
    ASSERT_EQ(base.verdict, DockVerdict::pallet);
    EXPECT_LT(base.centre_error.norm(), 5.0);
    EXPECT_LT(base.centre_error_floor.norm(), 5.0);
    EXPECT_LT(std::abs(base.yaw_error_deg), 0.2);
    EXPECT_LT(base.normal_error_deg, 0.3);
    EXPECT_LT(std::abs(base.width_error_mm), 8.0);
    EXPECT_LT(std::abs(base.distance_error_mm), 3.0);
    ASSERT_EQ(base.pockets, 2U);
    EXPECT_LT(base.pocket_error_mm[0], 6.0);
    EXPECT_LT(base.pocket_error_mm[1], 6.0);
    EXPECT_LT(base.floor_normal_error_deg, 0.1);
    EXPECT_LT(std::abs(base.camera_height_error_mm), 2.0);
    EXPECT_LT(std::abs(base.camera_tilt_error_deg), 0.1);
    EXPECT_LT(base.contour_floor_share, 0.5);
    EXPECT_GT(base.contour_pallet_share, 0.5);

    // The truth's floor frame: the camera's own centre stands its height above the floor origin.
    EXPECT_TRUE(truth_floor_point(frame.truth, Eigen::Vector3d::Zero()).isApprox(Eigen::Vector3d(0, 0, 200)));

    // A truth moved by a known offset moves the camera-frame error by minus that offset, and the
    // floor-frame error by minus the offset turned into the floor frame.
    sim::Frame shifted = frame;
    const Eigen::Vector3d offset(12.0, -25.0, 40.0);
    shifted.truth.pallets[0].faces[0].centre += offset;
    const DockComparison moved = compare_dock_with_truth(dock, analysis, shifted);
    const Eigen::Vector3d offset_floor = sim::camera_to_floor(frame.truth.mount) * offset;
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(moved.centre_error(k), base.centre_error(k) - offset(k), 1e-9);
        EXPECT_NEAR(moved.centre_error_floor(k), base.centre_error_floor(k) - offset_floor(k), 1e-9);
    }

    // A truth turned by 3 degrees counter-clockwise (seen from above) about the floor normal: the
    // measured yaw is 3 degrees short of it.
    sim::Frame turned = frame;
    const Eigen::Matrix3d to_floor = sim::camera_to_floor(frame.truth.mount);
    turned.truth.pallets[0].faces[0].normal =
        to_floor.transpose() * Eigen::AngleAxisd(3.0 * rad, Eigen::Vector3d::UnitZ()) * to_floor *
        frame.truth.pallets[0].faces[0].normal;
    EXPECT_NEAR(compare_dock_with_truth(dock, analysis, turned).yaw_error_deg, base.yaw_error_deg - 3.0, 1e-6);

    // Without a face nothing but the verdict and the floor is compared; without a pallet no pose.
    DockPose floor_only = dock;
    floor_only.face_found = false;
    floor_only.verdict = DockVerdict::no_pallet;
    floor_only.reason = DockReason::no_face;
    const DockComparison no_face = compare_dock_with_truth(floor_only, analysis, frame);
    EXPECT_EQ(no_face.reason, DockReason::no_face);
    EXPECT_TRUE(std::isnan(no_face.centre_error.x()));
    EXPECT_TRUE(std::isnan(no_face.pocket_error_mm[0]));
    EXPECT_LT(no_face.floor_normal_error_deg, 0.1);
    sim::Frame empty = frame;
    empty.truth.pallets.clear();
    EXPECT_TRUE(std::isnan(compare_dock_with_truth(dock, analysis, empty).yaw_error_deg));
}
