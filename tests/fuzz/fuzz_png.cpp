// libFuzzer target: file bytes read as pallet_scan and the stand-in camera's replay read a depth
// frame. Run with -malloc_limit_mb (scripts/fuzz.sh) so that a header claiming a huge image that
// is decoded whole is a finding.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "png_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/fuzz_png_" +
               std::to_string(::getpid()) + ".png";
    }();
    const std::string problem = check_png_bytes(data, size, path);
    if (problem.empty()) return 0;
    std::fprintf(stderr, "fuzz_png: %s\n", problem.c_str());
    std::abort();
}
