// Fault injection from KV3_FAULTS, e.g. "nodepth@5,timeout@7,badsize@9" (frame numbers from 1).
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

namespace kv3::detail {

struct fault_plan {
    std::set<std::uint64_t> nodepth;  // the frame set comes without a depth frame
    std::set<std::uint64_t> timeout;  // the wait returns no frame set at once
    std::set<std::uint64_t> badsize;  // the depth frame is 320 x 240
};

// The plan the text describes; an empty text gives an empty plan. Nothing for malformed text:
// items are KIND@N joined by commas, KIND one of nodepth, timeout, badsize, N a decimal >= 1.
std::optional<fault_plan> parse_faults(const std::string& text);

}  // namespace kv3::detail
