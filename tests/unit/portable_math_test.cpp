#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "common/portable_math.hpp"
#include "common/random.hpp"

namespace {

// Evenly spread and random angles within +-limit.
std::vector<double> angles_within(double limit, std::uint64_t seed)
{
    std::vector<double> angles;
    for (int k = -2000; k <= 2000; ++k) angles.push_back(limit * k / 2000.0);
    std::uint64_t state = seed;
    for (int k = 0; k < 20000; ++k) {
        const double unit = static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;  // [0, 1)
        angles.push_back(limit * (2.0 * unit - 1.0));
    }
    return angles;
}

}  // namespace

TEST(PortableMath, SinCosMatchTheLibrary)
{
    for (const double limit : {0.8, 7.0, 100.0, 1.0e5}) {
        for (const double x : angles_within(limit, 7)) {
            const SinCos t = portable_sincos(x);
            ASSERT_NEAR(t.sin, std::sin(x), 1e-15) << x;
            ASSERT_NEAR(t.cos, std::cos(x), 1e-15) << x;
            ASSERT_EQ(portable_sin(x), t.sin);
            ASSERT_EQ(portable_cos(x), t.cos);
        }
    }
    // Near the reduction's boundaries and zero.
    for (const double x : {portable_pi / 4.0, -portable_pi / 4.0, portable_pi / 2.0, portable_pi, 1e-300, 0.0}) {
        EXPECT_NEAR(portable_sin(x), std::sin(x), 1e-15) << x;
        EXPECT_NEAR(portable_cos(x), std::cos(x), 1e-15) << x;
    }
}

TEST(PortableMath, SinCosInDegrees)
{
    for (const double deg : angles_within(360.0, 11)) {
        const SinCos t = portable_sincos_deg(deg);
        ASSERT_NEAR(t.sin, std::sin(radians(deg)), 1e-15) << deg;
        ASSERT_NEAR(t.cos, std::cos(radians(deg)), 1e-15) << deg;
    }
    // Exact at the right angles, zero as +0, whatever the number of turns.
    const double expected[4][2] = {{0.0, 1.0}, {1.0, 0.0}, {0.0, -1.0}, {-1.0, 0.0}};
    for (int turns = -3; turns <= 3; ++turns) {
        for (int q = 0; q < 4; ++q) {
            const SinCos t = portable_sincos_deg(360.0 * turns + 90.0 * q);
            EXPECT_EQ(t.sin, expected[q][0]);
            EXPECT_EQ(t.cos, expected[q][1]);
            EXPECT_FALSE(std::signbit(t.sin) && t.sin == 0.0);
            EXPECT_FALSE(std::signbit(t.cos) && t.cos == 0.0);
        }
    }
    // Far turns reduce exactly: 30 degrees plus a million turns is 30 degrees.
    EXPECT_EQ(portable_sincos_deg(30.0 + 360.0 * 1e6).sin, portable_sincos_deg(30.0).sin);
    EXPECT_NEAR(portable_sincos_deg(30.0).sin, 0.5, 1e-16);
}

TEST(PortableMath, SinCosOfNonFiniteAngles)
{
    for (const double x : {NAN, INFINITY, -INFINITY}) {
        EXPECT_TRUE(std::isnan(portable_sincos(x).sin));
        EXPECT_TRUE(std::isnan(portable_sincos(x).cos));
        EXPECT_TRUE(std::isnan(portable_sincos_deg(x).sin));
        EXPECT_TRUE(std::isnan(portable_sincos_deg(x).cos));
    }
}
