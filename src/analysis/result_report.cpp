#include "analysis/result_report.hpp"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <strings.h>

#include <opencv2/imgproc.hpp>

#include "analysis/plane_fit.hpp"

namespace {

// The Chinese texts, one row per text: GBK bytes (code page 936), then the same characters in
// UTF-8. A \x escape swallows every hex digit after it, hence the split literals.
struct ChineseText {
    const char* gbk;
    const char* utf8;
};

constexpr ChineseText no_contour_text{"\xCE\xB4\xB7\xA2\xCF\xD6\xC2\xD6\xC0\xAA;", "未发现轮廓;"};
constexpr ChineseText no_pallet_text{
    "\xCE\xB4\xB7\xA2\xCF\xD6\xCD\xD0\xC5\xCC\xC2\xD6\xC0\xAA\xA3\xBB", "未发现托盘轮廓；"};
constexpr ChineseText yaw_label{
    "\xC8\xC6 Z \xD6\xE1\xB5\xC4\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8\xA3\xA8" "yaw" "\xA3\xA9:",
    "绕 Z 轴的旋转角度（yaw）:"};
constexpr ChineseText pitch_label{
    "\xC8\xC6 Y \xD6\xE1\xB5\xC4\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8\xA3\xA8" "pitch" "\xA3\xA9\xA3\xBA",
    "绕 Y 轴的旋转角度（pitch）："};
constexpr ChineseText roll_label{
    "\xC8\xC6 X \xD6\xE1\xB5\xC4\xD0\xFD\xD7\xAA\xBD\xC7\xB6\xC8\xA3\xA8" "roll" "\xA3\xA9:",
    "绕 X 轴的旋转角度（roll）:"};

const char* in(const ChineseText& text, TextEncoding encoding)
{
    return encoding == TextEncoding::gbk ? text.gbk : text.utf8;
}

void end_line(std::ostream& out)
{
    out << '\n' << std::flush;
}

// "%f" of one number: fixed, six decimals. Never touched by the stream's state.
std::string fixed6(double value)
{
    const int length = std::snprintf(nullptr, 0, "%f", value);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%f", value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void write_centre_point(std::ostream& out, const cv::Point3d& centre_point)
{
    const cv::Mat_<double> centre = (cv::Mat_<double>(3, 1) << centre_point.x, centre_point.y,
                                     centre_point.z);
    out << "TT:";
    end_line(out);
    out << centre;
    end_line(out);
}

void write_rotation(std::ostream& out, const Eigen::Matrix3d& rotation)
{
    Eigen::Matrix3d R = rotation;  // writable storage for the view
    out << "TR: ";
    end_line(out);
    out << rotation_view(R);  // R transposed: printed row r is R's column r
    end_line(out);
}

void write_angles(std::ostream& out, const RotationAngles& angles, TextEncoding encoding)
{
    out << in(yaw_label, encoding) << angles.yaw_deg;
    end_line(out);
    out << in(pitch_label, encoding) << angles.pitch_deg;
    end_line(out);
    out << in(roll_label, encoding) << angles.roll_deg;
    end_line(out);
}

void write_euler(std::ostream& out, const PalletPose& pose)
{
    out << "Euler angles (radians): " << pose.euler_rad.transpose();
    end_line(out);
    out << "Euler angles (degrees): " << pose.euler_deg.transpose();
    end_line(out);
}

bool names_gbk(const char* codeset)
{
    // GB2312 is a subset of GBK that holds every character of the report.
    for (const char* name : {"GBK", "GB18030", "GB2312"}) {
        if (strcasecmp(codeset, name) == 0) return true;
    }
    return false;
}

}  // namespace

TextEncoding encoding_for_codeset(const char* codeset)
{
    return codeset != nullptr && names_gbk(codeset) ? TextEncoding::gbk : TextEncoding::utf8;
}

std::string position_text(const cv::Point3d& centre_point)
{
    return "X:" + fixed6(centre_point.x) + " " + "Y:" + fixed6(centre_point.y) + " " + "Z:" +
           fixed6(centre_point.z);
}

std::string angle_text(const RotationAngles& angles)
{
    return "yaw:" + fixed6(angles.yaw_deg) + " " + "pitch:" + fixed6(angles.pitch_deg) + " " +
           "roll:" + fixed6(angles.roll_deg);
}

void write_report(std::ostream& out, const FrameAnalysis& analysis, TextEncoding encoding)
{
    switch (analysis.outcome) {
    case PalletOutcome::no_contour:
        out << in(no_contour_text, encoding);
        end_line(out);
        return;
    case PalletOutcome::no_pallet:
        out << in(no_pallet_text, encoding);
        end_line(out);
        return;
    case PalletOutcome::pallet_found:
        break;
    }
    const PalletPose& pose = analysis.pose;
    write_centre_point(out, pose.centre_point);
    write_rotation(out, pose.rotation);
    write_angles(out, pose.angles, encoding);
    write_euler(out, pose);
}

cv::Point rounded_corner(const cv::Point2f& corner)
{
    // Halfway values go to the even neighbour (the default rounding mode), as cvRound does.
    return {static_cast<int>(std::nearbyint(corner.x)), static_cast<int>(std::nearbyint(corner.y))};
}

void draw_box(cv::Mat& result_view, const BoxCorners& corners)
{
    const cv::Scalar white(255, 255, 255);
    for (std::size_t k = 0; k < corners.size(); ++k) {
        cv::line(result_view, rounded_corner(corners[k]), rounded_corner(corners[(k + 1) % 4]),
                 white, 2, cv::LINE_8, 0);
    }
}

cv::Mat draw_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis)
{
    cv::Mat result_view;
    cv::applyColorMap(depth_view, result_view, cv::COLORMAP_JET);
    return draw_result_overlay(result_view, analysis);
}

cv::Mat draw_result_overlay(cv::Mat& result_view, const FrameAnalysis& analysis)
{
    CV_Assert(result_view.type() == CV_8UC3);
    const cv::Scalar red(0, 0, 255);
    const cv::Scalar white(255, 255, 255);
    const cv::Rect ground_patch(240, 380, 160, 80);  // rows 380..459, columns 240..399
    cv::rectangle(result_view, ground_patch, red, 2, cv::LINE_8, 0);
    cv::circle(result_view, cv::Point(320, 420), 2, red, cv::FILLED, cv::LINE_8, 0);  // reference
    if (analysis.outcome != PalletOutcome::pallet_found) return result_view;

    for (const BoxCorners& box : analysis.pose.boxes) draw_box(result_view, box);
    cv::putText(result_view, position_text(analysis.pose.centre_point), cv::Point(0, 20),
                cv::FONT_HERSHEY_SIMPLEX, 0.6, white, 2, cv::LINE_8, false);
    cv::putText(result_view, angle_text(analysis.pose.angles), cv::Point(0, 40),
                cv::FONT_HERSHEY_SIMPLEX, 0.6, white, 2, cv::LINE_8, false);
    return result_view;
}
