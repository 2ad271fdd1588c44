#include "analysis/result_report.hpp"

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace {

std::string bytes(std::initializer_list<int> hex)
{
    std::string out;
    for (const int b : hex) out.push_back(static_cast<char>(b));
    return out;
}

std::string report(const FrameAnalysis& analysis, TextEncoding encoding)
{
    std::ostringstream out;
    write_report(out, analysis, encoding);
    return out.str();
}

// The system's own converter, as a check on the GBK bytes independent of the code under test.
std::string gbk_to_utf8(const std::string& gbk)
{
    iconv_t cd = iconv_open("UTF-8", "GBK");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string in = gbk;
    std::string out(gbk.size() * 3, '\0');
    char* in_ptr = in.data();
    char* out_ptr = out.data();
    std::size_t in_left = in.size();
    std::size_t out_left = out.size();
    EXPECT_NE(iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left), static_cast<std::size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

FrameAnalysis pallet(const cv::Point3d& centre)
{
    FrameAnalysis analysis;
    analysis.outcome = PalletOutcome::pallet_found;
    analysis.pose.centre_point = centre;
    analysis.pose.rotation << 0, -1, 0,  // Rz(90): not symmetric, so a transposition shows
        1, 0, 0,                         //
        0, 0, 1;
    analysis.pose.angles = {12.3456789, 0.0, -7.25};
    analysis.pose.euler_rad << 0.5, -1.25, 3;
    analysis.pose.euler_deg << 0, 0, 0;
    return analysis;
}

cv::Mat uniform_view(std::uint8_t value)
{
    return cv::Mat(480, 640, CV_8UC1, cv::Scalar(value));
}

bool is_white(const cv::Mat& view, int u, int v)
{
    return view.at<cv::Vec3b>(v, u) == cv::Vec3b(255, 255, 255);
}

}  // namespace

TEST(EncodingForCodeset, GbkFamilyAnyCaseElseUtf8)
{
    for (const char* gbk : {"GBK", "gbk", "GB18030", "gb18030", "GB2312"}) {
        EXPECT_EQ(encoding_for_codeset(gbk), TextEncoding::gbk) << gbk;
    }
    for (const char* other : {"UTF-8", "utf8", "ANSI_X3.4-1968", "ISO-8859-1", "", "GBK2"}) {
        EXPECT_EQ(encoding_for_codeset(other), TextEncoding::utf8) << other;
    }
    EXPECT_EQ(encoding_for_codeset(nullptr), TextEncoding::utf8);
}

TEST(WriteReport, OutcomeLinesInBothEncodings)
{
    FrameAnalysis analysis;
    analysis.outcome = PalletOutcome::no_contour;
    EXPECT_EQ(report(analysis, TextEncoding::gbk),
              bytes({0xCE, 0xB4, 0xB7, 0xA2, 0xCF, 0xD6, 0xC2, 0xD6, 0xC0, 0xAA, 0x3B, 0x0A}));
    EXPECT_EQ(report(analysis, TextEncoding::utf8), "未发现轮廓;\n");

    analysis.outcome = PalletOutcome::no_pallet;
    analysis.pose = pallet({1, 2, 3}).pose;  // a pose left in the value is not reported
    EXPECT_EQ(report(analysis, TextEncoding::gbk),
              bytes({0xCE, 0xB4, 0xB7, 0xA2, 0xCF, 0xD6, 0xCD, 0xD0, 0xC5, 0xCC, 0xC2, 0xD6, 0xC0,
                     0xAA, 0xA3, 0xBB, 0x0A}));
    EXPECT_EQ(report(analysis, TextEncoding::utf8), "未发现托盘轮廓；\n");
}

TEST(WriteReport, PoseReportLayoutAndNumberFormats)
{
    const std::string utf8 = report(pallet({-12.5, 3, 1500}), TextEncoding::utf8);
    EXPECT_EQ(utf8,
              "TT:\n"
              "[-12.5;\n 3;\n 1500]\n"
              "TR: \n"
              "[0, 1, 0;\n -1, 0, 0;\n 0, 0, 1]\n"  // R transposed: row r is R's column r
              "绕 Z 轴的旋转角度（yaw）:12.3457\n"
              "绕 Y 轴的旋转角度（pitch）：0\n"
              "绕 X 轴的旋转角度（roll）:-7.25\n"
              "Euler angles (radians):   0.5 -1.25     3\n"
              "Euler angles (degrees): 0 0 0\n");

    const std::string gbk = report(pallet({-12.5, 3, 1500}), TextEncoding::gbk);
    const std::string yaw_gbk =
        bytes({0xC8, 0xC6, 0x20, 0x5A, 0x20, 0xD6, 0xE1, 0xB5, 0xC4, 0xD0, 0xFD, 0xD7, 0xAA, 0xBD,
               0xC7, 0xB6, 0xC8, 0xA3, 0xA8, 0x79, 0x61, 0x77, 0xA3, 0xA9, 0x3A});
    const std::string pitch_gbk =
        bytes({0xC8, 0xC6, 0x20, 0x59, 0x20, 0xD6, 0xE1, 0xB5, 0xC4, 0xD0, 0xFD, 0xD7, 0xAA, 0xBD,
               0xC7, 0xB6, 0xC8, 0xA3, 0xA8, 0x70, 0x69, 0x74, 0x63, 0x68, 0xA3, 0xA9, 0xA3, 0xBA});
    const std::string roll_gbk =
        bytes({0xC8, 0xC6, 0x20, 0x58, 0x20, 0xD6, 0xE1, 0xB5, 0xC4, 0xD0, 0xFD, 0xD7, 0xAA, 0xBD,
               0xC7, 0xB6, 0xC8, 0xA3, 0xA8, 0x72, 0x6F, 0x6C, 0x6C, 0xA3, 0xA9, 0x3A});
    EXPECT_NE(gbk.find("\n" + yaw_gbk + "12.3457\n" + pitch_gbk + "0\n" + roll_gbk + "-7.25\n"),
              std::string::npos);
    // The same characters: the whole GBK report converts to the UTF-8 one.
    EXPECT_EQ(gbk_to_utf8(gbk), utf8);
    EXPECT_EQ(gbk_to_utf8(report(FrameAnalysis{}, TextEncoding::gbk)),
              report(FrameAnalysis{}, TextEncoding::utf8));
}

TEST(WriteReport, EveryLineFlushed)
{
    // A stream buffer that records how many bytes had arrived at each flush.
    struct FlushLog : std::stringbuf {
        std::vector<std::size_t> at;
        int sync() override
        {
            at.push_back(str().size());
            return 0;
        }
    } log;
    std::ostream out(&log);
    write_report(out, pallet({1, 2, 3}), TextEncoding::utf8);
    const std::string text = log.str();
    std::vector<std::size_t> line_ends;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') line_ends.push_back(i + 1);
    }
    ASSERT_EQ(line_ends.size(), 13U);
    // Each matrix is one piece of text with its own line breaks, flushed after its last line.
    for (const std::size_t line : {1, 4, 5, 8, 9, 10, 11, 12, 13}) {
        const std::size_t end = line_ends[line - 1];
        EXPECT_NE(std::find(log.at.begin(), log.at.end(), end), log.at.end()) << "line " << line;
    }
}

TEST(ResultTexts, FixedSixDecimals)
{
    EXPECT_EQ(position_text({-12.5, 3, 1500}), "X:-12.500000 Y:3.000000 Z:1500.000000");
    EXPECT_EQ(position_text({0, 0, 0}), "X:0.000000 Y:0.000000 Z:0.000000");
    EXPECT_EQ(angle_text({12.3456789, 0, -7.25}), "yaw:12.345679 pitch:0.000000 roll:-7.250000");
    EXPECT_EQ(angle_text({1e20, 0, 0}).substr(0, 26), "yaw:100000000000000000000.");
}

TEST(DrawResultView, FixedOverlaysOnlyWithoutPallet)
{
    FrameAnalysis analysis;
    analysis.pose = pallet({1, 2, 3}).pose;
    analysis.pose.boxes = {{cv::Point2f(50, 100), cv::Point2f(150, 100), cv::Point2f(150, 200),
                            cv::Point2f(50, 200)}};
    for (const PalletOutcome outcome : {PalletOutcome::no_contour, PalletOutcome::no_pallet}) {
        analysis.outcome = outcome;
        const cv::Mat view = draw_result_view(uniform_view(0), analysis);
        ASSERT_EQ(view.type(), CV_8UC3);
        ASSERT_EQ(view.size(), cv::Size(640, 480));
        const cv::Vec3b jet_of_zero = view.at<cv::Vec3b>(0, 0);
        EXPECT_EQ(jet_of_zero, cv::Vec3b(128, 0, 0));  // dark blue: the bottom of the colour map
        const cv::Vec3b red(0, 0, 255);
        EXPECT_EQ(view.at<cv::Vec3b>(420, 320), red);  // the dot, row 420 column 320
        EXPECT_EQ(view.at<cv::Vec3b>(380, 240), red);  // the patch box's corners
        EXPECT_EQ(view.at<cv::Vec3b>(459, 399), red);
        EXPECT_EQ(view.at<cv::Vec3b>(420, 300), jet_of_zero);  // inside the box
        EXPECT_EQ(view.at<cv::Vec3b>(150, 50), jet_of_zero);    // no pallet box
        cv::Mat white;
        cv::inRange(view, cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), white);
        EXPECT_EQ(cv::countNonZero(white), 0);
    }
}

TEST(DrawResultView, BoxesAndTextsWithPallet)
{
    FrameAnalysis analysis = pallet({0, 0, 0});
    // Three boxes, one rotated; every one of their twelve sides must be drawn, the closing
    // side from corner 3 to corner 0 included.
    analysis.pose.boxes = {
        {cv::Point2f(50, 100), cv::Point2f(150, 100), cv::Point2f(150, 200), cv::Point2f(50, 200)},
        {cv::Point2f(300, 150), cv::Point2f(350, 100), cv::Point2f(400, 150),
         cv::Point2f(350, 200)},
        {cv::Point2f(450, 250), cv::Point2f(600, 250), cv::Point2f(600, 350),
         cv::Point2f(450, 350)},
    };
    const cv::Mat view = draw_result_view(uniform_view(0), analysis);
    for (const BoxCorners& box : analysis.pose.boxes) {
        for (int k = 0; k < 4; ++k) {
            const cv::Point2f mid = (box[k] + box[(k + 1) % 4]) * 0.5F;
            EXPECT_TRUE(is_white(view, static_cast<int>(mid.x), static_cast<int>(mid.y)))
                << "side " << k << " at " << mid;
        }
        const cv::Point2f centre = (box[0] + box[2]) * 0.5F;
        EXPECT_FALSE(is_white(view, static_cast<int>(centre.x), static_cast<int>(centre.y)));
    }
    // The texts: white on the rows of the two baselines, nothing below them on the left.
    cv::Mat white;
    cv::inRange(view, cv::Scalar(255, 255, 255), cv::Scalar(255, 255, 255), white);
    EXPECT_GT(cv::countNonZero(white(cv::Rect(0, 0, 300, 22))), 100);
    EXPECT_GT(cv::countNonZero(white(cv::Rect(0, 25, 300, 20))), 100);
    EXPECT_EQ(cv::countNonZero(white(cv::Rect(0, 50, 40, 40))), 0);

    // A different angle changes the drawn angle text.
    FrameAnalysis turned = analysis;
    turned.pose.angles.yaw_deg = 45.0;
    cv::Mat diff;
    cv::absdiff(draw_result_view(uniform_view(0), turned), view, diff);
    EXPECT_GT(cv::countNonZero(diff.reshape(1)(cv::Rect(0, 25, 900, 20))), 0);
    EXPECT_EQ(cv::countNonZero(diff.reshape(1)(cv::Rect(0, 0, 1920, 22))), 0);
}

TEST(DrawResultView, CornersRoundedHalfToEven)
{
    EXPECT_EQ(rounded_corner({10.6F, 20.4F}), cv::Point(11, 20));
    EXPECT_EQ(rounded_corner({10.5F, 11.5F}), cv::Point(10, 12));
    EXPECT_EQ(rounded_corner({-0.5F, -1.5F}), cv::Point(0, -2));

    // A box drawn at .5 coordinates is the box at the even neighbours, not the one above.
    const auto drawn = [](float x0, float y0, float x1, float y1) {
        FrameAnalysis analysis = pallet({0, 0, 0});
        analysis.pose.boxes = {{cv::Point2f(x0, y0), cv::Point2f(x1, y0), cv::Point2f(x1, y1),
                                cv::Point2f(x0, y1)}};
        return draw_result_view(uniform_view(0), analysis);
    };
    const cv::Mat half = drawn(100.5F, 200.5F, 301.5F, 300.5F);
    EXPECT_EQ(cv::norm(half, drawn(100, 200, 302, 300), cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(half, drawn(101, 201, 302, 301), cv::NORM_INF), 0.0);
}
