#include "analysis/fast_views.hpp"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define PALLET_HAVE_SIMD_VIEWS 1
#define PALLET_AVX2 __attribute__((target("avx2,fma")))
#define PALLET_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw,avx512vbmi")))
#endif

#include <opencv2/imgproc.hpp>

#include "analysis/glyph_text.hpp"
#include "analysis/result_report.hpp"

namespace {

bool avx2_supported()
{
#ifdef PALLET_HAVE_SIMD_VIEWS
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
#else
    return false;
#endif
}

bool avx512_supported()
{
#ifdef PALLET_HAVE_SIMD_VIEWS
    static const bool supported = avx2_supported() && __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vbmi");
    return supported;
#else
    return false;
#endif
}

ViewPass chosen_pass(ViewPass pass)
{
    if (pass == ViewPass::automatic) {
        return avx512_supported() ? ViewPass::avx512
               : avx2_supported() ? ViewPass::avx2
                                  : ViewPass::portable;
    }
    CV_Assert(view_pass_available(pass));
    return pass;
}

// The smallest and largest value of a continuous 16-bit image (0 and 0 when it is empty). The
// values are compared as signed (top bit flipped): baseline x86-64 has signed 16-bit vector
// minimum and maximum only, and the compiler vectorises this form.
void depth_range(const std::uint16_t* values, std::size_t total, int& lo, int& hi)
{
    std::int16_t smallest = INT16_MAX, largest = INT16_MIN;
    for (std::size_t i = 0; i < total; ++i) {
        const auto x = static_cast<std::int16_t>(values[i] ^ 0x8000u);
        smallest = std::min(smallest, x);
        largest = std::max(largest, x);
    }
    lo = total == 0 ? 0 : (smallest ^ 0x8000) & 0xffff;
    hi = (largest ^ 0x8000) & 0xffff;
}

#ifdef PALLET_HAVE_SIMD_VIEWS
// Four independent minimum and maximum chains: one chain would wait on the latency of each step.
PALLET_AVX2 void depth_range_avx2(const std::uint16_t* values, std::size_t total, int& lo, int& hi)
{
    __m256i smallest[4], largest[4];
    for (int k = 0; k < 4; ++k) {
        smallest[k] = _mm256_set1_epi16(-1);
        largest[k] = _mm256_setzero_si256();
    }
    std::size_t i = 0;
    for (; i + 64 <= total; i += 64) {
        for (int k = 0; k < 4; ++k) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + i + 16 * k));
            smallest[k] = _mm256_min_epu16(smallest[k], x);
            largest[k] = _mm256_max_epu16(largest[k], x);
        }
    }
    for (int k = 1; k < 4; ++k) {
        smallest[0] = _mm256_min_epu16(smallest[0], smallest[k]);
        largest[0] = _mm256_max_epu16(largest[0], largest[k]);
    }
    alignas(32) std::uint16_t s[16], l[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), smallest[0]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), largest[0]);
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

PALLET_AVX512 void depth_range_avx512(const std::uint16_t* values, std::size_t total, int& lo, int& hi)
{
    __m512i smallest[4], largest[4];
    for (int k = 0; k < 4; ++k) {
        smallest[k] = _mm512_set1_epi16(-1);
        largest[k] = _mm512_setzero_si512();
    }
    std::size_t i = 0;
    for (; i + 128 <= total; i += 128) {
        for (int k = 0; k < 4; ++k) {
            const __m512i x = _mm512_loadu_si512(values + i + 32 * k);
            smallest[k] = _mm512_min_epu16(smallest[k], x);
            largest[k] = _mm512_max_epu16(largest[k], x);
        }
    }
    const __m512i s = _mm512_min_epu16(_mm512_min_epu16(smallest[0], smallest[1]),
                                       _mm512_min_epu16(smallest[2], smallest[3]));
    const __m512i l = _mm512_max_epu16(_mm512_max_epu16(largest[0], largest[1]),
                                       _mm512_max_epu16(largest[2], largest[3]));
    alignas(64) std::uint16_t s16[32], l16[32];
    _mm512_store_si512(s16, s);
    _mm512_store_si512(l16, l);
    int tail_lo = 0, tail_hi = 0;
    depth_range(values + i, total - i, tail_lo, tail_hi);
    lo = i == total ? 0xffff : tail_lo;
    hi = tail_hi;
    for (int k = 0; k < 32; ++k) {
        lo = std::min(lo, static_cast<int>(s16[k]));
        hi = std::max(hi, static_cast<int>(l16[k]));
    }
    if (total == 0) lo = 0;
}
#endif

void depth_range_of(const cv::Mat& depth, ViewPass pass, int& lo, int& hi)
{
#ifdef PALLET_HAVE_SIMD_VIEWS
    if (pass == ViewPass::avx512) {
        depth_range_avx512(depth.ptr<std::uint16_t>(0), depth.total(), lo, hi);
        return;
    }
    if (pass == ViewPass::avx2) {
        depth_range_avx2(depth.ptr<std::uint16_t>(0), depth.total(), lo, hi);
        return;
    }
#endif
    (void)pass;
    depth_range(depth.ptr<std::uint16_t>(0), depth.total(), lo, hi);
}

// What one frame's views are made from. grey[d - lo] is the depth view's byte for every value of
// the frame's range [lo, hi], made by normalize and convertScaleAbs themselves on the range's
// values (padded with hi to a multiple of 64 so that the library's vector loops handle every
// element as they handle the frame's 640 columns; the padding also leaves 3 bytes to read past
// the last entry for 32-bit gathers). grey_scale and grey_shift give the same bytes as
// round(d * grey_scale + grey_shift) in float with one rounding (FMA), where that holds.
struct GreyTable {
    int lo = 0;
    int hi = 0;
    cv::Mat values;  // lo, lo + 1, ..., hi, hi, ... (CV_16UC1, one row)
    cv::Mat grey;    // CV_8UC1, one row, as wide as values
    float grey_scale = 0.0f;
    float grey_shift = 0.0f;
};

GreyTable grey_table(int lo, int hi)
{
    GreyTable t;
    t.lo = lo;
    t.hi = hi;
    const int range = hi - lo + 1;
    t.values = cv::Mat(1, (range + 3 + 63) / 64 * 64, CV_16UC1, cv::Scalar(hi));
    std::uint16_t* value = t.values.ptr<std::uint16_t>(0);
    for (int i = 0; i < range; ++i) value[i] = static_cast<std::uint16_t>(lo + i);
    cv::Mat normalized;
    cv::normalize(t.values, normalized, 0, 255, cv::NORM_MINMAX, -1, cv::noArray());
    cv::convertScaleAbs(normalized, t.grey, 1, 0);
    // The scale and shift that normalize hands to its conversion (in double, used in float).
    const double scale = hi - lo > DBL_EPSILON ? 255.0 * (1.0 / (hi - lo)) : 0.0;
    t.grey_scale = static_cast<float>(scale);
    t.grey_shift = static_cast<float>(0.0 - lo * scale);
    return t;
}

// The JET colour of each grey level, made once by the library's own colour map: four bytes per
// entry (blue, green, red, 0) so that a pixel is one 32-bit store, and one 256-byte plane per
// channel for byte-wise vector lookups.
struct JetTables {
    std::array<std::uint32_t, 256> bgr0;
    alignas(64) std::uint8_t planes[3][256];
};

const JetTables& jet_tables()
{
    static const JetTables tables = [] {
        cv::Mat grey_levels(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i) grey_levels.at<std::uint8_t>(i) = static_cast<std::uint8_t>(i);
        cv::Mat jet;
        cv::applyColorMap(grey_levels, jet, cv::COLORMAP_JET);
        JetTables t{};
        for (int i = 0; i < 256; ++i) {
            const cv::Vec3b bgr = jet.at<cv::Vec3b>(i);
            t.bgr0[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(bgr[0]) |
                                                  static_cast<std::uint32_t>(bgr[1]) << 8 |
                                                  static_cast<std::uint32_t>(bgr[2]) << 16;
            for (int c = 0; c < 3; ++c) t.planes[c][i] = bgr[c];
        }
        return t;
    }();
    return tables;
}

// Writes one BGR pixel per entry of `colour`, each a 32-bit store whose fourth byte the next
// pixel overwrites; the last pixel of the image is written with three bytes.
void store_bgr(std::uint8_t* bgr, std::uint32_t colour) { std::memcpy(bgr, &colour, 4); }
void store_last_bgr(std::uint8_t* bgr, std::uint32_t colour) { std::memcpy(bgr, &colour, 3); }

// Pixels [first, total) of the views from the grey table, one at a time (the ends of the vector
// passes; the grey row may be null).
void views_tail(const GreyTable& t, const std::uint16_t* src, std::size_t first, std::size_t total,
                std::uint8_t* grey_out, std::uint8_t* bgr)
{
    const std::uint8_t* grey = t.grey.ptr<std::uint8_t>(0) - t.lo;
    const std::array<std::uint32_t, 256>& jet = jet_tables().bgr0;
    for (std::size_t i = first; i < total; ++i) {
        const std::uint8_t g = grey[src[i]];
        if (grey_out != nullptr) grey_out[i] = g;
        if (i + 1 < total) {
            store_bgr(bgr + 3 * i, jet[g]);
        } else {
            store_last_bgr(bgr + 3 * i, jet[g]);
        }
    }
}

// The portable pass over the whole image as one row: entry[d - lo] holds the grey byte in its
// low 8 bits and the colour above. Sixteen equal depths in a row (mostly pixels without a
// return) are written as one run of a grey byte and a 48-byte colour pattern.
template <bool with_grey>
void views_portable(const GreyTable& t, const std::uint16_t* src, std::size_t total,
                    std::uint8_t* grey_out, std::uint8_t* bgr)
{
    const std::uint8_t* g = t.grey.ptr<std::uint8_t>(0);
    const std::array<std::uint32_t, 256>& jet = jet_tables().bgr0;
    std::vector<std::uint32_t> table(static_cast<std::size_t>(t.hi - t.lo + 1));
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = g[i] | jet[g[i]] << 8;
    const std::uint32_t* entry = table.data() - t.lo;

    std::uint32_t pattern_entry = 0;
    std::array<std::uint8_t, 48> pattern{};
    bool have_pattern = false;
    std::size_t i = 0;
    while (i + 16 < total) {  // the pixels before the last: 4-byte colour stores
        std::uint64_t words[4];
        std::memcpy(words, src + i, sizeof words);
        const std::uint64_t same = std::uint64_t{src[i]} * 0x0001000100010001u;
        if (((words[0] ^ same) | (words[1] ^ same) | (words[2] ^ same) | (words[3] ^ same)) == 0) {
            const std::uint32_t e = entry[src[i]];
            if (!have_pattern || e != pattern_entry) {
                for (std::size_t k = 0; k < 48; k += 3) store_last_bgr(pattern.data() + k, e >> 8);
                pattern_entry = e;
                have_pattern = true;
            }
            if (with_grey) std::memset(grey_out + i, static_cast<int>(e & 0xffu), 16);
            std::memcpy(bgr + 3 * i, pattern.data(), 48);
            i += 16;
            continue;
        }
        for (const std::size_t end = i + 16; i < end; ++i) {
            const std::uint32_t e = entry[src[i]];
            if (with_grey) grey_out[i] = static_cast<std::uint8_t>(e);
            store_bgr(bgr + 3 * i, e >> 8);
        }
    }
    views_tail(t, src, i, total, with_grey ? grey_out : nullptr, bgr);
}

#ifdef PALLET_HAVE_SIMD_VIEWS

// ---- AVX2: 32 pixels a step; grey bytes computed (or gathered), colours gathered ----

// Eight depths (as 32-bit lanes) to their grey levels (0..255, as 32-bit lanes).
template <bool computed>
PALLET_AVX2 inline __m256i grey8_avx2(__m256i d, __m256 scale, __m256 shift, __m256i lo,
                                      const std::uint8_t* grey)
{
    if (computed) {
        const __m256i g = _mm256_cvtps_epi32(_mm256_fmadd_ps(_mm256_cvtepi32_ps(d), scale, shift));
        // The grey level indexes the colour gather: it must stay inside the table.
        return _mm256_min_epi32(_mm256_max_epi32(g, _mm256_setzero_si256()), _mm256_set1_epi32(255));
    }
    const __m256i index = _mm256_sub_epi32(d, lo);
    return _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(grey), index, 1),
                            _mm256_set1_epi32(0xff));
}

// Four groups of eight 32-bit lanes (each 0..255) to 32 bytes in pixel order.
PALLET_AVX2 inline __m256i pack_grey32_avx2(__m256i q0, __m256i q1, __m256i q2, __m256i q3)
{
    const __m256i bytes = _mm256_packus_epi16(_mm256_packus_epi32(q0, q1), _mm256_packus_epi32(q2, q3));
    // Each 128-bit lane holds four 4-pixel blocks from q0..q3: put the blocks back in order.
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The colours of eight grey levels, 24 bytes in the low part of the result.
PALLET_AVX2 inline __m256i colours8_avx2(__m256i g, const std::uint32_t* jet)
{
    const __m256i bgr0 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(jet), g, 4);
    const __m256i packed = _mm256_shuffle_epi8(
        bgr0, _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                               0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

template <bool with_grey, bool computed>
PALLET_AVX2 void views_avx2(const GreyTable& t, const std::uint16_t* src, std::size_t total,
                            std::uint8_t* grey_out, std::uint8_t* bgr)
{
    const std::uint32_t* jet = jet_tables().bgr0.data();
    const std::uint8_t* grey = t.grey.ptr<std::uint8_t>(0);
    const __m256 scale = _mm256_set1_ps(t.grey_scale), shift = _mm256_set1_ps(t.grey_shift);
    const __m256i lo = _mm256_set1_epi32(t.lo);
    int run_value = -1;  // the depth of the cached run pattern
    __m256i run_grey = _mm256_setzero_si256(), run_bgr[3] = {run_grey, run_grey, run_grey};
    std::size_t i = 0;
    // Each group of 8 colours is one 32-byte store that writes 8 bytes past it, which the next
    // group overwrites: the loop stops while 3 pixels are left after it.
    for (; i + 35 <= total; i += 32) {
        const __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
        const __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i + 16));
        const __m256i first = _mm256_set1_epi16(static_cast<short>(src[i]));
        const bool run = _mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi16(d0, first),
                                                               _mm256_cmpeq_epi16(d1, first))) == -1;
        if (run && src[i] == run_value) {
            if (with_grey) _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey_out + i), run_grey);
            for (int k = 0; k < 3; ++k) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(bgr + 3 * i + 32 * k), run_bgr[k]);
            }
            continue;
        }
        __m256i q[4];
        for (int k = 0; k < 4; ++k) {
            const __m256i d =
                _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 8 * k)));
            q[k] = grey8_avx2<computed>(d, scale, shift, lo, grey);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(bgr + 3 * i + 24 * k), colours8_avx2(q[k], jet));
        }
        if (with_grey || run) {
            const __m256i g = pack_grey32_avx2(q[0], q[1], q[2], q[3]);
            if (with_grey) _mm256_storeu_si256(reinterpret_cast<__m256i*>(grey_out + i), g);
            if (run) {  // 32 equal colours are 96 bytes: read back the three exact vectors
                run_value = src[i];
                run_grey = g;
                for (int k = 0; k < 3; ++k) {
                    run_bgr[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bgr + 3 * i + 32 * k));
                }
            }
        }
    }
    views_tail(t, src, i, total, with_grey ? grey_out : nullptr, bgr);
}

// Whether grey8_avx2<true> gives the library's byte for every value of the frame's range.
PALLET_AVX2 bool computed_grey_exact_avx2(const GreyTable& t)
{
    const __m256 scale = _mm256_set1_ps(t.grey_scale), shift = _mm256_set1_ps(t.grey_shift);
    const std::uint16_t* values = t.values.ptr<std::uint16_t>(0);
    const std::uint8_t* grey = t.grey.ptr<std::uint8_t>(0);
    const __m256i none = _mm256_setzero_si256();
    for (int i = 0; i < t.values.cols; i += 8) {  // cols is a multiple of 64
        const __m256i d =
            _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i)));
        const __m256i g = grey8_avx2<true>(d, scale, shift, none, grey);
        const __m256i expected =
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(grey + i)));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(g, expected)) != -1) return false;
    }
    return true;
}

// GCC 12's AVX-512 conversion, permute and gather intrinsics start from an undefined vector, which
// -Wmaybe-uninitialized reports once they are inlined; every lane of their results is written.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// ---- AVX-512 (BW, VBMI): 64 pixels a step; colours looked up byte-wise from four 64-byte
// parts of each channel's table ----

template <bool computed>
PALLET_AVX512 inline __m512i grey16_avx512(__m512i d, __m512 scale, __m512 shift, __m512i lo,
                                           const std::uint8_t* grey)
{
    if (computed) return _mm512_cvtps_epi32(_mm512_fmadd_ps(_mm512_cvtepi32_ps(d), scale, shift));
    const __m512i index = _mm512_sub_epi32(d, lo);
    return _mm512_and_si512(_mm512_i32gather_epi32(index, grey, 1), _mm512_set1_epi32(0xff));
}

// 64 depths to their 64 grey bytes in pixel order (levels outside 0..255 saturate).
template <bool computed>
PALLET_AVX512 inline __m512i grey64_avx512(const std::uint16_t* src, __m512 scale, __m512 shift,
                                           __m512i lo, const std::uint8_t* grey)
{
    __m512i q[4];
    for (int k = 0; k < 4; ++k) {
        const __m512i d =
            _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 16 * k)));
        q[k] = grey16_avx512<computed>(d, scale, shift, lo, grey);
    }
    const __m512i bytes =
        _mm512_packus_epi16(_mm512_packus_epi32(q[0], q[1]), _mm512_packus_epi32(q[2], q[3]));
    // Each 128-bit lane holds four 4-pixel blocks from q[0..3]: put the blocks back in order.
    const __m512i order = _mm512_setr_epi32(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    return _mm512_permutexvar_epi32(order, bytes);
}

// The byte indices that interleave three 64-byte channel planes into 192 bytes of BGR: for each
// output vector, a two-plane index into (blue, green) and an index into red with its lane mask.
struct Interleave {
    alignas(64) std::uint8_t blue_green[3][64];
    alignas(64) std::uint8_t red[3][64];
    std::uint64_t red_lanes[3];
};

const Interleave& interleave()
{
    static const Interleave table = [] {
        Interleave t{};
        for (int k = 0; k < 3; ++k) {
            for (int j = 0; j < 64; ++j) {
                const int byte = 64 * k + j, pixel = byte / 3, channel = byte % 3;
                t.blue_green[k][j] = static_cast<std::uint8_t>(channel == 1 ? 64 + pixel : pixel);
                t.red[k][j] = static_cast<std::uint8_t>(pixel);
                if (channel == 2) t.red_lanes[k] |= std::uint64_t{1} << j;
            }
        }
        return t;
    }();
    return table;
}

template <bool with_grey, bool computed>
PALLET_AVX512 void views_avx512(const GreyTable& t, const std::uint16_t* src, std::size_t total,
                                std::uint8_t* grey_out, std::uint8_t* bgr)
{
    const JetTables& jet = jet_tables();
    __m512i part[3][4];
    for (int c = 0; c < 3; ++c) {
        for (int p = 0; p < 4; ++p) part[c][p] = _mm512_load_si512(jet.planes[c] + 64 * p);
    }
    const Interleave& mix = interleave();
    __m512i blue_green[3], red[3];
    for (int k = 0; k < 3; ++k) {
        blue_green[k] = _mm512_load_si512(mix.blue_green[k]);
        red[k] = _mm512_load_si512(mix.red[k]);
    }
    const std::uint8_t* grey = t.grey.ptr<std::uint8_t>(0);
    const __m512 scale = _mm512_set1_ps(t.grey_scale), shift = _mm512_set1_ps(t.grey_shift);
    const __m512i lo = _mm512_set1_epi32(t.lo);
    int run_value = -1;  // the depth of the cached run vectors
    __m512i run_grey = _mm512_setzero_si512(), run_bgr[3] = {run_grey, run_grey, run_grey};
    std::size_t i = 0;
    for (; i + 64 <= total; i += 64) {
        const __m512i first = _mm512_set1_epi16(static_cast<short>(src[i]));
        const bool run = (_mm512_cmpneq_epi16_mask(_mm512_loadu_si512(src + i), first) |
                          _mm512_cmpneq_epi16_mask(_mm512_loadu_si512(src + i + 32), first)) == 0;
        if (run && src[i] == run_value) {
            if (with_grey) _mm512_storeu_si512(grey_out + i, run_grey);
            for (int k = 0; k < 3; ++k) _mm512_storeu_si512(bgr + 3 * i + 64 * k, run_bgr[k]);
            continue;
        }
        const __m512i g = grey64_avx512<computed>(src + i, scale, shift, lo, grey);
        // Bit 6 of a level picks the part within a pair, bit 7 the pair.
        const __mmask64 upper = _mm512_movepi8_mask(g);
        __m512i plane[3];
        for (int c = 0; c < 3; ++c) {
            plane[c] = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(part[c][0], g, part[c][1]),
                                              _mm512_permutex2var_epi8(part[c][2], g, part[c][3]));
        }
        __m512i out[3];
        for (int k = 0; k < 3; ++k) {
            out[k] = _mm512_permutex2var_epi8(plane[0], blue_green[k], plane[1]);
            out[k] = _mm512_mask_permutexvar_epi8(out[k], mix.red_lanes[k], red[k], plane[2]);
            _mm512_storeu_si512(bgr + 3 * i + 64 * k, out[k]);
        }
        if (with_grey) _mm512_storeu_si512(grey_out + i, g);
        if (run) {
            run_value = src[i];
            run_grey = g;
            for (int k = 0; k < 3; ++k) run_bgr[k] = out[k];
        }
    }
    views_tail(t, src, i, total, with_grey ? grey_out : nullptr, bgr);
}

// Whether grey64_avx512<true> gives the library's byte for every value of the frame's range.
PALLET_AVX512 bool computed_grey_exact_avx512(const GreyTable& t)
{
    const __m512 scale = _mm512_set1_ps(t.grey_scale), shift = _mm512_set1_ps(t.grey_shift);
    const std::uint16_t* values = t.values.ptr<std::uint16_t>(0);
    const std::uint8_t* grey = t.grey.ptr<std::uint8_t>(0);
    for (int i = 0; i < t.values.cols; i += 64) {  // cols is a multiple of 64
        const __m512i g = grey64_avx512<true>(values + i, scale, shift, _mm512_setzero_si512(), grey);
        if (_mm512_cmpneq_epi8_mask(g, _mm512_loadu_si512(grey + i)) != 0) return false;
    }
    return true;
}

#pragma GCC diagnostic pop

#endif  // PALLET_HAVE_SIMD_VIEWS

// Whether the given vector pass computes each grey level (true) or looks it up: computed only
// where that gives the library's byte for every value of the frame's range. The answer depends
// on the range alone, and consecutive frames mostly share one, so the last table and its answers
// are kept (per thread).
struct FrameTable {
    GreyTable table;
    int computed_exact[2] = {-1, -1};  // AVX2, AVX-512: -1 not yet known
};

FrameTable& last_frame_table()
{
    thread_local FrameTable last;
    return last;
}

const GreyTable& frame_table(int lo, int hi, FrameTable& last)
{
    if (last.table.grey.empty() || last.table.lo != lo || last.table.hi != hi) {
        last.table = grey_table(lo, hi);
        last.computed_exact[0] = last.computed_exact[1] = -1;
    }
    return last.table;
}

bool grey_computed(ViewPass pass, GreyLevels levels, FrameTable& last)
{
    if (levels == GreyLevels::looked_up) return false;
#ifdef PALLET_HAVE_SIMD_VIEWS
    int& exact = last.computed_exact[pass == ViewPass::avx512 ? 1 : 0];
    if (exact < 0) {
        exact = pass == ViewPass::avx512 ? computed_grey_exact_avx512(last.table)
                                         : computed_grey_exact_avx2(last.table);
    }
    return exact == 1;
#else
    (void)pass;
    return false;
#endif
}

// Both views (or the colour view alone when grey_out is null) by the given pass.
template <bool with_grey>
void views_by(ViewPass pass, GreyLevels levels, const cv::Mat& depth, std::uint8_t* grey_out,
              std::uint8_t* bgr)
{
    FrameTable& last = last_frame_table();
    int lo = 0, hi = 0;
    depth_range_of(depth, pass, lo, hi);
    const GreyTable& t = frame_table(lo, hi, last);
    const std::uint16_t* src = depth.ptr<std::uint16_t>(0);
    const std::size_t total = depth.total();
#ifdef PALLET_HAVE_SIMD_VIEWS
    if (pass == ViewPass::avx512) {
        if (grey_computed(pass, levels, last)) {
            views_avx512<with_grey, true>(t, src, total, grey_out, bgr);
        } else {
            views_avx512<with_grey, false>(t, src, total, grey_out, bgr);
        }
        return;
    }
    if (pass == ViewPass::avx2) {
        if (grey_computed(pass, levels, last)) {
            views_avx2<with_grey, true>(t, src, total, grey_out, bgr);
        } else {
            views_avx2<with_grey, false>(t, src, total, grey_out, bgr);
        }
        return;
    }
#endif
    (void)levels;
    views_portable<with_grey>(t, src, total, grey_out, bgr);
}

// The passes treat the image as one long row: a window of a larger image is copied first.
cv::Mat continuous(const cv::Mat& depth)
{
    CV_Assert(depth.type() == CV_16UC1);
    return depth.isContinuous() ? depth : depth.clone();
}

}  // namespace

bool view_pass_available(ViewPass pass)
{
    switch (pass) {
    case ViewPass::avx512: return avx512_supported();
    case ViewPass::avx2: return avx2_supported();
    default: return true;
    }
}

FastViews fast_views(const cv::Mat& depth) { return fast_views(depth, ViewPass::automatic); }

FastViews fast_views(const cv::Mat& depth_image, ViewPass pass, GreyLevels levels)
{
    const cv::Mat depth = continuous(depth_image);
    FastViews views{cv::Mat(depth.size(), CV_8UC1), cv::Mat(depth.size(), CV_8UC3)};
    views_by<true>(chosen_pass(pass), levels, depth, views.depth_view.ptr<std::uint8_t>(0),
                   views.colour_view.ptr<std::uint8_t>(0));
    return views;
}

cv::Mat fast_colour_view(const cv::Mat& depth) { return fast_colour_view(depth, ViewPass::automatic); }

cv::Mat fast_colour_view(const cv::Mat& depth_image, ViewPass pass, GreyLevels levels)
{
    const cv::Mat depth = continuous(depth_image);
    cv::Mat colour_view(depth.size(), CV_8UC3);
    views_by<false>(chosen_pass(pass), levels, depth, nullptr, colour_view.ptr<std::uint8_t>(0));
    return colour_view;
}

cv::Mat fast_depth_view(const cv::Mat& depth_image)
{
    const cv::Mat depth = continuous(depth_image);
    int lo = 0, hi = 0;
    depth_range_of(depth, avx2_supported() ? ViewPass::avx2 : ViewPass::portable, lo, hi);
    const GreyTable t = grey_table(lo, hi);
    const std::uint8_t* lut = t.grey.ptr<std::uint8_t>(0) - t.lo;
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
    const std::array<std::uint32_t, 256>& jet = jet_tables().bgr0;
    cv::Mat result_view(depth_view.size(), CV_8UC3);
    const int cols = depth_view.cols;
    for (int v = 0; v < depth_view.rows; ++v) {
        const std::uint8_t* grey = depth_view.ptr<std::uint8_t>(v);
        std::uint8_t* bgr = result_view.ptr<std::uint8_t>(v);
        for (int u = 0; u + 1 < cols; ++u) store_bgr(bgr + 3 * u, jet[grey[u]]);
        if (cols > 0) store_last_bgr(bgr + 3 * (cols - 1), jet[grey[cols - 1]]);
    }
    return draw_result_overlay(result_view, analysis, put_text_cached);
}

cv::Mat fast_result_view(FastViews& views, const FrameAnalysis& analysis)
{
    return draw_result_overlay(views.colour_view, analysis, put_text_cached);
}

cv::Mat fast_result_view_of_depth(const cv::Mat& depth, const FrameAnalysis& analysis)
{
    cv::Mat result_view = fast_colour_view(depth);
    return draw_result_overlay(result_view, analysis, put_text_cached);
}
