// The one seeded generator of the project: splitmix64, a stream of 64-bit values that follows from
// its seed alone and is the same on every processor.
#pragma once

#include <cmath>
#include <cstdint>

// The next value of the stream whose state is `state` (which it advances).
inline std::uint64_t splitmix64(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// The first value of the stream seeded with `value`: a hash of it.
inline std::uint64_t splitmix64_of(std::uint64_t value)
{
    return splitmix64(value);
}

// A value below `count` (> 0) from the stream; the bias is below count / 2^64.
inline std::uint64_t random_below(std::uint64_t& state, std::uint64_t count)
{
    return splitmix64(state) % count;
}

// A value in [0, 1) from the stream: its top 53 bits.
inline double random_uniform(std::uint64_t& state)
{
    return static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;
}

// A standard normal deviate, approximated by the sum of four 16-bit uniforms of one value
// (Irwin-Hall): no library distribution, whose output differs between vendors; tails end at 3.46.
inline double random_gaussian(std::uint64_t& state)
{
    const std::uint64_t bits = splitmix64(state);
    const double sum = static_cast<double>((bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) +
                                           ((bits >> 32) & 0xFFFF) + (bits >> 48));
    const double mean = 2.0 * 65535.0;
    const double sigma = 65536.0 / std::sqrt(3.0);  // four uniforms of variance 65536^2 / 12
    return (sum - mean) / sigma;
}
