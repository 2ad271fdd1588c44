// Every allocation through operator new in the process is counted, so that a benchmark can read how
// many a call makes; the count costs one relaxed increment.
#pragma once

#include <cstdint>

// Allocations so far.
std::uint64_t allocation_count();
