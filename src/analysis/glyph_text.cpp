#include "analysis/glyph_text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <optional>
#include <unordered_map>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace {

// cv::putText hands its strokes to the rasteriser as 32-bit points with 16 fraction bits.
constexpr std::int64_t xy_one = std::int64_t{1} << 16;
constexpr std::int64_t int32_span = std::int64_t{1} << 32;
constexpr std::int64_t int32_half = std::int64_t{1} << 31;
// Rasteriser arithmetic (caps, polygon corners, rounding) adds a little to each point: stay this
// far (pixels) from the ends of the 32-bit range.
constexpr std::int64_t int32_guard = std::int64_t{1024} * xy_one;
// A Hershey point stays within this many font units of its glyph's origin, in x and in y: the
// coordinates are bytes ' '..'~' around 'R' (x minus the left bearing is within 94) and base
// lines are at most 15 units.
constexpr std::int64_t glyph_reach_units = 100;
// Pixels: a glyph this close to the border (or beyond it) may be clipped, which changes its line
// paths; its pixels are then those of its own drawing at that very place in that image size.
constexpr int border_margin = 2;
constexpr int max_keyed_side = 1 << 20;  // image sides that fit a border glyph's key
constexpr int max_thickness = 32;
constexpr int max_hscale = 8 << 16;  // font scale 8
constexpr std::int64_t max_filler_spaces = std::int64_t{1} << 18;
constexpr std::size_t max_glyphs = 4096;  // per thread; the cache starts over when full
constexpr std::size_t max_styles = 64;

struct Style {
    int font_face;
    int hscale;  // cvRound(font_scale * 65536): all that putText uses of the scale
    int thickness;
    int line_type;
    bool bottom_left_origin;
};

bool same_style(const Style& a, const Style& b)
{
    return a.font_face == b.font_face && a.hscale == b.hscale && a.thickness == b.thickness &&
           a.line_type == b.line_type && a.bottom_left_origin == b.bottom_left_origin;
}

// One run of set pixels in a row, relative to the glyph's integer origin.
struct Span {
    std::int16_t v;
    std::int16_t u;
    std::int16_t length;
};

struct Glyph {
    cv::Rect box;  // of its pixels, relative to its integer origin; empty for a strokeless glyph
    std::uint32_t first_span;
    std::uint32_t span_count;
};

// A glyph at a place near the border: character, x fraction, image size and integer origin.
struct BorderKey {
    std::uint64_t glyph_and_size;
    std::uint64_t origin;
};

bool operator==(const BorderKey& a, const BorderKey& b)
{
    return a.glyph_and_size == b.glyph_and_size && a.origin == b.origin;
}

struct BorderKeyHash {
    std::size_t operator()(const BorderKey& key) const
    {
        return std::hash<std::uint64_t>()(key.glyph_and_size * 0x9E3779B97F4A7C15ull ^ key.origin);
    }
};

struct StyleGlyphs {
    Style style;
    std::array<int, 95> widths;  // font units of ' '..'~'
    std::unordered_map<std::uint32_t, std::uint32_t> glyph_of;  // char << 16 | x fraction
    std::unordered_map<BorderKey, std::uint32_t, BorderKeyHash> border_glyph_of;
};

struct GlyphCache {
    std::vector<StyleGlyphs> styles;
    std::vector<Glyph> glyphs;
    std::vector<Span> spans;
    cv::Mat scratch;         // CV_8UC1, all zero between renders
    cv::Mat border_scratch;  // CV_8UC1 of the image's size, all zero between renders
    std::string filler;  // prefix, spaces and one glyph
};

// One call's text and how it is drawn.
struct TextRun {
    const std::string& text;
    cv::Point origin;
    double font_scale;
    const StyleGlyphs& glyphs;
};

std::int64_t floor_div(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return q * b > a ? q - 1 : q;
}

bool is_valid_face(int font_face)
{
    const int base_face = font_face & ~cv::FONT_ITALIC;
    return base_face >= cv::FONT_HERSHEY_SIMPLEX && base_face <= cv::FONT_HERSHEY_SCRIPT_COMPLEX;
}

bool all_printable_ascii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

std::int64_t width_units(const StyleGlyphs& glyphs, char c)
{
    return glyphs.widths[static_cast<std::size_t>(c - ' ')];
}

std::int64_t text_units(const StyleGlyphs& glyphs, const std::string& text)
{
    std::int64_t units = 0;
    for (const char c : text) units += width_units(glyphs, c);
    return units;
}

// Whether every stroke point of the whole text stays well inside the rasteriser's 32-bit range;
// beyond it putText's points wrap and only putText itself knows where they land.
bool fits_fixed_point(const TextRun& run)
{
    const std::int64_t reach = glyph_reach_units * run.glyphs.style.hscale;
    const std::int64_t x0 = std::int64_t{run.origin.x} * xy_one;
    const std::int64_t x1 = x0 + text_units(run.glyphs, run.text) * run.glyphs.style.hscale;
    const std::int64_t y = std::int64_t{run.origin.y} * xy_one;
    const std::int64_t low = -int32_half + int32_guard + reach;
    const std::int64_t high = int32_half - int32_guard - reach;
    return x0 >= low && x1 <= high && y >= low && y <= high;
}

StyleGlyphs make_style_glyphs(const Style& style)
{
    StyleGlyphs glyphs{style, {}, {}, {}};
    for (std::size_t k = 0; k < glyphs.widths.size(); ++k) {
        int base_line = 0;
        // Scale 1 and thickness 0: the exact advance in font units.
        glyphs.widths[k] = cv::getTextSize(std::string(1, static_cast<char>(' ' + k)),
                                           style.font_face, 1.0, 0, &base_line).width;
    }
    return glyphs;
}

StyleGlyphs& glyphs_of_style(GlyphCache& cache, const Style& style)
{
    for (StyleGlyphs& glyphs : cache.styles) {
        if (same_style(glyphs.style, style)) return glyphs;
    }
    if (cache.styles.size() >= max_styles) {
        cache.styles.clear();
        cache.glyphs.clear();
        cache.spans.clear();
    }
    cache.styles.push_back(make_style_glyphs(style));
    return cache.styles.back();
}

// Keeps the cache bounded: starts over before a text that could take it past max_glyphs.
void make_room(GlyphCache& cache, std::size_t text_length)
{
    if (cache.glyphs.size() + text_length <= max_glyphs) return;
    cache.glyphs.clear();
    cache.spans.clear();
    for (StyleGlyphs& glyphs : cache.styles) {
        glyphs.glyph_of.clear();
        glyphs.border_glyph_of.clear();
    }
}

// The number k of spaces between the prefix (the text before a glyph) and the glyph such that,
// from an origin moved k * Ws * hscale / 65536 whole pixels left, the glyph keeps its exact x
// (k * Ws * hscale is a multiple of 65536) while every prefix point falls clear of the columns
// [0, width). A prefix moved past the 32-bit points' range is taken only where all of it lies a
// whole 65536 pixels further, clear of the columns whether the points wrap or saturate there.
std::optional<std::int64_t> filler_spaces(const TextRun& run, std::int64_t prefix_units,
                                          int width)
{
    const Style& style = run.glyphs.style;
    const std::int64_t space_step = width_units(run.glyphs, ' ') * style.hscale;
    if (space_step <= 0) return std::nullopt;
    const std::int64_t k_step = xy_one / std::gcd(space_step, xy_one);
    const std::int64_t reach =
        glyph_reach_units * style.hscale + (std::int64_t{style.thickness} + 4) * xy_one;
    for (std::int64_t k = k_step; k <= max_filler_spaces; k += k_step) {
        const std::int64_t start = (run.origin.x - k * space_step / xy_one) * xy_one;
        const std::int64_t low = start - reach;
        const std::int64_t high = start + prefix_units * style.hscale + reach;
        const std::int64_t wrap = floor_div(low - int32_guard + int32_half, int32_span);
        if (floor_div(high + int32_guard + int32_half, int32_span) != wrap) continue;
        const std::int64_t wrapped_low = low - wrap * int32_span;
        const std::int64_t wrapped_high = high - wrap * int32_span;
        if (wrapped_high < 0 || wrapped_low >= width * xy_one) return k;
    }
    return std::nullopt;
}

// Draws text[i] alone exactly where cv::putText draws it within the whole text, by drawing the
// prefix, k spaces (which have no strokes) and text[i] from an origin moved left so far that the
// prefix lands outside the image. False when no such k exists.
bool put_glyph_alone(cv::Mat& image, std::string& filler, const TextRun& run, std::size_t i,
                     std::int64_t prefix_units, const cv::Scalar& colour)
{
    std::int64_t spaces = 0;
    if (i > 0) {
        const std::optional<std::int64_t> k = filler_spaces(run, prefix_units, image.cols);
        if (!k) return false;
        spaces = *k;
    }
    const Style& style = run.glyphs.style;
    const std::int64_t shift = spaces * width_units(run.glyphs, ' ') * style.hscale / xy_one;
    const std::int64_t origin_x = run.origin.x - shift;
    if (origin_x < std::numeric_limits<int>::min()) return false;
    filler.assign(run.text, 0, i);
    filler.append(static_cast<std::size_t>(spaces), ' ');
    filler.push_back(run.text[i]);
    cv::putText(image, filler, cv::Point(static_cast<int>(origin_x), run.origin.y),
                style.font_face, run.font_scale, colour, style.thickness, style.line_type,
                style.bottom_left_origin);
    return true;
}

// Pixels from a glyph's integer origin within which its strokes surely stay.
int glyph_pad(const Style& style)
{
    return static_cast<int>(glyph_reach_units * style.hscale / xy_one) + style.thickness + 8;
}

void ensure_scratch(cv::Mat& scratch, int side)
{
    if (scratch.rows < side || scratch.cols < side) scratch = cv::Mat::zeros(side, side, CV_8UC1);
}

// The spans of the scratch's set pixels inside box, relative to origin, appended to spans.
void collect_spans(const cv::Mat& scratch, const cv::Rect& box, cv::Point origin,
                   std::vector<Span>& spans)
{
    for (int v = box.y; v < box.y + box.height; ++v) {
        const std::uint8_t* row = scratch.ptr<std::uint8_t>(v);
        int u = box.x;
        const int end = box.x + box.width;
        while (u < end) {
            if (row[u] == 0) {
                ++u;
                continue;
            }
            const int first = u;
            while (u < end && row[u] != 0) ++u;
            spans.push_back({static_cast<std::int16_t>(v - origin.y),
                             static_cast<std::int16_t>(first - origin.x),
                             static_cast<std::int16_t>(u - first)});
        }
    }
}

// Renders text[i] at its x fraction into the scratch and caches its spans; the glyph's index,
// or nothing when the render came near the scratch's border (it is then never cached).
std::optional<std::uint32_t> render_glyph(GlyphCache& cache, const TextRun& run, std::size_t i,
                                          std::int64_t prefix_units)
{
    const Style& style = run.glyphs.style;
    const int pad = glyph_pad(style);
    const int side = 2 * pad + 1;
    ensure_scratch(cache.scratch, side);
    cv::Mat scratch = cache.scratch(cv::Rect(0, 0, side, side));
    // The glyph's integer origin goes to (pad, pad); its fraction comes from the prefix.
    const std::int64_t prefix_fixed = prefix_units * style.hscale;
    const std::int64_t origin_x = pad - floor_div(prefix_fixed, xy_one);
    if (origin_x > std::numeric_limits<int>::max()) return std::nullopt;
    const TextRun at_pad{run.text, cv::Point(static_cast<int>(origin_x), pad), run.font_scale,
                         run.glyphs};
    if (!put_glyph_alone(scratch, cache.filler, at_pad, i, prefix_units, cv::Scalar::all(255))) {
        scratch.setTo(0);
        return std::nullopt;
    }
    const cv::Rect box = cv::boundingRect(scratch);
    const cv::Rect safe(border_margin, border_margin, side - 2 * border_margin,
                        side - 2 * border_margin);
    if (!box.empty() && (box & safe) != box) {
        scratch.setTo(0);
        return std::nullopt;
    }
    Glyph glyph{box - cv::Point(pad, pad), static_cast<std::uint32_t>(cache.spans.size()), 0};
    collect_spans(scratch, box, cv::Point(pad, pad), cache.spans);
    glyph.span_count = static_cast<std::uint32_t>(cache.spans.size()) - glyph.first_span;
    scratch(box).setTo(0);
    cache.glyphs.push_back(glyph);
    return static_cast<std::uint32_t>(cache.glyphs.size() - 1);
}

// Draws text[i] alone at its place in a zero image of the image's size and caches the spans it
// sets, relative to its integer origin `at`; the glyph's index, or nothing when it cannot be
// drawn alone. Strokes reach no further than pad pixels from `at`.
std::optional<std::uint32_t> render_border_glyph(GlyphCache& cache, const TextRun& run,
                                                 std::size_t i, std::int64_t prefix_units,
                                                 cv::Size size, cv::Point at)
{
    if (cache.border_scratch.size() != size) cache.border_scratch = cv::Mat::zeros(size, CV_8UC1);
    cv::Mat& scratch = cache.border_scratch;
    if (!put_glyph_alone(scratch, cache.filler, run, i, prefix_units, cv::Scalar::all(255))) {
        scratch.setTo(0);
        return std::nullopt;
    }
    const int pad = glyph_pad(run.glyphs.style);
    const cv::Rect reach =
        cv::Rect(at.x - pad, at.y - pad, 2 * pad + 1, 2 * pad + 1) & cv::Rect(cv::Point(), size);
    Glyph glyph{cv::Rect(), static_cast<std::uint32_t>(cache.spans.size()), 0};
    if (!reach.empty()) {
        glyph.box = cv::boundingRect(scratch(reach)) + reach.tl();
        collect_spans(scratch, glyph.box, at, cache.spans);
        scratch(glyph.box).setTo(0);
        glyph.box -= at;
    }
    glyph.span_count = static_cast<std::uint32_t>(cache.spans.size()) - glyph.first_span;
    cache.glyphs.push_back(glyph);
    return static_cast<std::uint32_t>(cache.glyphs.size() - 1);
}

void stamp_glyph(cv::Mat& image, const Glyph& glyph, const Span* spans, cv::Point at,
                 const std::array<std::uint8_t, 3>& colour)
{
    const Span* first = spans + glyph.first_span;
    const Span* end = first + glyph.span_count;
    if (image.channels() == 1) {
        for (const Span* span = first; span != end; ++span) {
            std::memset(image.ptr<std::uint8_t>(at.y + span->v) + at.x + span->u, colour[0],
                        static_cast<std::size_t>(span->length));
        }
        return;
    }
    // Locals: stores through the row pointer could otherwise alias the colour.
    const std::uint8_t blue = colour[0];
    const std::uint8_t green = colour[1];
    const std::uint8_t red = colour[2];
    for (const Span* span = first; span != end; ++span) {
        std::uint8_t* pixel = image.ptr<std::uint8_t>(at.y + span->v) + (at.x + span->u) * 3;
        std::uint8_t* const row_end = pixel + span->length * 3;
        for (; pixel != row_end; pixel += 3) {
            pixel[0] = blue;
            pixel[1] = green;
            pixel[2] = red;
        }
    }
}

bool inside_with_margin(const cv::Rect& box, const cv::Mat& image)
{
    return box.x >= border_margin && box.y >= border_margin &&
           box.x + box.width <= image.cols - border_margin &&
           box.y + box.height <= image.rows - border_margin;
}

// The glyph text[i] as drawn at `at` in an image of this size, from the cache or rendered now.
std::optional<std::uint32_t> border_glyph(GlyphCache& cache, StyleGlyphs& glyphs,
                                          const TextRun& run, std::size_t i,
                                          std::int64_t prefix_units, cv::Size size, cv::Point at)
{
    if (size.width >= max_keyed_side || size.height >= max_keyed_side) return std::nullopt;
    const std::int64_t x = std::int64_t{run.origin.x} * xy_one + prefix_units * glyphs.style.hscale;
    const auto fraction = static_cast<std::uint64_t>(x - floor_div(x, xy_one) * xy_one);
    const BorderKey key{static_cast<std::uint64_t>(run.text[i] - ' ') | fraction << 7 |
                            static_cast<std::uint64_t>(size.width) << 23 |
                            static_cast<std::uint64_t>(size.height) << 43,
                        static_cast<std::uint64_t>(static_cast<std::uint32_t>(at.x)) << 32 |
                            static_cast<std::uint32_t>(at.y)};
    const auto found = glyphs.border_glyph_of.find(key);
    if (found != glyphs.border_glyph_of.end()) return found->second;
    const std::optional<std::uint32_t> rendered =
        render_border_glyph(cache, run, i, prefix_units, size, at);
    if (rendered) glyphs.border_glyph_of.emplace(key, *rendered);
    return rendered;
}

// Draws every glyph of the run from the cache; false where some glyph could not be drawn alone
// (the caller then draws the whole text with cv::putText: setting pixels twice is harmless).
bool draw_cached(cv::Mat& image, GlyphCache& cache, StyleGlyphs& glyphs, const TextRun& run,
                 const cv::Scalar& colour)
{
    const std::array<std::uint8_t, 3> raw{cv::saturate_cast<std::uint8_t>(colour[0]),
                                          cv::saturate_cast<std::uint8_t>(colour[1]),
                                          cv::saturate_cast<std::uint8_t>(colour[2])};
    const std::int64_t hscale = glyphs.style.hscale;
    std::int64_t prefix_units = 0;
    for (std::size_t i = 0; i < run.text.size(); ++i) {
        const std::int64_t x = std::int64_t{run.origin.x} * xy_one + prefix_units * hscale;
        const std::int64_t whole = floor_div(x, xy_one);
        const auto fraction = static_cast<std::uint32_t>(x - whole * xy_one);
        const auto key = static_cast<std::uint32_t>(run.text[i] - ' ') << 16 | fraction;
        auto found = glyphs.glyph_of.find(key);
        if (found == glyphs.glyph_of.end()) {
            const std::optional<std::uint32_t> rendered = render_glyph(cache, run, i, prefix_units);
            if (!rendered) return false;
            found = glyphs.glyph_of.emplace(key, *rendered).first;
        }
        const cv::Point at(static_cast<int>(whole), run.origin.y);
        std::uint32_t index = found->second;
        if (!cache.glyphs[index].box.empty() &&
            !inside_with_margin(cache.glyphs[index].box + at, image)) {
            const std::optional<std::uint32_t> border =
                border_glyph(cache, glyphs, run, i, prefix_units, image.size(), at);
            if (!border) return false;
            index = *border;
        }
        stamp_glyph(image, cache.glyphs[index], cache.spans.data(), at, raw);
        prefix_units += width_units(glyphs, run.text[i]);
    }
    return true;
}

}  // namespace

void put_text_cached(cv::Mat& image, const std::string& text, cv::Point origin, int font_face,
                     double font_scale, const cv::Scalar& colour, int thickness, int line_type,
                     bool bottom_left_origin)
{
    const int hscale = cvRound(font_scale * static_cast<double>(xy_one));
    const bool cacheable = !text.empty() && (image.type() == CV_8UC1 || image.type() == CV_8UC3) &&
                           (line_type == cv::LINE_4 || line_type == cv::LINE_8) &&
                           thickness >= 1 && thickness <= max_thickness && hscale > 0 &&
                           hscale <= max_hscale && is_valid_face(font_face) &&
                           all_printable_ascii(text);
    if (cacheable) {
        thread_local GlyphCache cache;
        StyleGlyphs& glyphs = glyphs_of_style(
            cache, Style{font_face, hscale, thickness, line_type, bottom_left_origin});
        const TextRun run{text, origin, font_scale, glyphs};
        if (fits_fixed_point(run)) {
            make_room(cache, text.size());
            if (draw_cached(image, cache, glyphs, run, colour)) return;
        }
    }
    cv::putText(image, text, origin, font_face, font_scale, colour, thickness, line_type,
                bottom_left_origin);
}
