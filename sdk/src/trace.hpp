// The call trace: with KV3_TRACE=FILE set, one line per SDK call is appended to FILE.
#pragma once

#include <string>

namespace kv3::detail {

// True when KV3_TRACE names a file; lets a caller skip building a line nobody reads.
bool tracing();

// Appends the line and a line feed to the trace file, written through at once (the process may
// be killed any time after). Does nothing when KV3_TRACE is unset or empty.
void trace(const std::string& line);

}  // namespace kv3::detail
