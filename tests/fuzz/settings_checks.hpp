// KV3_SOURCE and KV3_FAULTS values through the stand-in camera's parsers.
#pragma once

#include <string>

// Empty when both parsers give a consistent answer for the two values: a source result that
// fits its error code, and a fault plan that reads back the same from its own text; otherwise
// what is wrong.
std::string check_source_setting(const std::string& value);
std::string check_fault_setting(const std::string& text);
