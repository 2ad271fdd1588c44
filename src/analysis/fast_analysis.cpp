#include "analysis/fast_analysis.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include <Eigen/LU>
#include <opencv2/imgproc.hpp>

#include "analysis/binary_opening.hpp"
#include "analysis/depth_intake.hpp"
#include "analysis/pallet_pose.hpp"
#include "analysis/plane_fit.hpp"
#include "analysis/plane_fit_replica.hpp"

namespace {

bool avx2_supported();
cv::Rect band_pass(const cv::Mat& depth, PixelPass pass, cv::Mat& mask, bool zeroed);

// Sum of [x y 1]^T [x y 1] and of [x y 1]^T z over the points added: the normal equations of the
// plane fit z = a*x + b*y + c without an n x 3 matrix.
struct PlaneSums {
    double xx = 0.0, xy = 0.0, x = 0.0, yy = 0.0, y = 0.0, xz = 0.0, yz = 0.0, z = 0.0;
    std::size_t n = 0;

    // Adds the points of columns u_begin..u_end-1 of row v, zero depths included (as
    // depth_to_point makes them: the origin). With c the column's scale and r the row's, a point
    // is (d c, d r, d): the row adds its sums of d, d c, d^2, d^2 c and d^2 c^2, times powers of r.
    void add_row(int v, const std::uint16_t* depth_row, int u_begin, int u_end)
    {
        const double r = (static_cast<double>(v) - camera_model.cy) / camera_model.fy;
        const RowSums s = row_sums(depth_row, u_begin, u_end);
        xx += s.ddcc;
        xy += r * s.ddc;
        x += s.dc;
        yy += r * r * s.dd;
        y += r * s.d;
        xz += s.ddc;
        yz += r * s.dd;
        z += s.d;
        n += static_cast<std::size_t>(u_end - u_begin);
    }

    struct RowSums {
        double d = 0.0, dc = 0.0, dd = 0.0, ddc = 0.0, ddcc = 0.0;
    };

    static RowSums row_sums(const std::uint16_t* depth_row, int u_begin, int u_end);

    static const std::array<double, 640>& column_scale_table()
    {
        static const std::array<double, 640> scale = [] {
            std::array<double, 640> s{};
            for (std::size_t i = 0; i < s.size(); ++i) {
                s[i] = (static_cast<double>(i) - camera_model.cx) / camera_model.fx;
            }
            return s;
        }();
        return scale;
    }

    static double column_scale(int u) { return column_scale_table()[static_cast<std::size_t>(u)]; }

    Eigen::Matrix3d normal_matrix() const
    {
        Eigen::Matrix3d S;
        S << xx, xy, x, xy, yy, y, x, y, static_cast<double>(n);
        return S;
    }

    // 1-norm condition number of the normal matrix (infinite when singular or not finite).
    double condition() const
    {
        const Eigen::Matrix3d S = normal_matrix();
        const Eigen::Matrix3d inverse = Eigen::PartialPivLU<Eigen::Matrix3d>(S).inverse();
        const double c = S.cwiseAbs().colwise().sum().maxCoeff() *
                         inverse.cwiseAbs().colwise().sum().maxCoeff();
        return std::isfinite(c) ? c : std::numeric_limits<double>::infinity();
    }
};

PlaneSums::RowSums row_sums_portable(const std::uint16_t* depth_row, int u_begin, int u_end)
{
    PlaneSums::RowSums s;
    for (int u = u_begin; u < u_end; ++u) {
        const double d = depth_row[u];
        const double c = PlaneSums::column_scale(u);
        const double dd = d * d;
        s.d += d;
        s.dc += d * c;
        s.dd += dd;
        s.ddc += dd * c;
        s.ddcc += dd * c * c;
    }
    return s;
}

#if defined(__GNUC__) && defined(__x86_64__)
__attribute__((target("avx2"))) inline double total(__m256d p, __m256d q)
{
    alignas(32) double lanes[4];
    _mm256_store_pd(lanes, _mm256_add_pd(p, q));
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
}

// The same sums four columns at a time, in two sets of lanes; u_end - u_begin is a multiple of 8.
__attribute__((target("avx2,fma"))) PlaneSums::RowSums row_sums_avx2(const std::uint16_t* depth_row,
                                                                     int u_begin, int u_end)
{
    __m256d d0 = _mm256_setzero_pd(), dc0 = d0, dd0 = d0, ddc0 = d0, ddcc0 = d0;
    __m256d d1 = d0, dc1 = d0, dd1 = d0, ddc1 = d0, ddcc1 = d0;
    const double* scale = &PlaneSums::column_scale_table()[0];
    for (int u = u_begin; u < u_end; u += 8) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(depth_row + u));
        const __m256d a = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(raw));
        const __m256d b = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_srli_si128(raw, 8)));
        const __m256d ca = _mm256_loadu_pd(scale + u), cb = _mm256_loadu_pd(scale + u + 4);
        d0 = _mm256_add_pd(d0, a);
        d1 = _mm256_add_pd(d1, b);
        dc0 = _mm256_fmadd_pd(a, ca, dc0);
        dc1 = _mm256_fmadd_pd(b, cb, dc1);
        const __m256d aa = _mm256_mul_pd(a, a), bb = _mm256_mul_pd(b, b);
        dd0 = _mm256_add_pd(dd0, aa);
        dd1 = _mm256_add_pd(dd1, bb);
        const __m256d aac = _mm256_mul_pd(aa, ca), bbc = _mm256_mul_pd(bb, cb);
        ddc0 = _mm256_add_pd(ddc0, aac);
        ddc1 = _mm256_add_pd(ddc1, bbc);
        ddcc0 = _mm256_fmadd_pd(aac, ca, ddcc0);
        ddcc1 = _mm256_fmadd_pd(bbc, cb, ddcc1);
    }
    return {total(d0, d1), total(dc0, dc1), total(dd0, dd1), total(ddc0, ddc1), total(ddcc0, ddcc1)};
}
#endif

PlaneSums::RowSums PlaneSums::row_sums(const std::uint16_t* depth_row, int u_begin, int u_end)
{
#if defined(__GNUC__) && defined(__x86_64__)
    if ((u_end - u_begin) % 8 == 0 && avx2_supported()) return row_sums_avx2(depth_row, u_begin, u_end);
#endif
    return row_sums_portable(depth_row, u_begin, u_end);
}

// The plane through the summed points, solved with a partial-pivoting LU inverse as fit_plane
// does; no points give zeros as there.
Eigen::Vector3d plane_of(const PlaneSums& sums)
{
    if (sums.n == 0) return Eigen::Vector3d::Zero();
    const Eigen::Vector3d t(sums.xz, sums.yz, sums.z);
    return Eigen::PartialPivLU<Eigen::Matrix3d>(sums.normal_matrix()).inverse() * t;
}

// p' = M * (p - P0) with the ground patch's M and P0.
struct GroundFrame {
    double x0, y0, z0;
    double m00, m01, m02, m10, m11, m12, m20, m21, m22;
};

GroundFrame ground_frame_from(const Eigen::Vector3d& ground_plane, const cv::Point3d& P0)
{
    Eigen::Matrix3d R = rotation_onto_z(ground_plane);
    cv::Mat M(3, 3, CV_64F);
    M = rotation_view(R).inv(cv::DECOMP_LU);  // as align_to_ground makes it
    const auto m = [&M](int r, int c) { return M.at<double>(r, c); };
    return {P0.x, P0.y, P0.z, m(0, 0), m(0, 1), m(0, 2), m(1, 0), m(1, 1),
            m(1, 2), m(2, 0), m(2, 1), m(2, 2)};
}

cv::Point3d reference_point(const cv::Mat& depth)
{
    return depth_to_point(420, 320, depth.at<std::uint16_t>(420, 320));
}

// Exactly align_to_ground's M: the literal plane fit on the 12,800 patch points. Its last bits
// come from the matrix library's product kernels, which is why it is made only when a pixel
// needs it.
GroundFrame literal_ground_frame(const cv::Mat& depth)
{
    std::vector<cv::Point3d> ground_points;  // 12,800 points, not image-sized
    ground_points.reserve(80 * 160);
    for (int v = 380; v < 460; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 240; u < 400; ++u) ground_points.push_back(depth_to_point(v, u, row[u]));
    }
    return ground_frame_from(fit_plane(ground_points), reference_point(depth));
}

double largest_entry_difference(const GroundFrame& a, const GroundFrame& b)
{
    const double da[9] = {a.m00, a.m01, a.m02, a.m10, a.m11, a.m12, a.m20, a.m21, a.m22};
    const double db[9] = {b.m00, b.m01, b.m02, b.m10, b.m11, b.m12, b.m20, b.m21, b.m22};
    double largest = 0.0;
    for (int i = 0; i < 9; ++i) largest = std::max(largest, std::abs(da[i] - db[i]));
    return largest;  // NaN compares false: a non-finite entry leaves 0, checked by the caller
}

// The ground frame from the normal equations, and a bound on how far each entry of its M may lie
// from the literal M. The two fits solve the same equations with roundings in another order; the
// literal one forms the inverse and the 3 x n product explicitly and carries most of the
// difference: measured on rendered floors, |a| and |b| differ by at most 8e-11 of |a| + |b|
// (1e-9 relative on a tiny a, 7.5e-11 on b). plane_slack trusts them to 1e-8 of |a| + |b|, over a
// hundred times that, and a near-singular patch is not trusted at all. M's sensitivity to the
// coefficients is found by moving them that far: near a level floor the rotation axis turns fast
// with (a, b), and the bound grows with it.
struct FastGround {
    GroundFrame frame;
    double m_slack;  // bound on |M_fast - M_literal| per entry; infinite: use the literal M
};

constexpr double plane_slack = 1e-8;

FastGround fast_ground_frame(const cv::Mat& depth)
{
    PlaneSums sums;
    for (int v = 380; v < 460; ++v) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        sums.add_row(v, row, 240, 400);
    }
    const cv::Point3d P0 = reference_point(depth);
    const Eigen::Vector3d plane = plane_of(sums);
    const double condition = sums.condition();
    FastGround fast{ground_frame_from(plane, P0), std::numeric_limits<double>::infinity()};
    const double shift = plane_slack * (std::abs(plane(0)) + std::abs(plane(1)));
    if (!std::isfinite(shift) || !(condition < 1e14)) return fast;
    double slack = 0.0;
    for (const double da : {-shift, shift}) {
        for (const double db : {-shift, shift}) {
            const GroundFrame moved =
                ground_frame_from(Eigen::Vector3d(plane(0) + da, plane(1) + db, plane(2)), P0);
            const double difference = largest_entry_difference(fast.frame, moved);
            if (!std::isfinite(moved.m00 + moved.m11 + moved.m22)) return fast;
            slack = std::max(slack, difference);
        }
    }
    fast.m_slack = 2.0 * slack + 1e-15;
    return fast;
}

// Whether |z'| is a height in the band, y' a depth, x' a lateral distance, with the very
// operations of the three mask functions.
bool height_in_band(double z)
{
    // trunc(|z'|) in 41..240; a height of 65,536 or more or not finite is outside.
    const double height = std::abs(z);
    return height >= 41.0 && height < 241.0;
}

bool depth_in_band(double y) { return y >= -2000.0 && y <= -400.0; }

bool lateral_in_band(double x)
{
    // The lateral image is turned to 8 bits in single precision: |x'| is rounded to float first
    // and then to the nearest integer, halves to even, so 0.5 + 2^-25 still gives 0.
    return x >= -600.0 && x <= 600.0 && static_cast<float>(std::abs(x)) > 0.5f;
}

cv::Point3d aligned_point(const GroundFrame& g, int v, int u, std::uint16_t d)
{
    const cv::Point3d p = depth_to_point(v, u, d);
    const double dx = p.x - g.x0;
    const double dy = p.y - g.y0;
    const double dz = p.z - g.z0;
    return {(g.m00 * dx + g.m01 * dy) + g.m02 * dz, (g.m10 * dx + g.m11 * dy) + g.m12 * dz,
            (g.m20 * dx + g.m21 * dy) + g.m22 * dz};
}

// The band tests on the aligned point of one measured pixel, computed in double with the very
// operations of align_to_ground and the three mask functions: the reference for every pixel the
// faster tests cannot decide.
bool in_bands_exact(const GroundFrame& g, int v, int u, std::uint16_t d)
{
    const cv::Point3d a = aligned_point(g, v, u, d);
    return height_in_band(a.z) && depth_in_band(a.y) && lateral_in_band(a.x);
}

// The same tests with the fast M: decided when every band test gives the same answer at both
// ends of the interval that holds the literal coordinate. The bands are hundreds of millimetres
// wide and the gap around x' = 0 is 1 mm, so an interval far narrower than that holds at most
// one edge and its two ends differ exactly when it does.
enum class Decision { outside, inside, undecided };

Decision in_bands_fast(const FastGround& fast, int v, int u, std::uint16_t d)
{
    const GroundFrame& g = fast.frame;
    const cv::Point3d p = depth_to_point(v, u, d);
    const double reach = std::abs(p.x - g.x0) + std::abs(p.y - g.y0) + std::abs(p.z - g.z0);
    // M's slack over the point's offset, plus the roundings of the double products (each well
    // below 1e-15 of reach).
    const double t = fast.m_slack * reach + 1e-13 * (reach + 1.0);
    if (!(t < 0.25)) return Decision::undecided;
    const cv::Point3d a = aligned_point(g, v, u, d);
    const bool z_lo = height_in_band(a.z - t), z_hi = height_in_band(a.z + t);
    const bool y_lo = depth_in_band(a.y - t), y_hi = depth_in_band(a.y + t);
    const bool x_lo = lateral_in_band(a.x - t), x_hi = lateral_in_band(a.x + t);
    if (!z_lo && !z_hi) return Decision::outside;
    if (!y_lo && !y_hi) return Decision::outside;
    if (!x_lo && !x_hi) return Decision::outside;
    if (z_lo && z_hi && y_lo && y_hi && x_lo && x_hi) return Decision::inside;
    return Decision::undecided;
}

// Per-frame constants of the float pass for one aligned coordinate c' = d * (ka[u] + kb(v)) - k0,
// where ka[u] = m_r0 * (u - cx) / fx, kb(v) = m_r1 * (v - cy) / fy + m_r2, k0 = m_r . P0.
struct FloatAxis {
    std::array<float, 640> ka;
    double b_scale;   // m_r1 / fy
    double b_offset;  // m_r2 - m_r1 * cy / fy
    float k0;
    float k0_centred;  // k0 - 1200: c' + 1200 is the distance of y' from its band's centre
    float margin;      // bound on |float c' - exact c'| over every pixel of the frame
    double ka_first, ka_last;  // m_r0 (u - cx) / fx at columns 0 and 639, in double
    double k0_exact;
};

FloatAxis float_axis(double mr0, double mr1, double mr2, const FastGround& fast)
{
    const GroundFrame& g = fast.frame;
    FloatAxis axis{};
    double ka_max = 0.0;
    for (int u = 0; u < 640; ++u) {
        const double ka = mr0 * PlaneSums::column_scale(u);  // (u - cx) / fx
        axis.ka[static_cast<std::size_t>(u)] = static_cast<float>(ka);
        ka_max = std::max(ka_max, std::abs(ka));
    }
    axis.b_scale = mr1 / camera_model.fy;
    axis.b_offset = mr2 - mr1 * camera_model.cy / camera_model.fy;
    const double k0 = (mr0 * g.x0 + mr1 * g.y0) + mr2 * g.z0;
    axis.k0 = static_cast<float>(k0);
    axis.k0_exact = k0;
    axis.ka_first = mr0 * PlaneSums::column_scale(0);
    axis.ka_last = mr0 * PlaneSums::column_scale(639);
    axis.k0_centred = static_cast<float>(k0 - 1200.0);
    const double kb_max = std::abs(mr1) * (480.0 / camera_model.fy) + std::abs(mr2);
    // Each float step rounds by at most 2^-24 of the magnitude it handles: ka and kb to float,
    // their sum, d times it, k0 (or k0 - 1200) to float, the subtraction (fused with the product
    // into one rounding where FMA is used, two roundings otherwise), the distance to a band's
    // centre (|c'| - 300.25 or - 141, up to 1200 more in magnitude) and the limits themselves
    // (up to 2000 in magnitude). The largest magnitudes are 65535 * (|ka| + |kb|), |k0| and those
    // 2000, and at most eight roundings meet in one test; 2^-19 of their sum is 32 roundings'
    // worth, which also covers the double rounding of the reference.
    const double scale = 65535.0 * (ka_max + kb_max) + std::abs(k0) + 2048.0;
    // The literal M may differ from the fast one by m_slack per entry, over offsets |p - P0| of
    // at most 65535 * (1 + 2) + |P0|.
    const double reach = 65535.0 * 3.0 + std::abs(g.x0) + std::abs(g.y0) + std::abs(g.z0);
    axis.margin = static_cast<float>(std::ldexp(scale, -19) + 3.0 * fast.m_slack * reach);
    if (!std::isfinite(axis.margin) || !std::isfinite(axis.k0) || !std::isfinite(axis.k0_centred)) {
        axis.margin = std::numeric_limits<float>::infinity();  // every pixel decided in double
    }
    return axis;
}

struct FloatPass {
    FloatAxis x, y, z;
};

// One row of the float pass: mask bytes 255 / 0 for the pixels decided in float, and a flag for
// each pixel that lies within the margin of a band edge. Returns whether any pixel is flagged.
// The portable form, used where the processor lacks AVX2 and FMA.
bool float_row(const FloatPass& f, int v, const std::uint16_t* depth_row, std::uint8_t* mask_row,
               std::uint8_t* undecided)
{
    const float kbx = static_cast<float>(f.x.b_scale * v + f.x.b_offset);
    const float kby = static_cast<float>(f.y.b_scale * v + f.y.b_offset);
    const float kbz = static_cast<float>(f.z.b_scale * v + f.z.b_offset);
    const float mx = f.x.margin, my = f.y.margin, mz = f.z.margin;
    // Sure inside / sure outside limits of each band; between them a pixel is undecided.
    const float z_in_lo = 41.0f + mz, z_in_hi = 241.0f - mz, z_out_lo = 41.0f - mz,
                z_out_hi = 241.0f + mz;
    const float y_in_lo = -2000.0f + my, y_in_hi = -400.0f - my, y_out_lo = -2000.0f - my,
                y_out_hi = -400.0f + my;
    const float x_in_lo = 0.5f + mx, x_in_hi = 600.0f - mx, x_out_lo = 0.5f - mx,
                x_out_hi = 600.0f + mx;
    const float x0 = f.x.k0, y0 = f.y.k0, z0 = f.z.k0;
    const float* kax = f.x.ka.data();
    const float* kay = f.y.ka.data();
    const float* kaz = f.z.ka.data();
    int any = 0;
    // Bitwise & and | rather than && and ||: no branch, so the loop runs on vector registers.
    for (int u = 0; u < 640; ++u) {
        const int depth_mm = depth_row[u];
        const float d = static_cast<float>(depth_mm);
        const float x = std::abs(d * (kax[u] + kbx) - x0);
        const float y = d * (kay[u] + kby) - y0;
        const float z = std::abs(d * (kaz[u] + kbz) - z0);
        const int in = (z >= z_in_lo) & (z <= z_in_hi) & (y >= y_in_lo) & (y <= y_in_hi) &
                       (x >= x_in_lo) & (x <= x_in_hi);
        const int out = (z < z_out_lo) | (z > z_out_hi) | (y < y_out_lo) | (y > y_out_hi) |
                        (x < x_out_lo) | (x > x_out_hi);
        const int measured = depth_mm != 0;
        const int unsure = measured & ((in | out) ^ 1);
        mask_row[u] = static_cast<std::uint8_t>(-(measured & in));
        undecided[u] = static_cast<std::uint8_t>(unsure);
        any |= unsure;
    }
    return any != 0;
}

#if defined(__GNUC__) && defined(__x86_64__)
#define PALLET_HAVE_AVX2_PASS 1

// The limits of one band as a distance from its centre: a coordinate t' is inside when
// |t' - centre| <= half (x' and z' are taken as |x'| and |z'| first). The float distance is sure
// inside up to `in` and sure outside beyond `out`; both are rounded away from the edge.
struct VectorBand {
    float centre, in, out;
};

VectorBand vector_band(double low, double high, float margin)
{
    const double centre = (low + high) / 2.0;  // 300.25, -1200, 141: exact in float
    const double half = (high - low) / 2.0;
    const float in = std::nextafter(static_cast<float>(half - margin), -1.0f);
    const float out = std::nextafter(static_cast<float>(half + margin),
                                     std::numeric_limits<float>::infinity());
    return {static_cast<float>(centre), in, out};
}

// float_row eight pixels at a time with AVX2 and fused multiply-adds; the same decisions for
// every pixel it decides (the margin holds for both forms). Groups whose measured pixels are all
// surely outside the height band are written as zeros without the other two coordinates.
// Instead of a flag per pixel it sets bit u % 8 of undecided[u / 8]; u_first / u_last get the
// first and last column decided inside (unchanged when there is none).
struct VectorBands {
    VectorBand x, y, z;
};

VectorBands vector_bands(const FloatPass& f)
{
    // y' is tested as y' + 1200 with the centre folded into k0 in double: one rounding less.
    return {vector_band(0.5, 600.0, f.x.margin), vector_band(-2000.0, -400.0, f.y.margin),
            vector_band(41.0, 241.0, f.z.margin)};
}

template <bool zeroed>
__attribute__((target("avx2,fma"))) bool float_row_avx2(const FloatPass& f, const VectorBands& bands,
                                                        int v, const std::uint16_t* depth_row,
                                                        std::uint8_t* mask_row,
                                                        std::uint8_t* undecided, int& u_first,
                                                        int& u_last)
{
    const VectorBand& bx = bands.x;
    const VectorBand& by = bands.y;
    const VectorBand& bz = bands.z;
    const __m256 kbx = _mm256_set1_ps(static_cast<float>(f.x.b_scale * v + f.x.b_offset));
    const __m256 kby = _mm256_set1_ps(static_cast<float>(f.y.b_scale * v + f.y.b_offset));
    const __m256 kbz = _mm256_set1_ps(static_cast<float>(f.z.b_scale * v + f.z.b_offset));
    const __m256 x0 = _mm256_set1_ps(f.x.k0);
    const __m256 y0 = _mm256_set1_ps(f.y.k0_centred);
    const __m256 z0 = _mm256_set1_ps(f.z.k0);
    const __m256 x_centre = _mm256_set1_ps(bx.centre), z_centre = _mm256_set1_ps(bz.centre);
    const __m256 x_in = _mm256_set1_ps(bx.in), x_out = _mm256_set1_ps(bx.out);
    const __m256 y_in = _mm256_set1_ps(by.in), y_out = _mm256_set1_ps(by.out);
    const __m256 z_in = _mm256_set1_ps(bz.in), z_out = _mm256_set1_ps(bz.out);
    const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256 zero = _mm256_setzero_ps();
    const std::uint64_t* bytes = byte_masks().data();
    int any = 0;
    for (int u = 0; u < 640; u += 8) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(depth_row + u));
        const __m256 d = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(raw));
        const __m256 measured = _mm256_cmp_ps(d, zero, _CMP_NEQ_OQ);
        const __m256 z = _mm256_fmsub_ps(d, _mm256_add_ps(_mm256_loadu_ps(f.z.ka.data() + u), kbz), z0);
        const __m256 tz = _mm256_and_ps(_mm256_sub_ps(_mm256_and_ps(z, magnitude), z_centre), magnitude);
        // Ordered compares: a NaN is neither sure inside nor sure outside.
        const __m256 z_outside = _mm256_cmp_ps(tz, z_out, _CMP_GT_OQ);
        if (_mm256_movemask_ps(_mm256_andnot_ps(z_outside, measured)) == 0) {
            if (!zeroed) std::memset(mask_row + u, 0, 8);
            undecided[u / 8] = 0;
            continue;
        }
        const __m256 x = _mm256_fmsub_ps(d, _mm256_add_ps(_mm256_loadu_ps(f.x.ka.data() + u), kbx), x0);
        const __m256 tx = _mm256_and_ps(_mm256_sub_ps(_mm256_and_ps(x, magnitude), x_centre), magnitude);
        const __m256 y = _mm256_fmsub_ps(d, _mm256_add_ps(_mm256_loadu_ps(f.y.ka.data() + u), kby), y0);
        const __m256 ty = _mm256_and_ps(y, magnitude);
        const __m256 inside = _mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(tz, z_in, _CMP_LE_OQ), _mm256_cmp_ps(ty, y_in, _CMP_LE_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(tx, x_in, _CMP_LE_OQ), measured));
        const __m256 outside = _mm256_or_ps(
            z_outside, _mm256_or_ps(_mm256_cmp_ps(ty, y_out, _CMP_GT_OQ),
                                    _mm256_cmp_ps(tx, x_out, _CMP_GT_OQ)));
        const int in_bits = _mm256_movemask_ps(inside);
        const int unsure_bits = _mm256_movemask_ps(_mm256_andnot_ps(_mm256_or_ps(inside, outside), measured));
        if (!zeroed || in_bits != 0) std::memcpy(mask_row + u, bytes + in_bits, 8);
        undecided[u / 8] = static_cast<std::uint8_t>(unsure_bits);
        any |= unsure_bits;
        if (in_bits != 0) {
            u_first = std::min(u_first, u + __builtin_ctz(static_cast<unsigned>(in_bits)));
            u_last = std::max(u_last, u + 31 - __builtin_clz(static_cast<unsigned>(in_bits)));
        }
    }
    return any != 0;
}

// GCC 12's own AVX-512 conversion intrinsics pass an "undefined" source register that its
// -Wuninitialized flags; nothing of ours is uninitialised here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The height test of sixteen pixels: their depths, which are measured, the distance of |z'| from
// the band's centre, and which are surely outside the band.
struct HeightBand {
    __m512 kb, k0, centre, out;
};
struct HeightTest {
    __m512 d;
    __mmask16 measured;
    __m512 distance;
    __mmask16 outside;
};

__attribute__((target("avx512f,avx512bw,avx512vl,avx2,fma"))) inline HeightTest height_test(
    const std::uint16_t* depths, const float* ka, const HeightBand& band)
{
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depths));
    const __m512 d = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(raw));
    const __mmask16 measured = _mm512_cmp_ps_mask(d, _mm512_setzero_ps(), _CMP_NEQ_OQ);
    const __m512 z = _mm512_fmsub_ps(d, _mm512_add_ps(_mm512_loadu_ps(ka), band.kb), band.k0);
    const __m512 distance = _mm512_abs_ps(_mm512_sub_ps(_mm512_abs_ps(z), band.centre));
    // Ordered compares: a NaN is neither sure inside nor sure outside.
    return {d, measured, distance, _mm512_cmp_ps_mask(distance, band.out, _CMP_GT_OQ)};
}

// float_row_avx2 sixteen pixels at a time with AVX-512: the very same float operations per pixel,
// so the very same decisions; undecided gets the same bits.
template <bool zeroed>
__attribute__((target("avx512f,avx512bw,avx512vl,avx2,fma"))) bool float_row_avx512(
    const FloatPass& f, const VectorBands& bands, int v, const std::uint16_t* depth_row,
    std::uint8_t* mask_row, std::uint8_t* undecided, int& u_first, int& u_last)
{
    const __m512 kbx = _mm512_set1_ps(static_cast<float>(f.x.b_scale * v + f.x.b_offset));
    const __m512 kby = _mm512_set1_ps(static_cast<float>(f.y.b_scale * v + f.y.b_offset));
    const __m512 kbz = _mm512_set1_ps(static_cast<float>(f.z.b_scale * v + f.z.b_offset));
    const __m512 x0 = _mm512_set1_ps(f.x.k0);
    const __m512 y0 = _mm512_set1_ps(f.y.k0_centred);
    const __m512 z0 = _mm512_set1_ps(f.z.k0);
    const __m512 x_centre = _mm512_set1_ps(bands.x.centre), z_centre = _mm512_set1_ps(bands.z.centre);
    const __m512 x_in = _mm512_set1_ps(bands.x.in), x_out = _mm512_set1_ps(bands.x.out);
    const __m512 y_in = _mm512_set1_ps(bands.y.in), y_out = _mm512_set1_ps(bands.y.out);
    const __m512 z_in = _mm512_set1_ps(bands.z.in), z_out = _mm512_set1_ps(bands.z.out);
    const HeightBand height{kbz, z0, z_centre, z_out};
    // First the height test alone over the whole row, without a branch: most rows (the floor, the
    // far wall) end there.
    std::array<std::uint16_t, 40> candidates;
    unsigned any_candidate = 0;
    for (int g = 0; g < 40; ++g) {
        const int u = 16 * g;
        const HeightTest t = height_test(depth_row + u, f.z.ka.data() + u, height);
        const unsigned candidate = t.measured & static_cast<unsigned>(~t.outside) & 0xffffu;
        candidates[static_cast<std::size_t>(g)] = static_cast<std::uint16_t>(candidate);
        any_candidate |= candidate;
    }
    if (any_candidate == 0) {
        if (!zeroed) std::memset(mask_row, 0, 640);
        return false;  // undecided is not read
    }
    unsigned any = 0;
    for (int g = 0; g < 40; ++g) {
        const int u = 16 * g;
        if (candidates[static_cast<std::size_t>(g)] == 0) {
            if (!zeroed) _mm_storeu_si128(reinterpret_cast<__m128i*>(mask_row + u), _mm_setzero_si128());
            undecided[u / 8] = 0;
            undecided[u / 8 + 1] = 0;
            continue;
        }
        const HeightTest t = height_test(depth_row + u, f.z.ka.data() + u, height);
        const __m512 d = t.d, tz = t.distance;
        const __mmask16 measured = t.measured, z_outside = t.outside;
        const __m512 x = _mm512_fmsub_ps(d, _mm512_add_ps(_mm512_loadu_ps(f.x.ka.data() + u), kbx), x0);
        const __m512 tx = _mm512_abs_ps(_mm512_sub_ps(_mm512_abs_ps(x), x_centre));
        const __m512 y = _mm512_fmsub_ps(d, _mm512_add_ps(_mm512_loadu_ps(f.y.ka.data() + u), kby), y0);
        const __m512 ty = _mm512_abs_ps(y);
        const __mmask16 inside = _mm512_cmp_ps_mask(tz, z_in, _CMP_LE_OQ) &
                                 _mm512_cmp_ps_mask(ty, y_in, _CMP_LE_OQ) &
                                 _mm512_cmp_ps_mask(tx, x_in, _CMP_LE_OQ) & measured;
        const __mmask16 outside = z_outside | _mm512_cmp_ps_mask(ty, y_out, _CMP_GT_OQ) |
                                  _mm512_cmp_ps_mask(tx, x_out, _CMP_GT_OQ);
        const unsigned unsure = measured & static_cast<unsigned>(~(inside | outside)) & 0xffffu;
        if (!zeroed || inside != 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(mask_row + u), _mm_movm_epi8(inside));
        }
        undecided[u / 8] = static_cast<std::uint8_t>(unsure);
        undecided[u / 8 + 1] = static_cast<std::uint8_t>(unsure >> 8);
        any |= unsure;
        if (inside != 0) {
            u_first = std::min(u_first, u + __builtin_ctz(inside));
            u_last = std::max(u_last, u + 31 - __builtin_clz(inside));
        }
    }
    return any != 0;
}
#pragma GCC diagnostic pop

bool avx512_supported()
{
    static const bool supported = __builtin_cpu_supports("avx512f") &&
                                  __builtin_cpu_supports("avx512bw") &&
                                  __builtin_cpu_supports("avx512vl") && avx2_supported();
    return supported;
}

bool avx2_supported()
{
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
}
#else
bool avx2_supported() { return false; }
bool avx512_supported() { return false; }
#endif

// The first and last non-zero column of a mask row that has one.
void row_span(const std::uint8_t* mask_row, int& u_first, int& u_last)
{
    int first = 0;
    while (mask_row[first] == 0) ++first;
    int last = 639;
    while (mask_row[last] == 0) --last;
    u_first = first;
    u_last = last;
}

bool row_has_pixel(const std::uint8_t* mask_row)
{
    std::uint64_t any = 0;
    for (int u = 0; u < 640; u += 8) {
        std::uint64_t word;
        std::memcpy(&word, mask_row + u, sizeof word);
        any |= word;
    }
    return any != 0;
}

// The face mask inside the face's bounding rectangle. Only that rectangle of the mask is read.
// When every inner contour lies in it too, nothing is clipped and the fills there (integer
// vertices shifted by whole pixels) are those of the whole image; the rest of the mask is left
// unset. An inner contour that only starts inside the face may leave the rectangle: then the
// whole mask is filled. The mask is the calling thread's own and lives until its next call.
const cv::Mat& face_mask_in_rect(const std::vector<Contour>& selection,
                                 const cv::Rect& bounding_rect, const cv::Size& size)
{
    thread_local cv::Mat face_mask;
    const cv::Rect image(cv::Point(0, 0), size);
    bool inside_rect = (bounding_rect & image) == bounding_rect;
    for (std::size_t j = 1; j < selection.size() && inside_rect; ++j) {
        inside_rect = (cv::boundingRect(selection[j]) & bounding_rect) == cv::boundingRect(selection[j]);
    }
    if (inside_rect) {
        face_mask.create(size, CV_8UC1);
        cv::Mat face_window = face_mask(bounding_rect);
        face_window.setTo(0);
        for (std::size_t j = 0; j < selection.size(); ++j) {
            // The face first, then every inner contour cut out again, as fill_face_mask does.
            const cv::Scalar colour = j == 0 ? cv::Scalar(255) : cv::Scalar(0);
            cv::drawContours(face_window, selection, static_cast<int>(j), colour, cv::FILLED,
                             cv::LINE_8, cv::noArray(), INT_MAX, -bounding_rect.tl());
        }
    } else {
        face_mask = fill_face_mask(selection, size);
    }
    return face_mask;
}

// The depths of the face points of a rectangle, column by column (0 for every other pixel), and
// how many there are.
struct KeptDepths {
    cv::Rect rect;
    const std::uint16_t* column_major;  // column c starts at column_major + c * stride
    std::size_t stride;                 // rect.height or more; the rows past it hold zeros
    std::size_t count;
};

// The depth of a pixel of the face's rectangle if it is a face point, else 0.
std::uint16_t kept_depth(const cv::Mat& face_mask, const cv::Mat& band, const cv::Mat& depth,
                         int v, int u)
{
    const bool kept = face_mask.at<std::uint8_t>(v, u) != 0 && band.at<std::uint8_t>(v, u) != 0;
    return kept ? depth.at<std::uint16_t>(v, u) : 0;
}

// Row-major pass over the rectangle into a column-major buffer of the depths that pass both
// masks: a walk down its columns meets the points in gather_face_points' order. The buffer is
// the calling thread's own and lives until its next call; four zeros follow the last column, so
// a reader may take four depths at a time.
KeptDepths kept_depths_portable(const cv::Mat& face_mask, const cv::Rect& r, const cv::Mat& band,
                                const cv::Mat& depth, std::vector<std::uint16_t>& kept)
{
    const std::size_t height = static_cast<std::size_t>(r.height);
    kept.assign(static_cast<std::size_t>(r.area()) + 4, 0);
    std::size_t count = 0;
    for (int v = r.y; v < r.y + r.height; ++v) {
        std::uint16_t* column_major = kept.data() + (v - r.y);
        for (int u = r.x; u < r.x + r.width; ++u) {
            const std::uint16_t d = kept_depth(face_mask, band, depth, v, u);
            column_major[static_cast<std::size_t>(u - r.x) * height] = d;
            count += d != 0;
        }
    }
    return {r, kept.data(), height, count};
}

#ifdef PALLET_HAVE_AVX2_PASS
// The same in blocks of 8 x 8 pixels turned by register shuffles; the columns are padded to a
// multiple of 8 rows with zeros.
__attribute__((target("avx2"))) KeptDepths kept_depths_avx2(const cv::Mat& face_mask,
                                                            const cv::Rect& r, const cv::Mat& band,
                                                            const cv::Mat& depth,
                                                            std::vector<std::uint16_t>& kept)
{
    const std::size_t stride = (static_cast<std::size_t>(r.height) + 7) & ~std::size_t{7};
    const std::size_t width = static_cast<std::size_t>(r.width);
    kept.resize(width * stride + 4);
    std::fill(kept.end() - 4, kept.end(), std::uint16_t{0});
    const __m128i zero = _mm_setzero_si128();
    std::size_t count = 0;
    for (std::size_t vb = 0; vb < stride; vb += 8) {
        for (std::size_t ub = 0; ub < width; ub += 8) {
            const int u = r.x + static_cast<int>(ub);
            const int columns = static_cast<int>(std::min<std::size_t>(8, width - ub));
            __m128i rows[8];
            for (int t = 0; t < 8; ++t) {
                const int v = r.y + static_cast<int>(vb) + t;
                if (v >= r.y + r.height) {
                    rows[t] = zero;
                } else if (columns == 8) {
                    const __m128i f = _mm_cvtepu8_epi16(
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(face_mask.ptr<std::uint8_t>(v) + u)));
                    const __m128i b = _mm_cvtepu8_epi16(
                        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(band.ptr<std::uint8_t>(v) + u)));
                    const __m128i d =
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(depth.ptr<std::uint16_t>(v) + u));
                    const __m128i dropped = _mm_or_si128(_mm_cmpeq_epi16(f, zero), _mm_cmpeq_epi16(b, zero));
                    rows[t] = _mm_andnot_si128(dropped, d);
                } else {
                    alignas(16) std::uint16_t part[8] = {};
                    for (int j = 0; j < columns; ++j) part[j] = kept_depth(face_mask, band, depth, v, u + j);
                    rows[t] = _mm_load_si128(reinterpret_cast<const __m128i*>(part));
                }
                const int zero_bytes = _mm_movemask_epi8(_mm_cmpeq_epi16(rows[t], zero));
                count += static_cast<std::size_t>(8 - __builtin_popcount(static_cast<unsigned>(zero_bytes)) / 2);
            }
            const __m128i any = _mm_or_si128(_mm_or_si128(_mm_or_si128(rows[0], rows[1]), _mm_or_si128(rows[2], rows[3])),
                                             _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7])));
            if (_mm_testz_si128(any, any)) {  // no face point in the block: nothing to turn
                for (int j = 0; j < columns; ++j) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(kept.data() + (ub + static_cast<std::size_t>(j)) * stride + vb),
                                     zero);
                }
                continue;
            }
            const __m128i a0 = _mm_unpacklo_epi16(rows[0], rows[1]), a1 = _mm_unpackhi_epi16(rows[0], rows[1]);
            const __m128i a2 = _mm_unpacklo_epi16(rows[2], rows[3]), a3 = _mm_unpackhi_epi16(rows[2], rows[3]);
            const __m128i a4 = _mm_unpacklo_epi16(rows[4], rows[5]), a5 = _mm_unpackhi_epi16(rows[4], rows[5]);
            const __m128i a6 = _mm_unpacklo_epi16(rows[6], rows[7]), a7 = _mm_unpackhi_epi16(rows[6], rows[7]);
            const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
            const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
            const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
            const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
            const __m128i column[8] = {_mm_unpacklo_epi64(b0, b4), _mm_unpackhi_epi64(b0, b4),
                                       _mm_unpacklo_epi64(b1, b5), _mm_unpackhi_epi64(b1, b5),
                                       _mm_unpacklo_epi64(b2, b6), _mm_unpackhi_epi64(b2, b6),
                                       _mm_unpacklo_epi64(b3, b7), _mm_unpackhi_epi64(b3, b7)};
            for (int j = 0; j < columns; ++j) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(kept.data() + (ub + static_cast<std::size_t>(j)) * stride + vb),
                                 column[j]);
            }
        }
    }
    return {r, kept.data(), stride, count};
}
#endif

// Whether a pass other than the portable one runs: vector code for everything after the band
// pass is AVX2.
bool vector_pass(PixelPass pass)
{
    CV_Assert(pass == PixelPass::automatic || pass == PixelPass::portable || avx2_supported());
    return pass != PixelPass::portable && avx2_supported();
}

KeptDepths kept_depths(const cv::Mat& face_mask, const cv::Rect& face_rect,
                       const cv::Mat& combined_band_mask, const cv::Mat& depth, PixelPass pass)
{
    thread_local std::vector<std::uint16_t> kept;
    const cv::Rect r = face_rect & cv::Rect(0, 0, face_mask.cols, face_mask.rows);
#ifdef PALLET_HAVE_AVX2_PASS
    if (vector_pass(pass)) return kept_depths_avx2(face_mask, r, combined_band_mask, depth, kept);
#else
    (void)pass;
#endif
    return kept_depths_portable(face_mask, r, combined_band_mask, depth, kept);
}

// Calls point(v, u, d) for every kept depth in column-major order.
template <typename PointUse>
void walk_columns(const KeptDepths& kept, PointUse&& point)
{
    for (int c = 0; c < kept.rect.width; ++c) {
        const std::uint16_t* d = kept.column_major + static_cast<std::size_t>(c) * kept.stride;
        for (int row = 0; row < kept.rect.height; ++row) {
            if (d[row] != 0) point(kept.rect.y + row, kept.rect.x + c, d[row]);
        }
    }
}

// The camera points of the kept depths, in column-major order.
std::vector<cv::Point3d> points_of(const KeptDepths& kept)
{
    std::vector<cv::Point3d> points;
    points.reserve(kept.count);
    walk_columns(kept, [&points](int v, int u, std::uint16_t d) {
        points.push_back(depth_to_point(v, u, d));
    });
    return points;
}

#ifdef PALLET_HAVE_AVX2_PASS
// For each pattern of four lanes, the float lanes that move the kept doubles to the front.
const std::array<std::array<std::int32_t, 8>, 16>& packing_orders()
{
    static const std::array<std::array<std::int32_t, 8>, 16> orders = [] {
        std::array<std::array<std::int32_t, 8>, 16> t{};
        for (unsigned bits = 0; bits < 16; ++bits) {
            int next = 0;
            for (int lane = 0; lane < 4; ++lane) {
                if ((bits & (1u << lane)) == 0) continue;
                t[bits][static_cast<std::size_t>(2 * next)] = 2 * lane;
                t[bits][static_cast<std::size_t>(2 * next + 1)] = 2 * lane + 1;
                ++next;
            }
        }
        return t;
    }();
    return orders;
}

__attribute__((target("avx2"))) inline void store_packed(double* at, __m256d value, __m256i order)
{
    _mm256_storeu_pd(at, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(value), order)));
}

// walk_columns with depth_to_point into the replica's buffers, four pixels of a column at a
// time: x = (d * (u - cx)) / fx and y = (d * (v - cy)) / fy, rounded as depth_to_point rounds
// them (a product, then a quotient; for d > 0 neither is -0), the kept points of the four packed
// to the front and stored at the next free place (up to three entries past it are overwritten
// later or ignored).
__attribute__((target("avx2"))) void write_points_avx2(const KeptDepths& kept,
                                                       const PlaneFitReplica::Points& out)
{
    const int h = static_cast<int>(kept.stride);
    thread_local std::vector<double> row_offsets;
    row_offsets.resize(static_cast<std::size_t>(h) + 4);
    for (int i = 0; i < h + 4; ++i) {
        row_offsets[static_cast<std::size_t>(i)] =
            static_cast<double>(kept.rect.y + i) - camera_model.cy;
    }
    const std::array<std::array<std::int32_t, 8>, 16>& orders = packing_orders();
    const __m256d fx = _mm256_set1_pd(camera_model.fx), fy = _mm256_set1_pd(camera_model.fy);
    const __m256d zero = _mm256_setzero_pd();
    const std::uint16_t* column = kept.column_major;
    std::size_t k = 0;
    for (int u = kept.rect.x; u < kept.rect.x + kept.rect.width; ++u, column += h) {
        const __m256d offset = _mm256_set1_pd(static_cast<double>(u) - camera_model.cx);
        for (int i = 0; i < h; i += 4) {
            std::uint64_t raw;  // may reach into the next column: masked below
            std::memcpy(&raw, column + i, sizeof raw);
            if (raw == 0) continue;
            const __m256d d = _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_cvtsi64_si128(static_cast<long long>(raw))));
            int bits = _mm256_movemask_pd(_mm256_cmp_pd(d, zero, _CMP_NEQ_OQ));
            if (h - i < 4) bits &= (1 << (h - i)) - 1;
            if (bits == 0) continue;
            const __m256d x = _mm256_div_pd(_mm256_mul_pd(d, offset), fx);
            const __m256d y = _mm256_div_pd(
                _mm256_mul_pd(d, _mm256_loadu_pd(row_offsets.data() + i)), fy);
            const __m256i order = _mm256_loadu_si256(
                reinterpret_cast<const __m256i*>(orders[static_cast<std::size_t>(bits)].data()));
            store_packed(out.x + k, x, order);
            store_packed(out.y + k, y, order);
            store_packed(out.z + k, d, order);
            k += static_cast<std::size_t>(__builtin_popcount(static_cast<unsigned>(bits)));
        }
    }
}

// write_points_avx2 eight pixels at a time with AVX-512 (the stride is a multiple of 8).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f,avx512bw,avx512vl,avx2"))) void write_points_avx512(
    const KeptDepths& kept, const PlaneFitReplica::Points& out)
{
    const int h = static_cast<int>(kept.stride);
    thread_local std::vector<double> row_offsets;
    row_offsets.resize(static_cast<std::size_t>(h));
    for (int i = 0; i < h; ++i) {
        row_offsets[static_cast<std::size_t>(i)] =
            static_cast<double>(kept.rect.y + i) - camera_model.cy;
    }
    const __m512d fx = _mm512_set1_pd(camera_model.fx), fy = _mm512_set1_pd(camera_model.fy);
    const std::uint16_t* column = kept.column_major;
    std::size_t k = 0;
    for (int u = kept.rect.x; u < kept.rect.x + kept.rect.width; ++u, column += h) {
        const __m512d offset = _mm512_set1_pd(static_cast<double>(u) - camera_model.cx);
        for (int i = 0; i < h; i += 8) {
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + i));
            const __mmask8 kept_lanes = _mm_test_epi16_mask(raw, raw);
            if (kept_lanes == 0) continue;
            const __m512d d = _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(raw));
            const __m512d x = _mm512_div_pd(_mm512_mul_pd(d, offset), fx);
            const __m512d y = _mm512_div_pd(_mm512_mul_pd(d, _mm512_loadu_pd(row_offsets.data() + i)), fy);
            _mm512_storeu_pd(out.x + k, _mm512_maskz_compress_pd(kept_lanes, x));
            _mm512_storeu_pd(out.y + k, _mm512_maskz_compress_pd(kept_lanes, y));
            _mm512_storeu_pd(out.z + k, _mm512_maskz_compress_pd(kept_lanes, d));
            k += static_cast<std::size_t>(__builtin_popcount(kept_lanes));
        }
    }
}
#pragma GCC diagnostic pop
#endif

FaceFit fast_fit_face(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                      const cv::Mat& combined_band_mask, const cv::Mat& depth, PixelPass pass)
{
    const cv::Mat& face_mask = face_mask_in_rect(selection, bounding_rect, depth.size());
    // The face is filled inside its own bounding rectangle and the inner fills only clear pixels.
    const KeptDepths kept = kept_depths(face_mask, bounding_rect, combined_band_mask, depth, pass);
    if (!PlaneFitReplica::covers(kept.count)) {
        const std::vector<cv::Point3d> face_points = points_of(kept);
        return {face_points.size(), fit_plane(face_points)};
    }
    thread_local PlaneFitReplica replica;
    const PlaneFitReplica::Points points = replica.start(kept.count);
#ifdef PALLET_HAVE_AVX2_PASS
    if (vector_pass(pass)) {
        const bool wide = pass != PixelPass::avx2 && avx512_supported();
        if (wide) {
            write_points_avx512(kept, points);
        } else {
            write_points_avx2(kept, points);
        }
        return {kept.count, replica.solve(wide ? PlaneFitReplica::Lanes::avx512
                                               : PlaneFitReplica::Lanes::avx2)};
    }
#endif
    std::size_t i = 0;
    walk_columns(kept, [&points, &i](int v, int u, std::uint16_t d) {
        const cv::Point3d p = depth_to_point(v, u, d);
        points.x[i] = p.x;
        points.y[i] = p.y;
        points.z[i] = p.z;
        ++i;
    });
    return {kept.count, replica.solve_portable()};
}

// fast_fit_face as a FaceFitter for each pass.
template <PixelPass pass>
FaceFit fast_fit_face_with(const std::vector<Contour>& selection, const cv::Rect& bounding_rect,
                           const cv::Mat& combined_band_mask, const cv::Mat& depth)
{
    return fast_fit_face(selection, bounding_rect, combined_band_mask, depth, pass);
}

}  // namespace

bool avx2_pass_available() { return avx2_supported(); }

bool avx512_pass_available() { return avx512_supported(); }

BandMask fast_combined_band_mask(const cv::Mat& depth)
{
    return fast_combined_band_mask(depth, PixelPass::automatic);
}

BandMask fast_combined_band_mask(const cv::Mat& depth, PixelPass pass)
{
    BandMask band;
    band.mask.create(480, 640, CV_8UC1);
    band.bounds = band_pass(depth, pass, band.mask, false);
    return band;
}

namespace {

// The smallest and largest measured (non-zero) depth of a row of 640; none gives lo > hi.
void measured_range_portable(const std::uint16_t* row, int& lo, int& hi)
{
    std::uint16_t below = 0xffff, top = 0;  // below: smallest d - 1, so that 0 wraps to the top
    for (int u = 0; u < 640; ++u) {
        below = std::min(below, static_cast<std::uint16_t>(row[u] - 1));
        top = std::max(top, row[u]);
    }
    lo = top == 0 ? 1 : below + 1;
    hi = top;
}

#ifdef PALLET_HAVE_AVX2_PASS
// lo and hi from eight lanes of smallest d - 1 and largest d: SSE4.1 finds the smallest of
// eight, and the largest is the smallest complement.
__attribute__((target("sse4.1"))) inline void measured_range_of_lanes(__m128i below, __m128i top,
                                                                   int& lo, int& hi)
{
    const int smallest_below = _mm_extract_epi16(_mm_minpos_epu16(below), 0);
    const int largest = 0xffff - _mm_extract_epi16(_mm_minpos_epu16(_mm_xor_si128(top, _mm_set1_epi16(-1))), 0);
    lo = largest == 0 ? 1 : smallest_below + 1;
    hi = largest;
}

__attribute__((target("avx2"))) void measured_range_avx2(const std::uint16_t* row, int& lo, int& hi)
{
    const __m256i one = _mm256_set1_epi16(1);
    __m256i below = _mm256_set1_epi16(-1), top = _mm256_setzero_si256();
    for (int u = 0; u < 640; u += 16) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + u));
        below = _mm256_min_epu16(below, _mm256_sub_epi16(d, one));
        top = _mm256_max_epu16(top, d);
    }
    measured_range_of_lanes(_mm_min_epu16(_mm256_castsi256_si128(below), _mm256_extracti128_si256(below, 1)),
                            _mm_max_epu16(_mm256_castsi256_si128(top), _mm256_extracti128_si256(top, 1)),
                            lo, hi);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
__attribute__((target("avx512f,avx512bw,avx2"))) void measured_range_avx512(const std::uint16_t* row,
                                                                          int& lo, int& hi)
{
    const __m512i one = _mm512_set1_epi16(1);
    __m512i below = _mm512_set1_epi16(-1), top = _mm512_setzero_si512();
    for (int u = 0; u < 640; u += 32) {
        const __m512i d = _mm512_loadu_si512(row + u);
        below = _mm512_min_epu16(below, _mm512_sub_epi16(d, one));
        top = _mm512_max_epu16(top, d);
    }
    const __m256i b = _mm256_min_epu16(_mm512_castsi512_si256(below), _mm512_extracti64x4_epi64(below, 1));
    const __m256i t = _mm256_max_epu16(_mm512_castsi512_si256(top), _mm512_extracti64x4_epi64(top, 1));
    measured_range_of_lanes(_mm_min_epu16(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1)),
                            _mm_max_epu16(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1)),
                            lo, hi);
}
#pragma GCC diagnostic pop
#endif

// Whether no measured pixel of row v can be in the height band: with K(u) = ka(u) + kb(v) affine
// in u, every measured z' = d K(u) - k0 of the row lies between the extremes of d K over the
// corners of [lo, hi] x [K(0), K(639)]. The interval is computed in double from the fast M, which
// the float margin already trusts to be that close to the literal z' (its float roundings are far
// larger than these double ones), so a row whose whole interval is a margin away from the band
// holds no pixel the literal form would keep. A row without a measured pixel has none either.
bool row_surely_below_or_above(const FloatAxis& z, int v, int lo, int hi)
{
    if (lo > hi) return true;
    const double kb = z.b_scale * v + z.b_offset;
    const double k_first = z.ka_first + kb, k_last = z.ka_last + kb;
    const double c[4] = {lo * k_first, lo * k_last, hi * k_first, hi * k_last};
    const double low = std::min(std::min(c[0], c[1]), std::min(c[2], c[3])) - z.k0_exact;
    const double high = std::max(std::max(c[0], c[1]), std::max(c[2], c[3])) - z.k0_exact;
    const double margin = static_cast<double>(z.margin) +
                          1e-12 * (hi * (std::abs(k_first) + std::abs(k_last)) + std::abs(z.k0_exact) + 1.0);
    // Outside the band: |z'| < 41 or |z'| >= 241. NaN or an infinite margin compares false.
    return (low > -(41.0 - margin) && high < 41.0 - margin) || low > 241.0 + margin ||
           high < -(241.0 + margin);
}

// The band pass into mask (480 x 640 CV_8UC1); returns the bounds of its non-zero pixels. With
// zeroed, the mask holds only zeros on entry and the pass writes its non-zero pixels only.
cv::Rect band_pass(const cv::Mat& depth, PixelPass pass, cv::Mat& mask, bool zeroed)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == 480 && depth.cols == 640);
    const bool wide = pass == PixelPass::avx512 || (pass == PixelPass::automatic && avx512_supported());
    const bool vector = wide || pass == PixelPass::avx2 ||
                        (pass == PixelPass::automatic && avx2_supported());
    CV_Assert(!vector || avx2_supported());
    CV_Assert(!wide || avx512_supported());
    const FastGround fast = fast_ground_frame(depth);
    const FloatPass f{float_axis(fast.frame.m00, fast.frame.m01, fast.frame.m02, fast),
                      float_axis(fast.frame.m10, fast.frame.m11, fast.frame.m12, fast),
                      float_axis(fast.frame.m20, fast.frame.m21, fast.frame.m22, fast)};
    std::optional<GroundFrame> literal;  // made on the first pixel that needs it
#ifdef PALLET_HAVE_AVX2_PASS
    const VectorBands bands = vector_bands(f);
#endif

    std::array<std::uint8_t, 640> undecided;  // a flag per pixel, or a bit per pixel (vector)
    int u_min = 640, u_max = -1, v_min = -1, v_max = -1;
    for (int v = 0; v < 480; ++v) {
        const std::uint16_t* depth_row = depth.ptr<std::uint16_t>(v);
        std::uint8_t* mask_row = mask.ptr<std::uint8_t>(v);
        int u_first = 640, u_last = -1;
        int lo = 0, hi = 0;
#ifdef PALLET_HAVE_AVX2_PASS
        if (wide) {
            measured_range_avx512(depth_row, lo, hi);
        } else if (vector) {
            measured_range_avx2(depth_row, lo, hi);
        } else {
            measured_range_portable(depth_row, lo, hi);
        }
#else
        measured_range_portable(depth_row, lo, hi);
#endif
        if (row_surely_below_or_above(f.z, v, lo, hi)) {
            if (!zeroed) std::memset(mask_row, 0, 640);
            continue;
        }
        // A pixel the float pass left undecided: decided in double, with the literal M if the
        // fast one cannot decide it either.
        const auto decide = [&](int u) {
            const Decision decision = in_bands_fast(fast, v, u, depth_row[u]);
            bool inside = decision == Decision::inside;
            if (decision == Decision::undecided) {
                if (!literal) literal = literal_ground_frame(depth);
                inside = in_bands_exact(*literal, v, u, depth_row[u]);
            }
            mask_row[u] = inside ? 255 : 0;
            if (inside) {
                u_first = std::min(u_first, u);
                u_last = std::max(u_last, u);
            }
        };
#ifdef PALLET_HAVE_AVX2_PASS
        if (vector) {
            const auto row = wide ? (zeroed ? float_row_avx512<true> : float_row_avx512<false>)
                                  : (zeroed ? float_row_avx2<true> : float_row_avx2<false>);
            const bool unsure = row(f, bands, v, depth_row, mask_row, undecided.data(), u_first, u_last);
            if (unsure) {
                for (int group = 0; group < 80; ++group) {
                    for (unsigned bits = undecided[static_cast<std::size_t>(group)]; bits != 0;
                         bits &= bits - 1) {
                        decide(8 * group + __builtin_ctz(bits));
                    }
                }
            }
        }
#endif
        if (!vector) {
            if (float_row(f, v, depth_row, mask_row, undecided.data())) {
                for (int u = 0; u < 640; ++u) {
                    if (undecided[static_cast<std::size_t>(u)] != 0) decide(u);
                }
            }
            if (row_has_pixel(mask_row)) row_span(mask_row, u_first, u_last);
        }
        if (u_last >= 0) {
            u_min = std::min(u_min, u_first);
            u_max = std::max(u_max, u_last);
            if (v_min < 0) v_min = v;
            v_max = v;
        }
    }
    if (v_min < 0) return {};
    return {u_min, v_min, u_max - u_min + 1, v_max - v_min + 1};
}

}  // namespace

std::vector<Contour> fast_candidate_contours(const BandMask& band)
{
    if (band.bounds.empty()) return {};
    // Outside the bounds the mask is 0. The blur reaches 1 pixel further, the opening never
    // beyond the blurred area: a window 4 pixels wider on each side holds every non-zero pixel
    // of the filtered region, which opened_region finds with bit operations.
    const cv::Rect window =
        cv::Rect(band.bounds.x - 4, band.bounds.y - 4, band.bounds.width + 8,
                 band.bounds.height + 8) &
        cv::Rect(0, 0, band.mask.cols, band.mask.rows);
    // Every non-zero pixel lies at least 3 pixels inside the window (or at the image's own edge),
    // and the search pads with zeros, so the trace and its order are those of the whole image.
    return candidate_contours_in_region(opened_region(band.mask, band.bounds, window), window.tl());
}

std::vector<cv::Point3d> fast_face_points(const cv::Mat& face_mask, const cv::Rect& face_rect,
                                          const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                          PixelPass pass)
{
    return points_of(kept_depths(face_mask, face_rect, combined_band_mask, depth, pass));
}

namespace {

// The calling thread's band mask, all zeros between two frames: the pass then writes only its
// non-zero pixels, and they are cleared again when the frame is done (or abandoned).
class ZeroedMask {
public:
    ZeroedMask()
    {
        if (mask_.empty()) mask_ = cv::Mat::zeros(480, 640, CV_8UC1);
    }
    ~ZeroedMask() { mask_(set_).setTo(0); }
    ZeroedMask(const ZeroedMask&) = delete;
    ZeroedMask& operator=(const ZeroedMask&) = delete;

    cv::Mat& mask() { return mask_; }
    void set_in(const cv::Rect& bounds) { set_ = bounds; }

private:
    static thread_local cv::Mat mask_;
    cv::Rect set_;
};

thread_local cv::Mat ZeroedMask::mask_;

}  // namespace

FrameAnalysis analyse_depth_fast(const cv::Mat& depth, PixelPass pass)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
    ZeroedMask zeroed;
    // Every pixel the pass sets lies in the bounds it returns; the guard clears them, even when
    // the pass itself throws after setting some (then the whole mask).
    zeroed.set_in(cv::Rect(0, 0, 640, 480));
    BandMask band{zeroed.mask(), cv::Rect()};
    band.bounds = band_pass(depth, pass, band.mask, true);
    zeroed.set_in(band.bounds);
    const std::vector<Contour> candidate_contours = fast_candidate_contours(band);
    return analyse_candidates_fast(candidate_contours, band.mask, depth, pass);
}

FrameAnalysis analyse_candidates_fast(const std::vector<Contour>& candidate_contours,
                                      const cv::Mat& combined_band_mask, const cv::Mat& depth,
                                      PixelPass pass)
{
    const FaceFitter fit = pass == PixelPass::portable ? fast_fit_face_with<PixelPass::portable>
                           : pass == PixelPass::avx2   ? fast_fit_face_with<PixelPass::avx2>
                                                       : fast_fit_face_with<PixelPass::automatic>;
    return analyse_candidates(candidate_contours, combined_band_mask, depth, fit);
}
