#include "analysis/glyph_text.hpp"

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/frame_analysis.hpp"
#include "analysis/result_report.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

struct TextCase {
    int type;
    cv::Size size;
    std::string text;
    cv::Point origin;
    int font_face;
    double font_scale;
    cv::Scalar colour;
    int thickness;
    int line_type;
    bool bottom_left_origin;
};

std::string describe(const TextCase& c)
{
    std::ostringstream out;
    out << "type " << c.type << " size " << c.size << " text \"" << c.text << "\" origin "
        << c.origin << " face " << c.font_face << " scale " << c.font_scale << " colour "
        << c.colour << " thickness " << c.thickness << " line " << c.line_type << " bottom-left "
        << c.bottom_left_origin;
    return out.str();
}

// Noise, so that a pixel written where putText writes none shows.
cv::Mat background(const TextCase& c, std::uint64_t seed)
{
    cv::Mat image(c.size, c.type);
    cv::RNG rng(seed);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    return image;
}

cv::Mat literal(const TextCase& c, const cv::Mat& start)
{
    cv::Mat image = start.clone();
    cv::putText(image, c.text, c.origin, c.font_face, c.font_scale, c.colour, c.thickness,
                c.line_type, c.bottom_left_origin);
    return image;
}

cv::Mat cached(const TextCase& c, const cv::Mat& start)
{
    cv::Mat image = start.clone();
    put_text_cached(image, c.text, c.origin, c.font_face, c.font_scale, c.colour, c.thickness,
                    c.line_type, c.bottom_left_origin);
    return image;
}

bool same_pixels(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

// Draws the case cold or warm, then again (now surely warm); both must equal putText.
void expect_matches_put_text(const TextCase& c, std::uint64_t seed)
{
    const cv::Mat start = background(c, seed);
    const cv::Mat expected = literal(c, start);
    EXPECT_TRUE(same_pixels(cached(c, start), expected)) << describe(c);
    EXPECT_TRUE(same_pixels(cached(c, start), expected)) << "warm: " << describe(c);
}

std::string random_text(std::mt19937& rng, int max_length)
{
    std::uniform_int_distribution<int> length(1, max_length);
    std::uniform_int_distribution<int> printable(' ', '~');
    std::string text(static_cast<std::size_t>(length(rng)), ' ');
    for (char& c : text) c = static_cast<char>(printable(rng));
    return text;
}

// Origins inside, near and beyond every border, negative ones included.
cv::Point random_origin(std::mt19937& rng, cv::Size size)
{
    std::uniform_int_distribution<int> u(-120, size.width + 60);
    std::uniform_int_distribution<int> v(-40, size.height + 40);
    return {u(rng), v(rng)};
}

TextCase result_view_case(const std::string& text, cv::Point origin)
{
    return {CV_8UC3, cv::Size(640, 480), text, origin, cv::FONT_HERSHEY_SIMPLEX, 0.6,
            cv::Scalar(255, 255, 255), 2, cv::LINE_8, false};
}

TEST(GlyphText, TextSizeAtScaleOneGivesEachGlyphsAdvance)
{
    // Scale 1 moves the next glyph by whole pixels: drawing "c|" must be "c" and "|" drawn W
    // pixels further, W from getTextSize(c, face, 1.0, 0).
    for (int face = cv::FONT_HERSHEY_SIMPLEX; face <= cv::FONT_HERSHEY_SCRIPT_COMPLEX; ++face) {
        for (char c = ' '; c <= '~'; ++c) {
            int base_line = 0;
            const int width = cv::getTextSize(std::string(1, c), face, 1.0, 0, &base_line).width;
            const cv::Point origin(60, 80);
            cv::Mat together = cv::Mat::zeros(120, 200, CV_8UC1);
            cv::putText(together, std::string(1, c) + "|", origin, face, 1.0, 255, 1, cv::LINE_8);
            cv::Mat apart = cv::Mat::zeros(120, 200, CV_8UC1);
            cv::putText(apart, std::string(1, c), origin, face, 1.0, 255, 1, cv::LINE_8);
            cv::putText(apart, "|", origin + cv::Point(width, 0), face, 1.0, 255, 1, cv::LINE_8);
            EXPECT_TRUE(same_pixels(together, apart)) << "face " << face << " char " << c;
        }
        cv::Mat space = cv::Mat::zeros(120, 200, CV_8UC1);
        cv::putText(space, " ", cv::Point(60, 80), face, 3.0, 255, 3, cv::LINE_8);
        EXPECT_EQ(cv::countNonZero(space), 0) << "the space glyph has strokes in face " << face;
    }
}

TEST(GlyphText, ResultViewTextsMatchPutText)
{
    FrameAnalysis analysis;
    analysis.pose.centre_point = {-123.456789, 98.0001, 1250.5};
    analysis.pose.angles = {-12.3456789, 0.000001, 179.999};
    expect_matches_put_text(result_view_case(position_text(analysis.pose.centre_point), {0, 20}),
                            1);
    expect_matches_put_text(result_view_case(angle_text(analysis.pose.angles), {0, 40}), 2);

    std::mt19937 rng(20240611);
    for (int n = 0; n < 200; ++n) {
        const TextCase c = result_view_case(random_text(rng, 60), random_origin(rng, {640, 480}));
        expect_matches_put_text(c, static_cast<std::uint64_t>(n));
    }
}

TEST(GlyphText, GlyphsAlongEachBorderMatchPutTextAtEveryPlace)
{
    // Clipped glyphs are cached per place and image size: walk one text along and across all
    // four borders of three image sizes, so that places differing only in u, only in v or only in
    // the image's width or height follow each other, each drawn twice.
    std::vector<cv::Point> origins;
    for (int step = -14; step <= 14; ++step) {
        origins.push_back({-4, 32 + 3 * step});   // left border, v varies
        origins.push_back({78, 32 + 3 * step});   // right border of every size
        origins.push_back({40 + 3 * step, 6});    // top border, u varies
        origins.push_back({40 + 3 * step, 66});   // bottom border of every size
    }
    for (const int type : {CV_8UC1, CV_8UC3}) {
        for (std::size_t k = 0; k < origins.size(); ++k) {
            for (const cv::Size size : {cv::Size(96, 64), cv::Size(100, 64), cv::Size(96, 68)}) {
                TextCase c = result_view_case("Wg|", origins[k]);
                c.type = type;
                c.size = size;
                c.thickness = 1 + static_cast<int>(k % 2);
                expect_matches_put_text(c, k);
            }
        }
    }
}

TEST(GlyphText, RandomStylesAndOriginsMatchPutText)
{
    const int faces[] = {cv::FONT_HERSHEY_SIMPLEX,        cv::FONT_HERSHEY_PLAIN,
                         cv::FONT_HERSHEY_DUPLEX,         cv::FONT_HERSHEY_COMPLEX,
                         cv::FONT_HERSHEY_TRIPLEX,        cv::FONT_HERSHEY_COMPLEX_SMALL,
                         cv::FONT_HERSHEY_SCRIPT_SIMPLEX, cv::FONT_HERSHEY_SCRIPT_COMPLEX,
                         cv::FONT_HERSHEY_SIMPLEX | cv::FONT_ITALIC};
    // 0.7 and 0.3 give an odd 16-bit scale, 1.0 and 2.0 whole pixels per font unit.
    const double scales[] = {0.3, 0.45, 0.6, 0.7, 1.0, 1.37, 2.0};
    const cv::Size sizes[] = {{160, 90}, {640, 480}, {37, 23}};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, 1 << 20);
    std::uniform_real_distribution<double> channel(-20.0, 280.0);  // saturates at both ends
    for (int n = 0; n < 900; ++n) {
        TextCase c;
        c.type = pick(rng) % 2 == 0 ? CV_8UC1 : CV_8UC3;
        c.size = sizes[pick(rng) % 3];
        c.text = random_text(rng, 12);
        c.origin = random_origin(rng, c.size);
        c.font_face = faces[pick(rng) % 9];
        c.font_scale = scales[pick(rng) % 7];
        c.colour = cv::Scalar(channel(rng), channel(rng), channel(rng));
        c.thickness = 1 + pick(rng) % 3;
        c.line_type = pick(rng) % 2 == 0 ? cv::LINE_4 : cv::LINE_8;
        c.bottom_left_origin = pick(rng) % 2 == 0;
        expect_matches_put_text(c, static_cast<std::uint64_t>(n));
    }
}

TEST(GlyphText, CasesLeftToPutTextMatchIt)
{
    const std::string text = "pitch:-0.5 roll:3.25";
    std::vector<TextCase> cases;
    TextCase c = result_view_case(text, {10, 30});
    c.line_type = cv::LINE_AA;
    cases.push_back(c);
    for (const std::string& odd : {std::string("\xC3\xA9t\xC3\xA9 10\xC2\xB0"),
                                   std::string("tab\there"), std::string("\xFF\x80 bytes"),
                                   std::string()}) {
        cases.push_back(result_view_case(odd, {10, 30}));
    }
    for (const int type : {CV_8UC4, CV_8UC2, CV_16UC3, CV_32FC1}) {
        c = result_view_case(text, {10, 30});
        c.type = type;
        cases.push_back(c);
    }
    c = result_view_case(text, {10, 300});
    c.font_scale = 9.0;  // glyphs too big to cache
    c.thickness = 5;
    cases.push_back(c);
    c = result_view_case(text, {10, 30});
    c.thickness = 40;
    cases.push_back(c);
    // The first glyphs lie beyond the rasteriser's 32-bit fixed point; the last ones show.
    c = result_view_case(std::string(2600, 'W'), {-32700, 30});
    const cv::Mat blank = cv::Mat::zeros(480, 640, CV_8UC3);
    EXPECT_GT(cv::norm(literal(c, blank), cv::NORM_L1), 0.0);
    cases.push_back(c);
    for (std::size_t k = 0; k < cases.size(); ++k) expect_matches_put_text(cases[k], k);
}

TEST(GlyphText, OverlayWithCachedTextMatchesLiteralOverlay)
{
    const FrameAnalysis rendered = analyse_depth(sim::render(sim::pallet_scene(1250.0), 3).depth);
    ASSERT_EQ(rendered.outcome, PalletOutcome::pallet_found);
    FrameAnalysis by_hand = rendered;
    by_hand.pose.centre_point = {-1.5, 0.000049, -98765.4321};
    by_hand.pose.angles = {-0.0, 90.0, -179.5};
    for (const FrameAnalysis& analysis : {rendered, by_hand}) {
        cv::Mat view(480, 640, CV_8UC3);
        cv::randu(view, 0, 256);
        cv::Mat with_literal = view.clone();
        cv::Mat with_cached = view.clone();
        draw_result_overlay(with_literal, analysis);
        draw_result_overlay(with_cached, analysis, put_text_cached);
        EXPECT_TRUE(same_pixels(with_cached, with_literal));
        draw_result_overlay(with_cached, analysis, put_text_cached);  // warm, drawn over itself
        EXPECT_TRUE(same_pixels(with_cached, with_literal));
    }
}

TEST(GlyphText, EachThreadMatchesPutText)
{
    std::vector<int> mismatches(2, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([t, &mismatches] {
            std::mt19937 rng(static_cast<unsigned>(100 + t));
            for (int n = 0; n < 60; ++n) {
                const TextCase c =
                    result_view_case(random_text(rng, 40), random_origin(rng, {640, 480}));
                const cv::Mat start = background(c, static_cast<std::uint64_t>(n));
                if (!same_pixels(cached(c, start), literal(c, start))) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(2, 0));
}

}  // namespace
