#include "analysis/fast_views.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define PALLET_HAVE_AVX2_VIEWS 1
#endif

#include <opencv2/imgproc.hpp>

#include "analysis/fast_analysis.hpp"
#include "analysis/result_report.hpp"

namespace {

// The smallest and largest value of a continuous 16-bit image (0 and 0 when it is empty).
void depth_range(const std::uint16_t* values, std::size_t total, int& lo, int& hi)
{
    std::uint16_t smallest = 0xffff, largest = 0;
    for (std::size_t i = 0; i < total; ++i) {
        smallest = std::min(smallest, values[i]);
        largest = std::max(largest, values[i]);
    }
    lo = total == 0 ? 0 : smallest;
    hi = largest;
}

#ifdef PALLET_HAVE_AVX2_VIEWS
__attribute__((target("avx2"))) void depth_range_avx2(const std::uint16_t* values,
                                                      std::size_t total, int& lo, int& hi)
{
    __m256i smallest = _mm256_set1_epi16(-1), largest = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 16 <= total; i += 16) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i));
        smallest = _mm256_min_epu16(smallest, x);
        largest = _mm256_max_epu16(largest, x);
    }
    alignas(32) std::uint16_t s[16], l[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), smallest);
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), largest);
    int tail_lo = 0, tail_hi = 0;
    depth_range(values + i, total - i, tail_lo, tail_hi);
    lo = i == total ? 0xffff : tail_lo;
    hi = tail_hi;
    for (int k = 0; k < 16; ++k) {
        lo = std::min(lo, static_cast<int>(s[k]));
        hi = std::max(hi, static_cast<int>(l[k]));
    }
    if (total == 0) lo = 0;
}
#endif

// The depth view's byte for every value of the frame's range [lo, hi], as normalize and
// convertScaleAbs make it: the library itself maps the range once, padded with the largest
// value to a multiple of 64 so that its vector loops handle every element as they handle the
// frame's (640 columns).
cv::Mat grey_table(int lo, int hi)
{
    const int range = hi - lo + 1;
    cv::Mat values(1, (range + 63) / 64 * 64, CV_16UC1, cv::Scalar(hi));
    std::uint16_t* value = values.ptr<std::uint16_t>(0);
    for (int i = 0; i < range; ++i) value[i] = static_cast<std::uint16_t>(lo + i);
    cv::Mat normalized;
    cv::normalize(values, normalized, 0, 255, cv::NORM_MINMAX, -1, cv::noArray());
    cv::Mat table;
    cv::convertScaleAbs(normalized, table, 1, 0);
    return table;
}

void depth_range_of(const cv::Mat& depth, int& lo, int& hi)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.isContinuous());
#ifdef PALLET_HAVE_AVX2_VIEWS
    if (avx2_pass_available()) {
        depth_range_avx2(depth.ptr<std::uint16_t>(0), depth.total(), lo, hi);
        return;
    }
#endif
    depth_range(depth.ptr<std::uint16_t>(0), depth.total(), lo, hi);
}

// The JET colour of each grey level, made once by the library's own colour map; four bytes per
// entry (blue, green, red, 0) so that a pixel is one 32-bit store.
const std::array<std::uint32_t, 256>& jet_colours()
{
    static const std::array<std::uint32_t, 256> table = [] {
        cv::Mat grey_levels(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i) grey_levels.at<std::uint8_t>(i) = static_cast<std::uint8_t>(i);
        cv::Mat jet;
        cv::applyColorMap(grey_levels, jet, cv::COLORMAP_JET);
        std::array<std::uint32_t, 256> t{};
        for (std::size_t i = 0; i < 256; ++i) {
            const cv::Vec3b bgr = jet.at<cv::Vec3b>(static_cast<int>(i));
            t[i] = static_cast<std::uint32_t>(bgr[0]) | static_cast<std::uint32_t>(bgr[1]) << 8 |
                   static_cast<std::uint32_t>(bgr[2]) << 16;
        }
        return t;
    }();
    return table;
}

// Writes one BGR pixel per entry of `colour`, each a 32-bit store whose fourth byte the next
// pixel overwrites; the last pixel of each row is written with three bytes.
void store_bgr(std::uint8_t* bgr, std::uint32_t colour) { std::memcpy(bgr, &colour, 4); }
void store_last_bgr(std::uint8_t* bgr, std::uint32_t colour) { std::memcpy(bgr, &colour, 3); }

// One row of both views: entry[d - lo] holds the grey byte in its low 8 bits and the colour
// above. Sixteen equal depths in a row (mostly pixels without a return) are written as one run
// of a grey byte and a 48-byte colour pattern.
void views_row(const std::uint32_t* entry, int lo, const std::uint16_t* src, int cols,
               std::uint8_t* grey_row, std::uint8_t* bgr)
{
    std::uint32_t pattern_entry = 0;
    std::array<std::uint8_t, 48> pattern{};
    bool have_pattern = false;
    int u = 0;
    while (u + 1 < cols) {
        if (u + 16 <= cols) {
            std::uint64_t words[4];
            std::memcpy(words, src + u, sizeof words);
            const std::uint64_t same = std::uint64_t{src[u]} * 0x0001000100010001u;
            if (((words[0] ^ same) | (words[1] ^ same) | (words[2] ^ same) | (words[3] ^ same)) == 0) {
                const std::uint32_t e = entry[src[u] - lo];
                if (!have_pattern || e != pattern_entry) {
                    for (std::size_t k = 0; k < 48; k += 3) store_last_bgr(pattern.data() + k, e >> 8);
                    pattern_entry = e;
                    have_pattern = true;
                }
                std::memset(grey_row + u, static_cast<int>(e & 0xffu), 16);
                std::memcpy(bgr + 3 * u, pattern.data(), 48);
                u += 16;
                continue;
            }
        }
        const int group_end = std::min(u + 16, cols - 1);
        for (; u < group_end; ++u) {
            const std::uint32_t e = entry[src[u] - lo];
            grey_row[u] = static_cast<std::uint8_t>(e);
            store_bgr(bgr + 3 * u, e >> 8);
        }
    }
    if (u < cols) {  // the last pixel, without writing past the row
        const std::uint32_t e = entry[src[u] - lo];
        grey_row[u] = static_cast<std::uint8_t>(e);
        store_last_bgr(bgr + 3 * u, e >> 8);
    }
}

}  // namespace

FastViews fast_views(const cv::Mat& depth)
{
    int lo = 0, hi = 0;
    depth_range_of(depth, lo, hi);
    const cv::Mat grey = grey_table(lo, hi);
    const std::array<std::uint32_t, 256>& jet = jet_colours();
    // Grey byte in the low 8 bits, its colour above: one load per pixel for both views.
    std::vector<std::uint32_t> table(static_cast<std::size_t>(hi - lo + 1));
    const std::uint8_t* g = grey.ptr<std::uint8_t>(0);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = g[i] | jet[g[i]] << 8;

    FastViews views{cv::Mat(depth.size(), CV_8UC1), cv::Mat(depth.size(), CV_8UC3)};
    for (int v = 0; v < depth.rows; ++v) {
        const std::uint16_t* src = depth.ptr<std::uint16_t>(v);
        std::uint8_t* grey_row = views.depth_view.ptr<std::uint8_t>(v);
        std::uint8_t* bgr = views.colour_view.ptr<std::uint8_t>(v);
        views_row(table.data(), lo, src, depth.cols, grey_row, bgr);
    }
    return views;
}

cv::Mat fast_depth_view(const cv::Mat& depth)
{
    int lo = 0, hi = 0;
    depth_range_of(depth, lo, hi);
    const cv::Mat table = grey_table(lo, hi);
    const std::uint8_t* lut = table.ptr<std::uint8_t>(0) - lo;
    cv::Mat view(depth.size(), CV_8UC1);
    const std::uint16_t* src = depth.ptr<std::uint16_t>(0);
    std::uint8_t* dst = view.ptr<std::uint8_t>(0);
    const std::size_t total = depth.total();
    for (std::size_t i = 0; i < total; ++i) dst[i] = lut[src[i]];
    return view;
}

cv::Mat fast_result_view(const cv::Mat& depth_view, const FrameAnalysis& analysis)
{
    CV_Assert(depth_view.type() == CV_8UC1);
    const std::array<std::uint32_t, 256>& jet = jet_colours();
    cv::Mat result_view(depth_view.size(), CV_8UC3);
    const int cols = depth_view.cols;
    for (int v = 0; v < depth_view.rows; ++v) {
        const std::uint8_t* grey = depth_view.ptr<std::uint8_t>(v);
        std::uint8_t* bgr = result_view.ptr<std::uint8_t>(v);
        for (int u = 0; u + 1 < cols; ++u) store_bgr(bgr + 3 * u, jet[grey[u]]);
        if (cols > 0) store_last_bgr(bgr + 3 * (cols - 1), jet[grey[cols - 1]]);
    }
    return draw_result_overlay(result_view, analysis);
}

cv::Mat fast_result_view(FastViews& views, const FrameAnalysis& analysis)
{
    return draw_result_overlay(views.colour_view, analysis);
}
