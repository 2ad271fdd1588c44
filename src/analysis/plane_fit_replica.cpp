#include "analysis/plane_fit_replica.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define PALLET_HAVE_AVX2_FIT 1
#endif

#include <Eigen/LU>

// Every sum here must round exactly as the library's kernels round: a product, then a sum. This
// file is compiled without contraction into fused multiply-adds (see src/CMakeLists.txt), and the
// vector code is built for AVX2 without FMA.

namespace {

// The sums of A^T A over one group of four (or eight) blocks: lane l holds block 4g + l.
struct GramLanes {
    std::array<double, 8> xx{}, xy{}, x{}, yy{}, y{};
};

// The sums of the last product over one group of four (or eight) 16-point blocks.
struct ColumnLanes {
    std::array<double, 8> a{}, b{}, c{};
};

// The inverse as the library forms it for a dynamic-size matrix (partial-pivoting LU).
struct Inverse {
    double p[3][3];
};

// Lane l sums the `steps` points from x + l * stride on.
void gram_group_portable(const double* x, const double* y, std::size_t stride, std::size_t steps,
                         GramLanes& s)
{
    for (std::size_t l = 0; l < 4; ++l) {
        const double* bx = x + l * stride;
        const double* by = y + l * stride;
        for (std::size_t k = 0; k < steps; ++k) {
            s.xx[l] += bx[k] * bx[k];
            s.xy[l] += bx[k] * by[k];
            s.x[l] += bx[k];
            s.yy[l] += by[k] * by[k];
            s.y[l] += by[k];
        }
    }
}

// ((0 + p0 x) + p1 y) + p2, then + 0 as the product's result is added to its zeroed destination.
double column_entry(const double* p, double x, double y)
{
    return (((0.0 + p[0] * x) + p[1] * y) + p[2]) + 0.0;
}

// Lane l sums the 16 points from x + 16 l on.
void column_group_portable(const Inverse& inv, const double* x, const double* y, const double* z,
                           ColumnLanes& s)
{
    for (std::size_t l = 0; l < 4; ++l) {
        for (std::size_t k = 16 * l; k < 16 * l + 16; ++k) {
            s.a[l] += column_entry(inv.p[0], x[k], y[k]) * z[k];
            s.b[l] += column_entry(inv.p[1], x[k], y[k]) * z[k];
            s.c[l] += column_entry(inv.p[2], x[k], y[k]) * z[k];
        }
    }
}

#ifdef PALLET_HAVE_AVX2_FIT
// Four rows of four loaded from p, p + stride, p + 2 stride, p + 3 stride, turned into four
// columns: column t holds entry t of every row, row l in lane l.
struct Columns {
    __m256d c[4];
};

__attribute__((target("avx2"))) inline Columns transposed(const double* p, std::size_t stride)
{
    const __m256d r0 = _mm256_loadu_pd(p), r1 = _mm256_loadu_pd(p + stride),
                  r2 = _mm256_loadu_pd(p + 2 * stride), r3 = _mm256_loadu_pd(p + 3 * stride);
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    return {{_mm256_permute2f128_pd(t0, t2, 0x20), _mm256_permute2f128_pd(t1, t3, 0x20),
             _mm256_permute2f128_pd(t0, t2, 0x31), _mm256_permute2f128_pd(t1, t3, 0x31)}};
}

// gram_group_portable with the four lanes in one register; steps is a multiple of 4.
__attribute__((target("avx2"))) void gram_group_avx2(const double* x, const double* y,
                                                     std::size_t stride, std::size_t steps,
                                                     GramLanes& s)
{
    __m256d xx = _mm256_setzero_pd(), xy = xx, sx = xx, yy = xx, sy = xx;
    for (std::size_t k = 0; k < steps; k += 4) {
        const Columns X = transposed(x + k, stride);
        const Columns Y = transposed(y + k, stride);
        for (int t = 0; t < 4; ++t) {
            xx = _mm256_add_pd(xx, _mm256_mul_pd(X.c[t], X.c[t]));
            xy = _mm256_add_pd(xy, _mm256_mul_pd(X.c[t], Y.c[t]));
            sx = _mm256_add_pd(sx, X.c[t]);
            yy = _mm256_add_pd(yy, _mm256_mul_pd(Y.c[t], Y.c[t]));
            sy = _mm256_add_pd(sy, Y.c[t]);
        }
    }
    _mm256_storeu_pd(s.xx.data(), xx);
    _mm256_storeu_pd(s.xy.data(), xy);
    _mm256_storeu_pd(s.x.data(), sx);
    _mm256_storeu_pd(s.yy.data(), yy);
    _mm256_storeu_pd(s.y.data(), sy);
}

// column_group_portable with the four lanes in one register. With p2 != 0 in every row, the
// leading 0 + and the trailing + 0 of column_entry change nothing: they only turn a -0 into +0,
// and a sum that ends by adding a non-zero p2 is never -0 and does not depend on the sign of a
// zero before it.
__attribute__((target("avx2"))) void column_group_avx2(const Inverse& inv, const double* x,
                                                       const double* y, const double* z,
                                                       ColumnLanes& s)
{
    const __m256d p00 = _mm256_set1_pd(inv.p[0][0]), p01 = _mm256_set1_pd(inv.p[0][1]),
                  p02 = _mm256_set1_pd(inv.p[0][2]);
    const __m256d p10 = _mm256_set1_pd(inv.p[1][0]), p11 = _mm256_set1_pd(inv.p[1][1]),
                  p12 = _mm256_set1_pd(inv.p[1][2]);
    const __m256d p20 = _mm256_set1_pd(inv.p[2][0]), p21 = _mm256_set1_pd(inv.p[2][1]),
                  p22 = _mm256_set1_pd(inv.p[2][2]);
    __m256d a = _mm256_setzero_pd(), b = a, c = a;
    for (int k = 0; k < 16; k += 4) {
        const Columns X = transposed(x + k, 16);
        const Columns Y = transposed(y + k, 16);
        const Columns Z = transposed(z + k, 16);
        for (int t = 0; t < 4; ++t) {
            const __m256d qa = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(p00, X.c[t]), _mm256_mul_pd(p01, Y.c[t])), p02);
            const __m256d qb = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(p10, X.c[t]), _mm256_mul_pd(p11, Y.c[t])), p12);
            const __m256d qc = _mm256_add_pd(
                _mm256_add_pd(_mm256_mul_pd(p20, X.c[t]), _mm256_mul_pd(p21, Y.c[t])), p22);
            a = _mm256_add_pd(a, _mm256_mul_pd(qa, Z.c[t]));
            b = _mm256_add_pd(b, _mm256_mul_pd(qb, Z.c[t]));
            c = _mm256_add_pd(c, _mm256_mul_pd(qc, Z.c[t]));
        }
    }
    _mm256_storeu_pd(s.a.data(), a);
    _mm256_storeu_pd(s.b.data(), b);
    _mm256_storeu_pd(s.c.data(), c);
}

// GCC 12's own AVX-512 intrinsics pass an "undefined" source register that its
// -Wmaybe-uninitialized flags; nothing of ours is uninitialised here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Eight rows of eight loaded from p, p + stride, ..., p + 7 stride, turned into eight columns:
// column t holds entry t of every row, row l in lane l.
struct Columns8 {
    __m512d c[8];
};

__attribute__((target("avx512f"))) inline Columns8 transposed8(const double* p, std::size_t stride)
{
    __m512d r[8];
    for (std::size_t l = 0; l < 8; ++l) r[l] = _mm512_loadu_pd(p + l * stride);
    __m512d t[8];
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = _mm512_unpacklo_pd(r[2 * i], r[2 * i + 1]);      // entries 0 2 4 6 of two rows
        t[2 * i + 1] = _mm512_unpackhi_pd(r[2 * i], r[2 * i + 1]);  // entries 1 3 5 7
    }
    const __m512i low = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i high = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    __m512d q[8];
    for (int half = 0; half < 2; ++half) {  // rows 0-3, rows 4-7
        const int o = 4 * half;
        q[o + 0] = _mm512_permutex2var_pd(t[o + 0], low, t[o + 2]);   // entries 0, 4
        q[o + 1] = _mm512_permutex2var_pd(t[o + 1], low, t[o + 3]);   // entries 1, 5
        q[o + 2] = _mm512_permutex2var_pd(t[o + 0], high, t[o + 2]);  // entries 2, 6
        q[o + 3] = _mm512_permutex2var_pd(t[o + 1], high, t[o + 3]);  // entries 3, 7
    }
    Columns8 c;
    for (int e = 0; e < 4; ++e) {
        c.c[e] = _mm512_shuffle_f64x2(q[e], q[4 + e], 0x44);
        c.c[e + 4] = _mm512_shuffle_f64x2(q[e], q[4 + e], 0xee);
    }
    return c;
}

// gram_group_avx2 with eight lanes; steps is a multiple of 8.
__attribute__((target("avx512f"))) void gram_group_avx512(const double* x, const double* y,
                                                          std::size_t stride, std::size_t steps,
                                                          GramLanes& s)
{
    __m512d xx = _mm512_setzero_pd(), xy = xx, sx = xx, yy = xx, sy = xx;
    for (std::size_t k = 0; k < steps; k += 8) {
        const Columns8 X = transposed8(x + k, stride);
        const Columns8 Y = transposed8(y + k, stride);
        for (int t = 0; t < 8; ++t) {
            xx = _mm512_add_pd(xx, _mm512_mul_pd(X.c[t], X.c[t]));
            xy = _mm512_add_pd(xy, _mm512_mul_pd(X.c[t], Y.c[t]));
            sx = _mm512_add_pd(sx, X.c[t]);
            yy = _mm512_add_pd(yy, _mm512_mul_pd(Y.c[t], Y.c[t]));
            sy = _mm512_add_pd(sy, Y.c[t]);
        }
    }
    _mm512_storeu_pd(s.xx.data(), xx);
    _mm512_storeu_pd(s.xy.data(), xy);
    _mm512_storeu_pd(s.x.data(), sx);
    _mm512_storeu_pd(s.yy.data(), yy);
    _mm512_storeu_pd(s.y.data(), sy);
}

// column_group_avx2 with eight lanes: lane l sums the 16 points from x + 16 l on.
__attribute__((target("avx512f"))) void column_group_avx512(const Inverse& inv, const double* x,
                                                            const double* y, const double* z,
                                                            ColumnLanes& s)
{
    const __m512d p00 = _mm512_set1_pd(inv.p[0][0]), p01 = _mm512_set1_pd(inv.p[0][1]),
                  p02 = _mm512_set1_pd(inv.p[0][2]);
    const __m512d p10 = _mm512_set1_pd(inv.p[1][0]), p11 = _mm512_set1_pd(inv.p[1][1]),
                  p12 = _mm512_set1_pd(inv.p[1][2]);
    const __m512d p20 = _mm512_set1_pd(inv.p[2][0]), p21 = _mm512_set1_pd(inv.p[2][1]),
                  p22 = _mm512_set1_pd(inv.p[2][2]);
    __m512d a = _mm512_setzero_pd(), b = a, c = a;
    for (int k = 0; k < 16; k += 8) {
        const Columns8 X = transposed8(x + k, 16);
        const Columns8 Y = transposed8(y + k, 16);
        const Columns8 Z = transposed8(z + k, 16);
        for (int t = 0; t < 8; ++t) {
            const __m512d qa = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(p00, X.c[t]), _mm512_mul_pd(p01, Y.c[t])), p02);
            const __m512d qb = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(p10, X.c[t]), _mm512_mul_pd(p11, Y.c[t])), p12);
            const __m512d qc = _mm512_add_pd(
                _mm512_add_pd(_mm512_mul_pd(p20, X.c[t]), _mm512_mul_pd(p21, Y.c[t])), p22);
            a = _mm512_add_pd(a, _mm512_mul_pd(qa, Z.c[t]));
            b = _mm512_add_pd(b, _mm512_mul_pd(qb, Z.c[t]));
            c = _mm512_add_pd(c, _mm512_mul_pd(qc, Z.c[t]));
        }
    }
    _mm512_storeu_pd(s.a.data(), a);
    _mm512_storeu_pd(s.b.data(), b);
    _mm512_storeu_pd(s.c.data(), c);
}
#pragma GCC diagnostic pop

PlaneFitReplica::Lanes best_lanes()
{
    static const PlaneFitReplica::Lanes lanes =
        __builtin_cpu_supports("avx512f")
            ? PlaneFitReplica::Lanes::avx512
            : __builtin_cpu_supports("avx2") ? PlaneFitReplica::Lanes::avx2
                                             : PlaneFitReplica::Lanes::portable;
    return lanes;
}
#else
PlaneFitReplica::Lanes best_lanes() { return PlaneFitReplica::Lanes::portable; }
#endif

std::size_t depth_block(std::size_t n)
{
    Eigen::Index k = static_cast<Eigen::Index>(n), m = 3, cols = 3;
    Eigen::internal::computeProductBlockingSizes<double, double, 1>(k, m, cols, Eigen::Index{1});
    return static_cast<std::size_t>(std::max<Eigen::Index>(k, 1));
}

std::size_t groups_of(std::size_t blocks, std::size_t lanes) { return (blocks + lanes - 1) / lanes; }

// Entries past the n points up to this many are zeros: they add +0 to every sum. Groups of
// eight blocks cover groups of four.
std::size_t padded_size(std::size_t n, std::size_t kc)
{
    const std::size_t gram = groups_of((n + kc - 1) / kc, 8) * 8 * kc;
    const std::size_t column = groups_of((n + 15) / 16, 8) * 128;
    return std::max({gram, column, n + PlaneFitReplica::spare}) + 8;
}

}  // namespace

PlaneFitReplica::Points PlaneFitReplica::start(std::size_t n)
{
    n_ = n;
    kc_ = depth_block(n);
    const std::size_t size = padded_size(n, kc_);
    for (std::vector<double>* buffer : {&x_, &y_, &z_}) {
        if (buffer->size() < size) buffer->resize(size);
    }
    return {x_.data(), y_.data(), z_.data()};
}

Eigen::Vector3d PlaneFitReplica::solve() { return solve(Lanes::automatic); }

Eigen::Vector3d PlaneFitReplica::solve_portable() { return solve(Lanes::portable); }

bool PlaneFitReplica::available(Lanes lanes)
{
    switch (lanes) {
    case Lanes::automatic:
    case Lanes::portable: return true;
    case Lanes::avx2: return best_lanes() != Lanes::portable;
    case Lanes::avx512: return best_lanes() == Lanes::avx512;
    }
    return false;
}

Eigen::Vector3d PlaneFitReplica::solve(Lanes lanes)
{
    if (lanes == Lanes::automatic) lanes = best_lanes();
    CV_Assert(available(lanes));
    const std::size_t size = padded_size(n_, kc_);
    for (std::vector<double>* buffer : {&x_, &y_, &z_}) {
        std::fill(buffer->begin() + static_cast<std::ptrdiff_t>(n_),
                  buffer->begin() + static_cast<std::ptrdiff_t>(size), 0.0);
    }
    // A^T A: one group of four (eight) blocks at a time, the block sums added in block order.
    // The vector forms take four (eight) steps at a time: kc is a multiple of 8 whenever there
    // are several blocks, and a single block is followed by zeros.
    const std::size_t width = lanes == Lanes::avx512 ? 8 : 4;
    double xx = 0.0, xy = 0.0, x = 0.0, yy = 0.0, y = 0.0;
    const std::size_t blocks = (n_ + kc_ - 1) / kc_;
    const bool vector_gram = blocks == 1 || kc_ % width == 0;
    const std::size_t steps = (kc_ + width - 1) / width * width;
    for (std::size_t g = 0; g < groups_of(blocks, width); ++g) {
        GramLanes s;
        const double* gx = x_.data() + g * width * kc_;
        const double* gy = y_.data() + g * width * kc_;
#ifdef PALLET_HAVE_AVX2_FIT
        if (lanes == Lanes::avx512 && vector_gram) {
            gram_group_avx512(gx, gy, kc_, steps, s);
        } else if (lanes == Lanes::avx2 && vector_gram) {
            gram_group_avx2(gx, gy, kc_, steps, s);
        } else {
            for (std::size_t half = 0; half < width; half += 4) {  // four lanes at a time
                GramLanes part;
                gram_group_portable(gx + half * kc_, gy + half * kc_, kc_, kc_, part);
                for (std::size_t l = 0; l < 4; ++l) {
                    s.xx[half + l] = part.xx[l];
                    s.xy[half + l] = part.xy[l];
                    s.x[half + l] = part.x[l];
                    s.yy[half + l] = part.yy[l];
                    s.y[half + l] = part.y[l];
                }
            }
        }
#else
        (void)vector_gram;
        (void)steps;
        gram_group_portable(gx, gy, kc_, kc_, s);
#endif
        for (std::size_t l = 0; l < width && width * g + l < blocks; ++l) {
            xx = s.xx[l] + xx;
            xy = s.xy[l] + xy;
            x = s.x[l] + x;
            yy = s.yy[l] + yy;
            y = s.y[l] + y;
        }
    }
    Eigen::MatrixXd gram(3, 3);
    gram << xx, xy, x, xy, yy, y, x, y, static_cast<double>(n_);
    const Eigen::MatrixXd inverse = gram.inverse();
    Inverse inv{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) inv.p[r][c] = inverse(r, c);
    }
    const bool vector_columns =
        lanes != Lanes::portable && inv.p[0][2] != 0.0 && inv.p[1][2] != 0.0 && inv.p[2][2] != 0.0;

    // (P A^T) w: one group of four (eight) 16-point blocks at a time, the block sums added in
    // order.
    double a = 0.0, b = 0.0, c = 0.0;
    const std::size_t columns = (n_ + 15) / 16;
    for (std::size_t g = 0; g < groups_of(columns, width); ++g) {
        ColumnLanes s;
        const std::size_t at = g * width * 16;
        const double* cx = x_.data() + at;
        const double* cy = y_.data() + at;
        const double* cz = z_.data() + at;
#ifdef PALLET_HAVE_AVX2_FIT
        if (vector_columns && lanes == Lanes::avx512) {
            column_group_avx512(inv, cx, cy, cz, s);
        } else if (vector_columns && lanes == Lanes::avx2) {
            column_group_avx2(inv, cx, cy, cz, s);
        } else {
            for (std::size_t half = 0; half < width; half += 4) {
                ColumnLanes part;
                column_group_portable(inv, cx + 16 * half, cy + 16 * half, cz + 16 * half, part);
                for (std::size_t l = 0; l < 4; ++l) {
                    s.a[half + l] = part.a[l];
                    s.b[half + l] = part.b[l];
                    s.c[half + l] = part.c[l];
                }
            }
        }
#else
        (void)vector_columns;
        column_group_portable(inv, cx, cy, cz, s);
#endif
        for (std::size_t l = 0; l < width && width * g + l < columns; ++l) {
            a = s.a[l] + a;
            b = s.b[l] + b;
            c = s.c[l] + c;
        }
    }
    return {a, b, c};
}
