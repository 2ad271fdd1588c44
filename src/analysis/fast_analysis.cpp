#include "analysis/fast_analysis.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/pallet_pose.hpp"

namespace {

// (u - cx) / fx of every column and (v - cy) / fy of every row: the camera model's scales.
struct PixelScales {
    std::array<double, 640> column;
    std::array<double, 480> row;
};

const PixelScales& pixel_scales()
{
    static const PixelScales scales = [] {
        PixelScales s{};
        for (int u = 0; u < 640; ++u) {
            s.column[static_cast<std::size_t>(u)] =
                (static_cast<double>(u) - camera_model.cx) / camera_model.fx;
        }
        for (int v = 0; v < 480; ++v) {
            s.row[static_cast<std::size_t>(v)] =
                (static_cast<double>(v) - camera_model.cy) / camera_model.fy;
        }
        return s;
    }();
    return scales;
}

// One aligned coordinate as an affine function of the depth, c' = d (a[u] + b(v)) - k0, with
// a[u] = m_r0 (u - cx) / fx, b(v) = m_r1 (v - cy) / fy + m_r2 and k0 = m_r . P0 for row r of M.
struct Axis {
    std::array<float, 640> a;
    std::array<double, 640 / 64> a_first, a_last;  // a at each block's first and last column
    double a_largest;                               // largest |a[u]|
    double m1, m2;
    double k0;
};

Axis axis_of(const GroundFrame& ground, int r)
{
    const PixelScales& scales = pixel_scales();
    Axis axis{};
    const double m0 = ground.M(r, 0);
    axis.m1 = ground.M(r, 1);
    axis.m2 = ground.M(r, 2);
    for (std::size_t u = 0; u < 640; ++u) {
        const double a = m0 * scales.column[u];
        axis.a[u] = static_cast<float>(a);
        axis.a_largest = std::max(axis.a_largest, std::abs(a));
    }
    for (std::size_t k = 0; k < axis.a_first.size(); ++k) {
        axis.a_first[k] = m0 * scales.column[64 * k];
        axis.a_last[k] = m0 * scales.column[64 * k + 63];
    }
    axis.k0 = (m0 * ground.P0.x + axis.m1 * ground.P0.y) + axis.m2 * ground.P0.z;
    return axis;
}

// The pixels of a row are tested in blocks of 64 columns.
constexpr int block_width = 64;
constexpr std::size_t blocks_per_row = 640 / block_width;

// The smallest and largest measured (non-zero) depth of each block of a row; a block without one
// gets lo > hi. The values are compared with their top bit flipped, as signed: baseline x86-64
// has signed 16-bit vector minimum and maximum only, and the compiler vectorises this form.
struct DepthRanges {
    std::array<int, blocks_per_row> lo, hi;
};

DepthRanges measured_ranges(const std::uint16_t* row)
{
    DepthRanges ranges{};
    for (std::size_t k = 0; k < blocks_per_row; ++k) {
        const std::uint16_t* values = row + k * block_width;
        std::int16_t below = INT16_MAX, top = INT16_MIN;  // below: smallest d - 1, 0 wraps to the top
        for (int u = 0; u < block_width; ++u) {
            below = std::min(below, static_cast<std::int16_t>((values[u] - 1u) ^ 0x8000u));
            top = std::max(top, static_cast<std::int16_t>(values[u] ^ 0x8000u));
        }
        const int hi = (top ^ 0x8000) & 0xffff;
        ranges.hi[k] = hi;
        ranges.lo[k] = hi == 0 ? 1 : ((below ^ 0x8000) & 0xffff) + 1;
    }
    return ranges;
}

// The constants of one axis for one block of a row, in single precision, and a bound on how far
// the float c' of any of its pixels can lie from the c' that the literal stages compute in double.
// The float test rounds a, b, their sum, the product with d, k0, the difference and the distance
// to a band's centre, each by at most 2^-24 of its magnitude, and those magnitudes are at most
// d (|a| + |b|) + |k0| + 2000; the double form rounds far less. 2^-20 of that sum is sixteen
// roundings' worth.
struct BlockAxis {
    float b;
    float k0;
    float margin;
};

BlockAxis block_axis(const Axis& axis, double b, int largest_depth)
{
    const double bound =
        largest_depth * (axis.a_largest + std::abs(b)) + std::abs(axis.k0) + 2000.0;
    return {static_cast<float>(b), static_cast<float>(axis.k0), static_cast<float>(bound * 0x1p-20)};
}

// Whether no measured pixel of block k of a row can be in the height band. z' = d (a[u] + b) - k0
// is affine in d and monotonic in u, so over the block it lies between its values at the corners
// of [lo, hi] x {first column, last column}; a block whose whole interval lies a margin away from
// the band holds no pixel the literal form would keep.
bool outside_height_band(const Axis& z, double b, std::size_t k, int lo, int hi, double margin)
{
    if (lo > hi) return true;
    const double k_first = z.a_first[k] + b, k_last = z.a_last[k] + b;
    const double c[4] = {lo * k_first, lo * k_last, hi * k_first, hi * k_last};
    const double low = std::min(std::min(c[0], c[1]), std::min(c[2], c[3])) - z.k0;
    const double high = std::max(std::max(c[0], c[1]), std::max(c[2], c[3])) - z.k0;
    return (low > -41.0 + margin && high < 41.0 - margin) || low >= 241.0 + margin ||
           high <= -241.0 - margin;
}

// The float test of one block: 255 or 0 into mask for the pixels it decides, 1 into undecided for
// the others; returns whether any is undecided. Each band is tested as a distance from its centre:
// 41 <= |z'| < 241, -2000 <= y' <= -400, 0.5 < |x'| <= 600. A pixel without depth is outside.
bool float_block(const Axis (&axes)[3], const BlockAxis (&b)[3], int u_first,
                 const std::uint16_t* depth, std::uint8_t* mask, std::uint8_t* undecided)
{
    const float* ax = axes[0].a.data() + u_first;
    const float* ay = axes[1].a.data() + u_first;
    const float* az = axes[2].a.data() + u_first;
    const float mx = b[0].margin, my = b[1].margin, mz = b[2].margin;
    int any = 0;
    for (int u = 0; u < block_width; ++u) {
        const float d = depth[u];
        const float x = d * (ax[u] + b[0].b) - b[0].k0;
        const float y = d * (ay[u] + b[1].b) - b[1].k0;
        const float z = d * (az[u] + b[2].b) - b[2].k0;
        const float tx = std::abs(std::abs(x) - 300.25f);  // 0.5 < |x'| <= 600: tx < 299.75
        const float ty = std::abs(y + 1200.0f);            // ty <= 800
        const float tz = std::abs(std::abs(z) - 141.0f);   // tz < 100
        const bool inside =
            (d != 0.0f) & (tx < 299.75f - mx) & (ty <= 800.0f - my) & (tz < 100.0f - mz);
        const bool outside =
            (d == 0.0f) | (tx > 299.75f + mx) | (ty > 800.0f + my) | (tz > 100.0f + mz);
        mask[u] = inside ? 255 : 0;
        const bool unsure = !(inside | outside);
        undecided[u] = unsure;
        any |= unsure;
    }
    return any != 0;
}

bool all_finite(const cv::Matx33d& M)
{
    for (int i = 0; i < 9; ++i) {
        if (!std::isfinite(M.val[i])) return false;
    }
    return true;
}

// Grows bounds by the non-zero pixels of one block of the mask: row v, from column u_first.
void add_to_bounds(const std::uint8_t* mask, int u_first, int v, cv::Rect& bounds)
{
    int first = 0;
    while (first < block_width && mask[first] == 0) ++first;
    if (first == block_width) return;
    int last = block_width - 1;
    while (mask[last] == 0) --last;
    const cv::Rect pixels(u_first + first, v, last - first + 1, 1);
    bounds = bounds.empty() ? pixels : bounds | pixels;
}

}  // namespace

void make_combined_band_mask_fast(const cv::Mat& depth, const GroundFrame& ground, BandMask& band)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == 480 && depth.cols == 640);
    if (band.mask.rows != 480 || band.mask.cols != 640 || band.mask.type() != CV_8UC1) {
        band.mask = cv::Mat::zeros(480, 640, CV_8UC1);
    } else {
        band.mask(band.bounds).setTo(0);  // the rest is zero already
    }
    band.bounds = cv::Rect(0, 0, 640, 480);  // until the pass is done, any pixel may be set
    // A non-finite entry of M makes that aligned coordinate non-finite for every measured pixel
    // (infinity times 0 included): no pixel is inside.
    if (!all_finite(ground.M)) {
        band.bounds = cv::Rect();
        return;
    }
    const Axis axes[3] = {axis_of(ground, 0), axis_of(ground, 1), axis_of(ground, 2)};
    std::array<std::uint8_t, block_width> undecided;
    cv::Rect bounds;
    for (int v = 0; v < 480; ++v) {
        const std::uint16_t* depth_row = depth.ptr<std::uint16_t>(v);
        std::uint8_t* mask_row = band.mask.ptr<std::uint8_t>(v);
        const DepthRanges ranges = measured_ranges(depth_row);
        const double row_scale = pixel_scales().row[static_cast<std::size_t>(v)];
        double b[3];
        for (int r = 0; r < 3; ++r) b[r] = axes[r].m1 * row_scale + axes[r].m2;
        for (std::size_t k = 0; k < blocks_per_row; ++k) {
            const int lo = ranges.lo[k], hi = ranges.hi[k];
            const BlockAxis bz = block_axis(axes[2], b[2], hi);
            if (outside_height_band(axes[2], b[2], k, lo, hi, bz.margin)) continue;
            const BlockAxis block[3] = {block_axis(axes[0], b[0], hi), block_axis(axes[1], b[1], hi), bz};
            const int u_first = static_cast<int>(k) * block_width;
            std::uint8_t* mask = mask_row + u_first;
            if (float_block(axes, block, u_first, depth_row + u_first, mask, undecided.data())) {
                for (int i = 0; i < block_width; ++i) {
                    if (undecided[static_cast<std::size_t>(i)] == 0) continue;
                    const int u = u_first + i;
                    mask[i] = in_combined_bands(aligned_point(ground, v, u, depth_row[u])) ? 255 : 0;
                }
            }
            add_to_bounds(mask, u_first, v, bounds);
        }
    }
    band.bounds = bounds;
}

std::vector<Contour> find_candidate_contours_fast(const BandMask& band)
{
    if (band.bounds.empty()) return {};
    // Outside the bounds the mask is 0. The blur reaches 1 pixel further and the opening never
    // beyond the blurred area, so a window 4 pixels wider on each side holds every non-zero pixel
    // of the filtered region with at least 3 zero pixels around it (or the image's own edge),
    // where the window's border rules cannot change a pixel. The search pads with zeros, so the
    // trace and its order are those of the whole image.
    const cv::Rect window = cv::Rect(band.bounds.x - 4, band.bounds.y - 4, band.bounds.width + 8,
                                     band.bounds.height + 8) &
                            cv::Rect(0, 0, band.mask.cols, band.mask.rows);
    return find_candidate_contours_in(band.mask(window), window.tl());
}

cv::Mat fill_face_mask_fast(const std::vector<Contour>& selection, const cv::Rect& face_rect,
                            cv::Mat& face_mask)
{
    face_mask.create(480, 640, CV_8UC1);
    bool inside_rect = true;
    for (std::size_t j = 1; j < selection.size() && inside_rect; ++j) {
        const cv::Rect inner = cv::boundingRect(selection[j]);
        inside_rect = (inner & face_rect) == inner;
    }
    if (!inside_rect) {
        // An inner contour that only starts inside the face may leave its rectangle, and a fill
        // clipped at the rectangle could differ from the whole image's: fill the whole mask.
        fill_face_mask(selection, face_mask.size()).copyTo(face_mask);
        return face_mask(face_rect);
    }
    // Integer vertices shifted by whole pixels, nothing clipped: the fills of the whole image.
    cv::Mat face_window = face_mask(face_rect);
    face_window.setTo(0);
    for (std::size_t j = 0; j < selection.size(); ++j) {
        const cv::Scalar colour = j == 0 ? cv::Scalar(255) : cv::Scalar(0);
        cv::drawContours(face_window, selection, static_cast<int>(j), colour, cv::FILLED,
                         cv::LINE_8, cv::noArray(), INT_MAX, -face_rect.tl());
    }
    return face_window;
}

void gather_face_points_fast(const cv::Mat& face_window, const cv::Rect& face_rect,
                             const cv::Mat& combined_band_mask, const cv::Mat& depth,
                             std::vector<cv::Point3d>& face_points)
{
    face_points.clear();
    std::array<int, 480> kept_rows;
    for (int c = 0; c < face_rect.width; ++c) {  // column-major, as the plane fit sees them
        const int u = face_rect.x + c;
        // The rows of the column's face points, without a branch per pixel ...
        std::size_t kept = 0;
        for (int r = 0; r < face_rect.height; ++r) {
            const int v = face_rect.y + r;
            kept_rows[kept] = v;
            kept += (face_window.at<std::uint8_t>(r, c) != 0) &
                    (combined_band_mask.at<std::uint8_t>(v, u) != 0) &
                    (depth.at<std::uint16_t>(v, u) != 0);
        }
        // ... then their points, in a loop the compiler vectorises.
        const std::size_t n = face_points.size();
        face_points.resize(n + kept);
        for (std::size_t i = 0; i < kept; ++i) {
            const int v = kept_rows[i];
            face_points[n + i] = depth_to_point(v, u, depth.at<std::uint16_t>(v, u));
        }
    }
}
