// The text of an SDK error value, without a trace line (for the library's own messages).
#pragma once

#include <kv3/kv3.hpp>

namespace kv3::detail {

const char* error_text(kv3_error error);

}  // namespace kv3::detail
