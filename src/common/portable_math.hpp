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
