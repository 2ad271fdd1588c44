#include "analysis/binary_opening.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int words = 10;  // 640 columns, column u in bit u % 64 of word u / 64
using Row = std::array<std::uint64_t, words>;

// result(u) = x(u - k) for 0 < k < 64; the k columns shifted in on the left are `fill`.
Row from_left(const Row& x, int k, bool fill)
{
    Row r;
    std::uint64_t carry = fill ? ~std::uint64_t{0} : 0;
    for (int w = 0; w < words; ++w) {
        r[w] = x[w] << k | carry >> (64 - k);
        carry = x[w];
    }
    return r;
}

// result(u) = x(u + k) for 0 < k < 64; the k columns shifted in on the right are `fill`.
Row from_right(const Row& x, int k, bool fill)
{
    Row r;
    std::uint64_t carry = fill ? ~std::uint64_t{0} : 0;
    for (int w = words - 1; w >= 0; --w) {
        r[w] = x[w] >> k | carry << (64 - k);
        carry = x[w];
    }
    return r;
}

Row operator|(Row a, const Row& b)
{
    for (int w = 0; w < words; ++w) a[w] |= b[w];
    return a;
}

Row operator&(Row a, const Row& b)
{
    for (int w = 0; w < words; ++w) a[w] &= b[w];
    return a;
}

// Any of the 3 columns around; columns outside the image count as zero.
Row any_of_3(const Row& x) { return x | from_left(x, 1, false) | from_right(x, 1, false); }

// Any of the 5 columns around; columns outside the image count as zero.
Row any_of_5(const Row& x)
{
    return x | from_left(x, 1, false) | from_left(x, 2, false) | from_right(x, 1, false) |
           from_right(x, 2, false);
}

// All of the 5 columns around that lie inside the image.
Row all_of_5(const Row& x)
{
    return x & from_left(x, 1, true) & from_left(x, 2, true) & from_right(x, 1, true) &
           from_right(x, 2, true);
}

// The non-zero pixels of one mask row (0 or 255) as bits.
Row bits_of(const std::uint8_t* bytes)
{
    Row r{};
    for (int w = 0; w < words; ++w) {
        const std::uint8_t* b = bytes + 64 * w;
#if defined(__SSE2__)
        std::uint64_t word = 0;
        for (int q = 0; q < 4; ++q) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * q));
            const auto sign = static_cast<std::uint64_t>(_mm_movemask_epi8(chunk));
            word |= sign << (16 * q);
        }
        r[w] = word;
#else
        for (int j = 0; j < 64; ++j) r[w] |= static_cast<std::uint64_t>(b[j] != 0) << j;
#endif
    }
    return r;
}

}  // namespace

// Eight 0/255 bytes for each pattern of eight bits, bit 0 in the lowest byte.
const std::array<std::uint64_t, 256>& byte_masks()
{
    static const std::array<std::uint64_t, 256> table = [] {
        std::array<std::uint64_t, 256> t{};
        for (unsigned bits = 0; bits < 256; ++bits) {
            for (unsigned j = 0; j < 8; ++j) {
                if (bits & (1u << j)) t[bits] |= std::uint64_t{0xff} << (8 * j);
            }
        }
        return t;
    }();
    return table;
}

cv::Mat opened_region(const cv::Mat& mask, const cv::Rect& bounds, const cv::Rect& window)
{
    CV_Assert(mask.type() == CV_8UC1 && mask.rows == 480 && mask.cols == 640);
    cv::Mat region(window.size(), CV_8UC1, cv::Scalar(0));
    if (bounds.empty()) return region;
    // Rows of every stage that can be non-zero, with a margin: the mask's rows reach 1 further
    // once blurred, the erosion adds nothing, the dilation 2 more.
    const int r0 = std::max(0, bounds.y - 5);
    const int r1 = std::min(480, bounds.y + bounds.height + 5);
    const int n = r1 - r0;
    thread_local std::vector<Row> marked, blurred, eroded;
    marked.assign(static_cast<std::size_t>(n), Row{});
    blurred.assign(static_cast<std::size_t>(n), Row{});
    eroded.assign(static_cast<std::size_t>(n), Row{});
    for (int v = bounds.y; v < bounds.y + bounds.height; ++v) {
        marked[static_cast<std::size_t>(v - r0)] = bits_of(mask.ptr<std::uint8_t>(v));
    }
    const Row none{};
    const auto row = [r0, r1, &none](const std::vector<Row>& rows, int v) -> const Row& {
        return v >= r0 && v < r1 ? rows[static_cast<std::size_t>(v - r0)] : none;
    };
    for (int v = r0; v < r1; ++v) {
        blurred[static_cast<std::size_t>(v - r0)] =
            any_of_3(row(marked, v - 1) | row(marked, v) | row(marked, v + 1));
    }
    for (int v = r0; v < r1; ++v) {
        Row all;
        all.fill(~std::uint64_t{0});
        for (int r = std::max(0, v - 2); r <= std::min(479, v + 2); ++r) all = all & row(blurred, r);
        eroded[static_cast<std::size_t>(v - r0)] = all_of_5(all);
    }
    const std::array<std::uint64_t, 256>& masks = byte_masks();
    const auto first_byte = static_cast<std::size_t>(window.x / 8);
    const auto end_byte = static_cast<std::size_t>((window.x + window.width + 7) / 8);
    for (int v = window.y; v < window.y + window.height; ++v) {
        Row any{};
        for (int r = v - 2; r <= v + 2; ++r) any = any | row(eroded, r);
        const Row opened = any_of_5(any);
        std::array<std::uint64_t, 80> bytes;  // 640 bytes, eight per entry; the window's only
        for (std::size_t i = first_byte; i < end_byte; ++i) {
            bytes[i] = masks[opened[i / 8] >> (8 * (i % 8)) & 0xff];
        }
        std::memcpy(region.ptr<std::uint8_t>(v - window.y),
                    reinterpret_cast<const std::uint8_t*>(bytes.data()) + window.x,
                    static_cast<std::size_t>(window.width));
    }
    return region;
}
