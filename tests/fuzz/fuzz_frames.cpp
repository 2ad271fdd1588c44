// libFuzzer target: generated depth frames through both forms of the analysis and the views.
// Any difference aborts, with the difference on standard error.
#include <cstdio>
#include <cstdlib>

#include "form_checks.hpp"
#include "frame_generator.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const cv::Mat depth = generate_depth_frame(data, size);
    const std::string difference = compare_analysis_forms(depth);
    if (difference.empty()) return 0;
    std::fprintf(stderr, "fuzz_frames: the fast and the literal form differ: %s\n", difference.c_str());
    std::abort();
}
