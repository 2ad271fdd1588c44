// Angles computed from +, -, *, / and sqrt alone, which every processor rounds alike: the library's
// transcendental functions may run another code path on a processor with other instructions (fused
// multiply-adds, wider vectors) and differ in the last bit, and a result must not.
#pragma once

#include <cmath>

inline constexpr double portable_pi = 3.14159265358979323846;

inline double degrees(double rad)
{
    return rad * (180.0 / portable_pi);
}

inline double radians(double deg)
{
    return deg * (portable_pi / 180.0);
}

// atan2(y, x) in (-pi, pi], within 5e-16 rad of the library's; 0 for (0, 0), NaN for NaN.
inline double portable_atan2(double y, double x)
{
    if (std::isnan(x) || std::isnan(y)) return NAN;
    if (x == 0.0 && y == 0.0) return 0.0;
    const double ax = std::abs(x);
    const double ay = std::abs(y);
    const bool steep = ay > ax;
    double t = steep ? ax / ay : ay / ax;  // 0..1
    double base = 0.0;
    if (t > 0.2679491924311227) {  // tan 15 degrees: atan t = 30 degrees + atan of this
        const double sqrt3 = 1.7320508075688772;
        t = (t * sqrt3 - 1.0) / (sqrt3 + t);
        base = portable_pi / 6.0;
    }
    const double t2 = t * t;  // |t| <= tan 15 degrees: 15 terms of the series leave 1e-19
    double sum = 0.0;
    for (int k = 14; k >= 0; --k) sum = sum * t2 + (k % 2 == 0 ? 1.0 : -1.0) / (2.0 * k + 1.0);
    double angle = base + t * sum;
    if (steep) angle = portable_pi / 2.0 - angle;
    if (x < 0.0) angle = portable_pi - angle;
    return y < 0.0 ? -angle : angle;
}

// Sine and cosine from a reduction to |r| <= pi / 4 and their Taylor series.
struct SinCos {
    double sin;
    double cos;
};

namespace portable_math_detail {

// sin r and cos r for |r| <= pi / 4, by Horner's rule over the series' ratios of successive
// terms: the first terms left out, r^21 / 21! and r^22 / 22!, are below 1e-21 there.
inline SinCos near_zero(double r)
{
    const double r2 = r * r;
    double s = 1.0;
    for (int k = 9; k >= 1; --k) s = 1.0 - r2 / ((2.0 * k) * (2.0 * k + 1.0)) * s;
    double c = 1.0;
    for (int k = 10; k >= 1; --k) c = 1.0 - r2 / ((2.0 * k - 1.0) * (2.0 * k)) * c;
    return {r * s, c};
}

// sin and cos of r + quadrant * pi / 2.
inline SinCos in_quadrant(double r, double quadrant)
{
    const SinCos t = near_zero(r);
    const double q = quadrant - 4.0 * std::floor(quadrant / 4.0);  // 0, 1, 2 or 3, exactly
    if (q == 0.0) return t;
    if (q == 1.0) return {t.cos, -t.sin};
    if (q == 2.0) return {-t.sin, -t.cos};
    return {-t.cos, t.sin};
}

}  // namespace portable_math_detail

// sin and cos of an angle in radians, within 1e-15 of the library's for |rad| up to 1e5 (the
// reduction by pi / 2 is exact up to about 8e5; beyond it the error grows); NaN for NaN or an
// infinity. pi / 2 is split in three parts of 33, 33 and 53 bits (Cody and Waite), so that k
// times each of the first two is exact and rad - k pi / 2 loses nothing to cancellation.
inline SinCos portable_sincos(double rad)
{
    if (!std::isfinite(rad)) return {NAN, NAN};
    const double pio2_1 = 1.57079632673412561417e+00;  // the first 33 bits of pi / 2
    const double pio2_2 = 6.07710050630396597660e-11;  // the next 33 bits
    const double pio2_3 = 2.02226624871116645580e-21;  // the rest
    const double k = std::round(rad * (2.0 / portable_pi));
    const double r = ((rad - k * pio2_1) - k * pio2_2) - k * pio2_3;
    return portable_math_detail::in_quadrant(r, k);
}

inline double portable_sin(double rad)
{
    return portable_sincos(rad).sin;
}

inline double portable_cos(double rad)
{
    return portable_sincos(rad).cos;
}

// sin and cos of an angle in degrees, reduced in degrees, which is exact: multiples of 90 degrees
// give exactly 0 (as +0) and +-1, and other angles are within 1e-15 of the library's sin and cos of
// radians(deg) for any finite deg. NaN for NaN or an infinity.
inline SinCos portable_sincos_deg(double deg)
{
    if (!std::isfinite(deg)) return {NAN, NAN};
    const double turn = std::fmod(deg, 360.0);              // exact
    const double quadrant = std::round(turn / 90.0);
    const double rest_deg = turn - 90.0 * quadrant;         // exact: |rest_deg| <= 45 and a bit
    const SinCos t = portable_math_detail::in_quadrant(radians(rest_deg), quadrant);
    return {t.sin + 0.0, t.cos + 0.0};                      // -0 becomes +0
}
