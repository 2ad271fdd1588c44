// libFuzzer target: generated band masks, depths and face selections through the face mask and
// face points' fast and literal forms. Any difference aborts, with the difference on standard
// error.
#include <cstdio>
#include <cstdlib>

#include "stage_checks.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string difference = compare_face_forms(generate_face_input(data, size));
    if (difference.empty()) return 0;
    std::fprintf(stderr, "fuzz_face_points: %s\n", difference.c_str());
    std::abort();
}
