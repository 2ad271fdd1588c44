// libFuzzer target: generated depth frames through both forms of the analysis and the views.
// Any difference aborts, with the difference on standard error. With
// PALLET_FUZZ_TOLERATE_CONSTANT_PATCH=1 in the environment a difference on a frame whose ground
// patch holds one depth is counted and let pass: the fast form is known to differ there until
// its rewrite lands.
#include <cstdio>
#include <cstdlib>

#include "form_checks.hpp"
#include "frame_generator.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool tolerate = std::getenv("PALLET_FUZZ_TOLERATE_CONSTANT_PATCH") != nullptr;
    static unsigned long tolerated = 0;
    const cv::Mat depth = generate_depth_frame(data, size);
    const std::string difference = compare_analysis_forms(depth);
    if (difference.empty()) return 0;
    if (tolerate && ground_patch_is_constant(depth)) {
        ++tolerated;
        if ((tolerated & (tolerated - 1)) == 0)  // 1, 2, 4, 8, ...: a trace, not a flood
            std::fprintf(stderr, "fuzz_frames: %lu known differences on constant ground patches "
                                 "let pass (last: %s)\n", tolerated, difference.c_str());
        return 0;
    }
    std::fprintf(stderr, "fuzz_frames: the fast and the literal form differ: %s\n", difference.c_str());
    std::abort();
}
