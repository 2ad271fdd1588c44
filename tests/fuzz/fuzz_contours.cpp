// libFuzzer target: generated combined band masks through the candidate contour search's fast
// and literal forms. Any difference aborts, with the difference on standard error.
#include <cstdio>
#include <cstdlib>

#include <opencv2/core.hpp>

#include "stage_checks.hpp"

// One thread: the image library's worker threads only add their hand-overs to each run (the
// results do not depend on them).
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    cv::setNumThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string difference = compare_contour_forms(generate_band_mask(data, size));
    if (difference.empty()) return 0;
    std::fprintf(stderr, "fuzz_contours: %s\n", difference.c_str());
    std::abort();
}
