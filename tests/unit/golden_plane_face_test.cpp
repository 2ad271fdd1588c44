// A hand-made depth frame whose answer is worked out here from the geometry: a camera 200 mm above
// the floor, tilted 6 degrees up, sees the floor and a vertical planar face turned 15 degrees,
// cut to columns 180..420, narrowing below row 294, and
// to heights 60..180 mm. The expected centre point comes from this
// file's own ray casting and pinhole numbers, the Chinese bytes from the GBK tables.
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/result_report.hpp"
#include "unit/golden_files.hpp"

namespace {

constexpr double fx = 362.37, fy = 362.494, cx = 321.37, cy = 241.664;
constexpr double height = 200.0;      // camera above the floor, mm
constexpr double distance = 1400.0;   // the face's middle ahead of the camera, mm
const double pi = std::acos(-1.0);
const double tilt = 6.0 * pi / 180.0;   // optical axis up
const double turn = 15.0 * pi / 180.0;  // face about the vertical

// Camera axes in the floor frame (X right, Y forward, Z up).
const Eigen::Vector3d ex(1, 0, 0);
const Eigen::Vector3d ey(0, std::sin(tilt), -std::cos(tilt));  // image rows grow downward
const Eigen::Vector3d ez(0, std::cos(tilt), std::sin(tilt));
const Eigen::Vector3d camera(0, 0, height);
const Eigen::Vector3d face_point(0, distance, 0);
const Eigen::Vector3d face_normal(-std::sin(turn), std::cos(turn), 0);

Eigen::Vector3d ray(int v, int u)  // floor-frame direction whose camera z is 1
{
    return ((u - cx) / fx) * ex + ((v - cy) / fy) * ey + ez;
}

bool on_face(int v, int u, double* t)
{
    const Eigen::Vector3d d = ray(v, u);
    *t = (face_point - camera).dot(face_normal) / d.dot(face_normal);
    const double z = (camera + *t * d).z();
    // Upright sides down to row 294, then cut inwards 1.5 columns a row: long staircases, and no
    // acute corner for the opening to shave.
    const int cut = v > 294 ? 3 * (v - 294) / 2 : 0;
    return u >= 180 + cut && u <= 420 - cut && *t > 0 && z >= 60.0 && z <= 180.0;
}

cv::Mat hand_made_depth()
{
    cv::Mat depth = cv::Mat::zeros(480, 640, CV_16UC1);
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            double t = 0;
            if (!on_face(v, u, &t)) {
                const Eigen::Vector3d d = ray(v, u);
                t = d.z() < 0 ? -height / d.z() : 0.0;  // the floor, where the ray goes down
                if (t > 6000.0) t = 0.0;
            }
            depth.at<std::uint16_t>(v, u) = static_cast<std::uint16_t>(std::lround(t));
        }
    }
    return depth;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string bytes(std::initializer_list<int> hex)
{
    std::string out;
    for (const int b : hex) out.push_back(static_cast<char>(b));
    return out;
}

}  // namespace

TEST(GoldenPlaneFace, CentrePointRotationAndBytes)
{
    const cv::Mat depth = hand_made_depth();
    cv::Rect face_pixels;  // bounding box of the face pixels drawn above
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) {
            double t = 0;
            if (on_face(v, u, &t)) {
                face_pixels = face_pixels.area() == 0 ? cv::Rect(u, v, 1, 1)
                                                      : face_pixels | cv::Rect(u, v, 1, 1);
            }
        }
    }
    AnalysisWorkspace workspace;
    const FrameAnalysis analysis = analyse_depth(depth, workspace);
    ASSERT_EQ(analysis.outcome, PalletOutcome::pallet_found);

    // The blur grows the region by one pixel on every side; the opening keeps this thick face.
    const cv::Rect rect(face_pixels.x - 1, face_pixels.y - 1, face_pixels.width + 2,
                        face_pixels.height + 2);
    EXPECT_EQ(analysis.pose.bounding_rect, rect);
    const int u_c = rect.x + rect.width / 2;
    const int v_c = rect.y + rect.height / 2;
    const double d_c = depth.at<std::uint16_t>(v_c, u_c);
    ASSERT_GT(d_c, 0.0);
    cv::Mat_<double> centre(3, 1);
    centre << d_c * (u_c - cx) / fx, d_c * (v_c - cy) / fy, d_c;

    std::ostringstream out;
    write_report(out, analysis, TextEncoding::gbk);
    const std::vector<std::string> lines = lines_of(out.str());
    ASSERT_EQ(lines.size(), 13U);
    std::ostringstream expected_tt;
    expected_tt << "TT:\n" << centre;
    EXPECT_EQ(lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3], expected_tt.str());
    EXPECT_EQ(lines[4], "TR: ");

    // The face plane's unit normal in the camera frame, pointing away from the camera's side as
    // the fit's normal (a, b, -1) does; R turns it onto +Z, so it is R's last row.
    const Eigen::Vector3d n =
        -Eigen::Vector3d(face_normal.dot(ex), face_normal.dot(ey), face_normal.dot(ez));
    EXPECT_LT((analysis.pose.rotation.row(2).transpose() - n).norm(), 2e-3);
    const Eigen::Vector3d plane(-n.x() / n.z(), -n.y() / n.z(), 0.0);
    const RotationAngles expected = rotation_angles(rotation_onto_z(plane));
    EXPECT_NEAR(analysis.pose.angles.yaw_deg, expected.yaw_deg, 0.1);
    EXPECT_NEAR(analysis.pose.angles.pitch_deg, expected.pitch_deg, 0.1);
    EXPECT_NEAR(analysis.pose.angles.roll_deg, expected.roll_deg, 0.1);

    const std::string label = bytes({0xC8, 0xC6, 0x20});
    const std::string middle = bytes({0x20, 0xD6, 0xE1, 0xB5, 0xC4, 0xD0, 0xFD, 0xD7, 0xAA, 0xBD,
                                      0xC7, 0xB6, 0xC8, 0xA3, 0xA8});
    EXPECT_EQ(lines[8].rfind(label + "Z" + middle + "yaw" + bytes({0xA3, 0xA9, 0x3A}), 0), 0U);
    EXPECT_EQ(lines[9].rfind(label + "Y" + middle + "pitch" + bytes({0xA3, 0xA9, 0xA3, 0xBA}), 0),
              0U);
    EXPECT_EQ(lines[10].rfind(label + "X" + middle + "roll" + bytes({0xA3, 0xA9, 0x3A}), 0), 0U);
    EXPECT_EQ(lines[11].rfind("Euler angles (radians): ", 0), 0U);
    EXPECT_EQ(lines[12].rfind("Euler angles (degrees): ", 0), 0U);

    golden::expect_report("golden_plane_face_gbk.txt", out.str());
    golden::expect_image("golden_plane_face_result.png",
                         draw_result_view(make_depth_view(depth), analysis));
}
