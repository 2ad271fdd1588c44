#include "analysis/detector/verdict.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "analysis/detector/detect_pallets.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

const PalletType& long_face()
{
    return *find_pallet_type(builtin_pallet_types(), "block_1200x800_long");
}

// A measured face without its points: square on, 1500 mm ahead of a level camera 200 mm up,
// its ends, rows, openings, top, lean and bottom as given.
struct Face {
    FloorFrame f = floor_frame_of(Eigen::Vector3d(0.0, -1.0, 0.0), 200.0);
    std::vector<FacePoint> band, upper;
    FaceFit fit;
    FaceEnds ends;
    std::vector<Opening> openings;
    std::vector<double> heights = std::vector<double>(5, 144.0);
    double lean_deg = 0.0;
    double lean_error_deg = 0.05;
    double bottom_mm = 25.0;
};

// The long face of the 1200 x 800 pallet with its left end at t0, both ends seen in five rows
// each, its openings where the type has them.
Face pallet_face(double t0)
{
    Face face;
    face.fit.line = {0.0, 1.0, 1500.0};
    face.fit.scale = 1.0;
    face.fit.inlier_band = 4.0;
    face.fit.left = t0;
    face.fit.right = t0 + 1200.0;
    face.ends.left = t0;
    face.ends.right = t0 + 1200.0;
    for (const double d : {-2.0, -1.0, 0.0, 1.0, 2.0}) {
        face.ends.left_rows.push_back(t0 + d);
        face.ends.right_rows.push_back(t0 + 1200.0 + d);
    }
    for (const FaceRect& o : long_face().openings) face.openings.push_back({t0 + o.left_mm, t0 + o.right_mm, 12, o.top_mm});
    return face;
}

DockPose judge(const Face& face, const std::vector<PalletType>& types = builtin_pallet_types())
{
    const MeasuredFaceParts parts{face.band,     face.upper,    face.fit,           face.ends, face.openings,
                                  face.heights,  face.lean_deg, face.lean_error_deg, face.bottom_mm, 0.0};
    VerdictScratch scratch;
    DockPose pose;
    judge_face(parts, types, DetectorParams{}, face.f, scratch, pose);
    return pose;
}

// 1.4826 times the median absolute deviation, for an odd number of values.
double spread_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const double middle = values[values.size() / 2];
    for (double& v : values) v = std::abs(v - middle);
    std::sort(values.begin(), values.end());
    return 1.4826 * values[values.size() / 2];
}

double factor(double miss, double scale)
{
    return 1.0 / (1.0 + (miss / scale) * (miss / scale));
}

// A depth image of the floor and a thin plate cut to a type's elevation, square on `distance`
// ahead of the working mount, its bottom edge `lift` above the floor, leaning back by lean_deg
// (the renderer stands every pallet upright on the floor).
cv::Mat plate_frame(const PalletType& type, double distance, double lean_deg, double lift)
{
    const sim::Mount mount = sim::default_mount();
    const Eigen::Matrix3d to_floor = sim::camera_to_floor(mount);
    const double slope = std::tan(lean_deg * pi / 180.0);
    cv::Mat depth(depth_rows, depth_cols, CV_16UC1, cv::Scalar(0));
    for (int v = 0; v < depth_rows; ++v) {
        for (int u = 0; u < depth_cols; ++u) {
            const Eigen::Vector3d ray = sim::pixel_ray(v, u);  // z-depth 1
            const Eigen::Vector3d d = to_floor * ray;
            double s = d.z() < 0.0 ? -mount.height_mm / d.z() : INFINITY;  // the floor
            const double facing = d.y() - d.z() * slope;
            if (facing > 0.0) {
                const double t = (distance + (mount.height_mm - lift) * slope) / facing;
                const double along = t * d.x() + type.width_mm / 2.0;
                const double up = (mount.height_mm + t * d.z() - lift) * std::sqrt(1.0 + slope * slope);
                for (const FacePart& p : type.parts) {
                    if (t < s && along >= p.rect.left_mm && along < p.rect.right_mm && up >= p.rect.bottom_mm &&
                        up < p.rect.top_mm) {
                        s = t;
                    }
                }
            }
            if (s * ray.norm() < 6000.0) depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(std::lround(s));
        }
    }
    return depth;
}

Detection detect(const cv::Mat& depth, const std::vector<PalletType>& types = builtin_pallet_types(),
                 bool explain = true)
{
    DetectorParams params;
    params.explain = explain;
    DetectorWorkspace workspace;
    return detect_pallets(depth, types, params, workspace);
}

sim::Frame exact_frame(sim::Scene scene, std::uint64_t seed = 17)
{
    scene.sensor = sim::exact_sensor();
    return sim::render(scene, seed);
}

// A box standing on the floor, its front face `distance` ahead.
sim::Frame box_frame(double width, double height, double distance, double lateral)
{
    sim::Scene scene = sim::floor_scene();
    sim::Box box;
    box.centre = {lateral, distance + 200.0, height / 2.0};
    box.size = {width, 400.0, height};
    scene.boxes.push_back(box);
    return exact_frame(scene);
}

bool finite(const Eigen::Vector3d& p)
{
    return p.allFinite();
}

// Every field of a pose, as bytes: two poses the same to the bit (NaN included) give the same.
std::string bytes_of(const DockPose& p)
{
    std::string out;
    const auto add = [&out](const auto&... values) {
        (out.append(reinterpret_cast<const char*>(&values), sizeof values), ...);
    };
    const DockFloor& f = p.floor;
    add(f.found, f.normal, f.camera_height_mm, f.camera_tilt_deg, f.camera_roll_deg, f.residual_mm, f.inliers);
    out += p.type + '\0';
    add(p.face_found, p.face_points, p.face_inliers, p.face_residual_mm, p.face_tilt_deg, p.yaw_deg,
        p.face_distance_mm, p.face_normal_camera, p.left_edge_camera, p.left_edge_floor, p.right_edge_camera,
        p.right_edge_floor, p.width_mm, p.face_height_mm, p.centre_camera, p.centre_floor);
    for (const DockPocket& k : p.pockets) add(k.offset_mm, k.width_mm, k.centre_camera, k.centre_floor);
    add(p.verdict, p.reason, p.confidence);
    return out;
}

void expect_same(const Detection& a, const Detection& b)
{
    EXPECT_EQ(a.candidates, b.candidates);
    EXPECT_EQ(a.reason, b.reason);
    ASSERT_EQ(a.pallets.size(), b.pallets.size());
    ASSERT_EQ(a.rejected.size(), b.rejected.size());
    for (std::size_t k = 0; k < a.pallets.size(); ++k) EXPECT_TRUE(bytes_of(a.pallets[k]) == bytes_of(b.pallets[k])) << k;
    for (std::size_t k = 0; k < a.rejected.size(); ++k) {
        EXPECT_TRUE(bytes_of(a.rejected[k]) == bytes_of(b.rejected[k])) << k;
    }
}

}  // namespace

TEST(DetectorVerdict, ConfidenceFollowsTheMeasuredMisses)
{
    // 15 mm wider than the type, one opening 6 mm off and 4 mm wide, the other 9 mm narrow,
    // leaning 1.2 degrees, the ends' rows spread: the confidence is the product of the factors.
    Face face = pallet_face(-600.0);
    face.ends.left -= 7.5;
    face.ends.right += 7.5;
    face.ends.left_rows.clear();
    for (const double d : {-2.0, -1.0, 0.0, 1.0, 2.0}) face.ends.left_rows.push_back(face.ends.left + d);
    face.ends.right_rows.clear();
    for (const double d : {-6.0, -4.0, -2.0, 0.0, 2.0, 4.0, 6.0}) face.ends.right_rows.push_back(face.ends.right + d);
    face.openings[0].lo += 4.0;
    face.openings[0].hi += 8.0;
    face.openings[1].lo += 4.5;
    face.openings[1].hi -= 4.5;
    face.lean_deg = 1.2;
    const DockPose pose = judge(face);
    ASSERT_EQ(pose.verdict, DockVerdict::pallet) << dock_reason_name(pose.reason);
    EXPECT_EQ(pose.reason, DockReason::none);
    EXPECT_EQ(pose.type, "block_1200x800_long");

    const PalletType& type = long_face();
    const double left = spread_of(face.ends.left_rows) / std::sqrt(5.0);
    const double right = spread_of(face.ends.right_rows) / std::sqrt(7.0);
    ASSERT_GT(left, 1500.0 / camera_model.fx / std::sqrt(12.0) / std::sqrt(5.0));  // above the pixel's floor
    const double uncertainty = 0.5 * std::sqrt(left * left + right * right);
    const double expected = factor(15.0, type.width_tolerance_mm) * factor(9.0, type.opening_tolerance_mm) *
                            factor(1.2, 2.0) / (1.0 + uncertainty / 5.0);
    EXPECT_NEAR(pose.confidence, expected, 1e-12);

    // The centre half way between the ends, half the type's height up; the pockets from it.
    const double middle = (face.ends.left + face.ends.right) / 2.0;
    EXPECT_NEAR(pose.centre_floor.x(), middle, 1e-9);
    EXPECT_NEAR(pose.centre_floor.y(), 1500.0, 1e-9);
    EXPECT_NEAR(pose.centre_floor.z(), 72.0, 1e-9);
    EXPECT_NEAR(pose.width_mm, 1215.0, 1e-9);
    EXPECT_EQ(pose.face_height_mm, 144.0);
    ASSERT_EQ(pose.pockets.size(), 2U);
    EXPECT_NEAR(pose.pockets[0].offset_mm, (face.openings[0].lo + face.openings[0].hi) / 2.0 - middle, 1e-9);
    EXPECT_NEAR(pose.pockets[1].width_mm, face.openings[1].hi - face.openings[1].lo, 1e-9);
    EXPECT_NEAR(pose.pockets[1].centre_floor.z(), 50.0, 1e-9);  // half way up the type's opening

    // The same face of an unknown type: a quarter for the width and pockets, the same lean and
    // uncertainty.
    const DockPose unknown = judge(face, {});
    ASSERT_EQ(unknown.verdict, DockVerdict::unknown_type) << dock_reason_name(unknown.reason);
    EXPECT_EQ(unknown.reason, DockReason::none);
    EXPECT_TRUE(unknown.type.empty());
    EXPECT_NEAR(unknown.confidence, 0.25 * factor(1.2, 2.0) / (1.0 + uncertainty / 5.0), 1e-12);
    EXPECT_EQ(unknown.face_height_mm, 144.0);
    EXPECT_NEAR(unknown.centre_floor.z(), 72.0, 1e-9);
}

TEST(DetectorVerdict, EachCheckRefusesInItsOrder)
{
    EXPECT_EQ(judge(pallet_face(-600.0)).verdict, DockVerdict::pallet);

    // Leaning 6.5 degrees, measured to a tenth: tilted; 3 degrees is within the limit; 6.5 with
    // a standard error of 0.6 may be 5 and passes.
    Face lean = pallet_face(-600.0);
    lean.lean_deg = 6.5;
    lean.lean_error_deg = 0.1;
    EXPECT_EQ(judge(lean).reason, DockReason::face_tilted);
    lean.lean_deg = -6.5;
    EXPECT_EQ(judge(lean).reason, DockReason::face_tilted);
    lean.lean_deg = 3.0;
    EXPECT_EQ(judge(lean).verdict, DockVerdict::pallet);
    lean.lean_deg = 6.5;
    lean.lean_error_deg = 0.6;
    EXPECT_EQ(judge(lean).verdict, DockVerdict::pallet);

    // Its lowest points 60 mm above the floor: not on it; 40 mm: on it.
    Face high = pallet_face(-600.0);
    high.bottom_mm = 60.0;
    EXPECT_EQ(judge(high).reason, DockReason::not_on_floor);
    high.bottom_mm = 40.0;
    EXPECT_EQ(judge(high).verdict, DockVerdict::pallet);
    high.bottom_mm = 60.0;
    high.lean_deg = 7.0;  // the lean is checked first
    EXPECT_EQ(judge(high).reason, DockReason::face_tilted);

    // 900 mm wide without openings: no type's width. 1200 mm wide without openings: the width of
    // three types, the openings of none. One end cut off and no opening: nothing places a type.
    Face box = pallet_face(-450.0);
    box.ends.right = box.fit.right = -450.0 + 900.0;
    box.openings.clear();
    DockPose pose = judge(box);
    EXPECT_EQ(pose.reason, DockReason::wrong_width);
    EXPECT_NEAR(pose.width_mm, 900.0, 1e-9);
    EXPECT_EQ(pose.confidence, 0.0);
    Face wide = pallet_face(-600.0);
    wide.openings.clear();
    EXPECT_EQ(judge(wide).reason, DockReason::wrong_pockets);
    wide.ends.left = NAN;
    pose = judge(wide);
    EXPECT_EQ(pose.reason, DockReason::face_cut_off);
    EXPECT_EQ(pose.verdict, DockVerdict::no_pallet);
    EXPECT_TRUE(std::isnan(pose.width_mm));

    // Fork openings too low for forks (60 mm) on a face of no type: no unknown type either.
    Face low = pallet_face(-600.0);
    for (Opening& o : low.openings) o.top = 60.0;
    pose = judge(low, {});
    EXPECT_EQ(pose.verdict, DockVerdict::no_pallet);
    EXPECT_EQ(pose.reason, DockReason::wrong_width);
}

TEST(DetectorVerdict, EveryReasonFromADepthImage)
{
    // A pallet, and the same pallet with no type that fits it.
    const sim::Frame pallet = exact_frame(sim::pallet_scene(1500.0, 0.0, 0.0));
    const DockPose found = dock_of(detect(pallet.depth));
    EXPECT_EQ(found.verdict, DockVerdict::pallet) << dock_reason_name(found.reason);
    EXPECT_EQ(found.type, "block_1200x800_long");
    const PalletType only_other = *find_pallet_type(builtin_pallet_types(), "block_1100x1100");
    const DockPose unknown = dock_of(detect(pallet.depth, {only_other}));
    EXPECT_EQ(unknown.verdict, DockVerdict::unknown_type) << dock_reason_name(unknown.reason);
    EXPECT_GT(unknown.confidence, 0.0);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(unknown.centre_camera(k), pallet.truth.pallets[0].faces[0].centre(k), 6.0);

    // No depth, or no floor in view (a camera looking up at a wall).
    EXPECT_EQ(dock_of(detect(cv::Mat::zeros(depth_rows, depth_cols, CV_16UC1))).reason, DockReason::no_floor);
    sim::Scene wall = sim::floor_scene(sim::Mount{200.0, 40.0, 0.0});
    wall.boxes.push_back(sim::back_wall(2500.0));
    const sim::Frame wall_frame = exact_frame(wall);
    const Detection no_floor = detect(wall_frame.depth);
    EXPECT_FALSE(no_floor.floor.found);
    EXPECT_EQ(dock_of(no_floor).reason, DockReason::no_floor);

    // The floor alone.
    EXPECT_EQ(dock_of(detect(exact_frame(sim::floor_scene()).depth)).reason, DockReason::no_face);

    // A pallet's face leaning back 6.5 degrees, seen close: tilted; 3 degrees: a pallet.
    const DockPose tilted = dock_of(detect(plate_frame(long_face(), 1000.0, 6.5, 0.0)));
    EXPECT_EQ(tilted.reason, DockReason::face_tilted);
    EXPECT_NEAR(tilted.face_tilt_deg, 6.5, 0.5);
    const DockPose upright = dock_of(detect(plate_frame(long_face(), 1000.0, 3.0, 0.0)));
    EXPECT_EQ(upright.verdict, DockVerdict::pallet) << dock_reason_name(upright.reason);
    EXPECT_NEAR(upright.face_tilt_deg, 3.0, 0.5);
    EXPECT_EQ(dock_of(detect(plate_frame(long_face(), 1000.0, -6.5, 0.0))).reason, DockReason::face_tilted);

    // The same face held 60 mm above the floor.
    EXPECT_EQ(dock_of(detect(plate_frame(long_face(), 1200.0, 0.0, 60.0))).reason, DockReason::not_on_floor);

    // Boxes: 900 mm wide; 1200 mm wide; 1200 mm wide with its right end beyond the image border.
    const DockPose narrow = dock_of(detect(box_frame(900.0, 150.0, 1500.0, 0.0).depth));
    EXPECT_EQ(narrow.reason, DockReason::wrong_width);
    EXPECT_NEAR(narrow.width_mm, 900.0, 10.0);
    EXPECT_EQ(dock_of(detect(box_frame(1200.0, 150.0, 1500.0, 0.0).depth)).reason, DockReason::wrong_pockets);
    EXPECT_EQ(dock_of(detect(box_frame(1200.0, 150.0, 1000.0, 700.0).depth)).reason, DockReason::face_cut_off);
}

TEST(DetectorVerdict, DegenerateFramesReportNothingUnmeasured)
{
    // Every pixel at one depth: no floor below the camera.
    for (const int d : {1, 700, 1800, 65535}) {
        const Detection detection = detect(cv::Mat(depth_rows, depth_cols, CV_16UC1, cv::Scalar(d)));
        EXPECT_EQ(detection.reason, DockReason::no_floor) << d;
        EXPECT_TRUE(detection.pallets.empty()) << d;
        EXPECT_TRUE(detection.rejected.empty()) << d;
    }

    // Pallet frames with their depths scaled by 0.6 to 0.75 (a world shrunk about the camera:
    // a camera 120 to 150 mm high, pallets no type's size, openings at the limits of an unknown
    // type's): whatever is reported carries a value in every field it must have. An end and the
    // width may be missing only where the face runs out of the image.
    struct Placement {
        double distance, lateral, yaw;
        const char* model;
    };
    const Placement placements[] = {{1500.0, 0.0, 0.0, "block_1200x800"},   {1400.0, 250.0, 15.0, "block_1200x800"},
                                    {1800.0, -300.0, -20.0, "block_1200x1000"}, {1300.0, 0.0, 5.0, "plastic_9leg_1200x800"},
                                    {1600.0, 200.0, 30.0, "block_1100x1100"},  {1000.0, 250.0, -20.0, "block_1200x800"}};
    std::size_t reported = 0;
    for (const Placement& at : placements) {
        sim::Scene scene = sim::pallet_scene(at.distance, at.lateral, at.yaw);
        scene.pallets[0].model = at.model;
        const sim::Frame frame = sim::render(scene, 31);
        for (const double scale : {0.6, 0.65, 0.7, 0.75}) {
            SCOPED_TRACE(std::string(at.model) + " at " + std::to_string(at.distance) + " scaled " +
                         std::to_string(scale));
            cv::Mat scaled;
            frame.depth.convertTo(scaled, CV_16UC1, scale);
            const Detection detection = detect(scaled);
            for (const DockPose& p : detection.pallets) {
                ++reported;
                EXPECT_NE(p.verdict, DockVerdict::no_pallet);
                EXPECT_TRUE(finite(p.centre_camera) && finite(p.centre_floor));
                EXPECT_TRUE(std::isfinite(p.yaw_deg) && std::isfinite(p.face_distance_mm));
                EXPECT_TRUE(std::isfinite(p.face_height_mm) && std::isfinite(p.face_tilt_deg));
                EXPECT_TRUE(finite(p.face_normal_camera));
                EXPECT_TRUE(p.confidence > 0.0 && p.confidence <= 1.0) << p.confidence;
                for (const DockPocket& k : p.pockets) {
                    EXPECT_TRUE(std::isfinite(k.offset_mm) && std::isfinite(k.width_mm));
                    EXPECT_TRUE(finite(k.centre_camera) && finite(k.centre_floor));
                }
                EXPECT_EQ(std::isfinite(p.width_mm), finite(p.left_edge_floor) && finite(p.right_edge_floor));
                EXPECT_EQ(finite(p.left_edge_floor), finite(p.left_edge_camera));
                EXPECT_EQ(finite(p.right_edge_floor), finite(p.right_edge_camera));
                if (!std::isfinite(p.width_mm)) {
                    EXPECT_EQ(at.distance, 1000.0);  // the one cut off
                }
            }
            for (const DockPose& p : detection.rejected) EXPECT_EQ(p.confidence, 0.0);
        }
    }
    EXPECT_GT(reported, 0U);
}

TEST(DetectorVerdict, AReusedWorkspaceChangesNothing)
{
    // Frames of every kind through one workspace, and each again: the same detection to the bit as
    // with a workspace of its own, kept and refused faces alike.
    sim::Scene two = sim::pallet_scene(1500.0, -700.0, 10.0);
    two.pallets.push_back({2200.0, 800.0, -25.0, "stringer_48x40"});
    std::vector<cv::Mat> frames{sim::render(two, 41).depth,
                                sim::render(sim::warehouse_scene(), 42).depth,
                                cv::Mat::zeros(depth_rows, depth_cols, CV_16UC1),
                                box_frame(900.0, 150.0, 1500.0, 0.0).depth,
                                plate_frame(long_face(), 1000.0, 6.5, 0.0)};
    cv::Mat scaled;
    frames[0].convertTo(scaled, CV_16UC1, 0.7);
    frames.push_back(scaled);
    DetectorParams params;
    params.explain = true;
    DetectorWorkspace reused;
    for (int round = 0; round < 2; ++round) {
        for (std::size_t k = 0; k < frames.size(); ++k) {
            SCOPED_TRACE("round " + std::to_string(round) + " frame " + std::to_string(k));
            const Detection again = detect_pallets(frames[k], builtin_pallet_types(), params, reused);
            expect_same(again, detect(frames[k]));
        }
    }
}
