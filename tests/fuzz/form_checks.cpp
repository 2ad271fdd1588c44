#include "form_checks.hpp"

#include <cstdlib>
#include <sstream>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/fast_analysis.hpp"
#include "analysis/fast_views.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/ground_alignment.hpp"
#include "analysis/range_masks.hpp"
#include "analysis/result_report.hpp"

namespace {

// Every call of the fast form's interface is here, so that a change of that interface is met in
// this one place. One workspace serves every input, as the program keeps one for every frame.
struct FastForm {
    BandMask band;
    std::vector<Contour> contours;
    FrameAnalysis analysis;
    cv::Mat depth_view;
    cv::Mat result_view;  // the overlay drawn on the fast colour view
};

FastForm run_fast_form(const cv::Mat& depth)
{
    static AnalysisWorkspace workspace;
    FastForm fast;
    make_combined_band_mask_fast(depth, ground_frame_of(depth, workspace.ground_points),
                                 workspace.band);
    fast.band = {workspace.band.mask.clone(), workspace.band.bounds};
    fast.contours = find_candidate_contours_fast(workspace.band);
    fast.analysis = analyse_depth(depth, workspace);
    DepthViews& views = make_depth_views_fast(depth, workspace.views);
    fast.depth_view = views.depth_view.clone();
    fast.result_view = draw_result_overlay(views.colour_view, fast.analysis).clone();
    return fast;
}

bool same_image(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() &&
           (a.empty() || cv::norm(a.reshape(1), b.reshape(1), cv::NORM_INF) == 0.0);
}

cv::Rect bounds_of(const cv::Mat& mask)
{
    std::vector<cv::Point> pixels;
    cv::findNonZero(mask, pixels);
    return pixels.empty() ? cv::Rect() : cv::boundingRect(pixels);
}

std::string report_of(const FrameAnalysis& analysis, TextEncoding encoding)
{
    std::ostringstream out;
    write_report(out, analysis, encoding);
    return out.str();
}

// Whether text is one number as the report's streams print it (digits, sign, point, exponent,
// or nan / inf): the whole of it must be read.
bool is_number(const std::string& text)
{
    if (text.empty()) return false;
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// Splits text at every separator (any of seps); empty pieces are dropped.
std::vector<std::string> pieces(const std::string& text, const std::string& seps)
{
    std::vector<std::string> out;
    std::string piece;
    for (const char c : text) {
        if (seps.find(c) != std::string::npos) {
            if (!piece.empty()) out.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) out.push_back(piece);
    return out;
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A line "<prefix>n1<sep>n2...<suffix>" with `count` numbers.
bool numbers_line(const std::string& line, const std::string& prefix, const std::string& suffix,
                  std::size_t count, const std::string& seps)
{
    if (!starts_with(line, prefix) || !ends_with(line, suffix) ||
        line.size() < prefix.size() + suffix.size())
        return false;
    const std::vector<std::string> numbers =
        pieces(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()), seps);
    if (numbers.size() != count) return false;
    for (const std::string& n : numbers)
        if (!is_number(n)) return false;
    return true;
}

}  // namespace

std::string report_fault(const std::string& report)
{
    if (report.empty() || report.back() != '\n') return "the report does not end with a line end";
    if (report == "未发现轮廓;\n" || report == "未发现托盘轮廓；\n") return {};
    const std::vector<std::string> lines = pieces(report, "\n");
    if (lines.size() != 13 || report.find("\n\n") != std::string::npos)
        return "a pose report of " + std::to_string(lines.size()) + " lines, not 13";
    struct Shape {
        const char* prefix;
        const char* suffix;
        std::size_t numbers;
    };
    static const Shape shapes[13] = {
        {"TT:", "", 0},          {"[", ";", 1},           {" ", ";", 1},  {" ", "]", 1},
        {"TR: ", "", 0},         {"[", ";", 3},           {" ", ";", 3},  {" ", "]", 3},
        {"绕 Z 轴的旋转角度（yaw）:", "", 1},
        {"绕 Y 轴的旋转角度（pitch）：", "", 1},
        {"绕 X 轴的旋转角度（roll）:", "", 1},
        {"Euler angles (radians): ", "", 3},
        {"Euler angles (degrees): ", "", 3},
    };
    for (std::size_t k = 0; k < 13; ++k) {
        const bool bare = shapes[k].numbers == 0;
        if (bare ? lines[k] != shapes[k].prefix
                 : !numbers_line(lines[k], shapes[k].prefix, shapes[k].suffix, shapes[k].numbers,
                                 ", "))
            return "pose report line " + std::to_string(k + 1) + " is malformed: " + lines[k];
    }
    return {};
}

std::string compare_analysis_forms(const cv::Mat& depth)
{
    // The literal form's lists and images are kept from input to input too: one workspace for
    // the stage calls, whose mask is read to the end, another for the whole recipe.
    static LiteralWorkspace stages, recipe;
    const cv::Mat& literal_mask =
        make_combined_band_mask(align_to_ground(depth, stages.alignment), stages.bands);
    const std::vector<Contour> literal_contours = find_candidate_contours(literal_mask, stages.contours);
    const FrameAnalysis literal = analyse_depth_literal(depth, recipe);
    const cv::Mat literal_view = make_depth_view(depth);
    const cv::Mat literal_result = draw_result_view(literal_view, literal);
    const FastForm fast = run_fast_form(depth);

    if (!same_image(fast.band.mask, literal_mask)) return "combined band masks differ";
    if (fast.band.bounds != bounds_of(literal_mask)) return "band mask bounds differ";
    if (fast.contours != literal_contours) return "candidate contours differ";
    const FrameAnalysis& f = fast.analysis;
    if (f.outcome != literal.outcome)
        return std::string("outcomes differ: literal ") + outcome_name(literal.outcome) +
               ", fast " + outcome_name(f.outcome);
    if (f.probe_depth != literal.probe_depth) return "probe depths differ";
    if (f.pose.face_contour != literal.pose.face_contour) return "face contours differ";
    if (f.pose.bounding_rect != literal.pose.bounding_rect) return "bounding rectangles differ";
    if (f.pose.boxes != literal.pose.boxes) return "boxes differ";
    if (f.pose.face_point_count != literal.pose.face_point_count) return "face point counts differ";
    const std::string literal_report = report_of(literal, TextEncoding::utf8);
    if (report_of(f, TextEncoding::utf8) != literal_report) return "UTF-8 reports differ";
    if (report_of(f, TextEncoding::gbk) != report_of(literal, TextEncoding::gbk))
        return "GBK reports differ";
    if (const std::string fault = report_fault(literal_report); !fault.empty()) return fault;
    if (!same_image(fast.depth_view, literal_view)) return "depth views differ";
    if (!same_image(fast.result_view, literal_result)) return "result views differ";
    return {};
}
