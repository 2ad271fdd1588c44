// libFuzzer target: the stand-in camera's KV3_SOURCE and KV3_FAULTS parsers. The input's bytes
// up to the first NUL are the source value, the rest the faults text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string source = input.substr(0, nul);
    const std::string faults = nul == std::string::npos ? std::string() : input.substr(nul + 1);
    std::string problem = check_source_setting(source);
    if (problem.empty()) problem = check_fault_setting(faults);
    if (problem.empty()) return 0;
    std::fprintf(stderr, "fuzz_sdk_settings: %s\n", problem.c_str());
    std::abort();
}
