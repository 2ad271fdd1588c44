// The one seeded generator of the project: splitmix64, a stream of 64-bit values that follows from
// its seed alone and is the same on every processor.
#pragma once

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
