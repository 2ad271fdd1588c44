// libFuzzer target: generated depth frames through the pallet detector with the built-in types.
// A pallet with a non-finite number it does not document, or a frame without a verdict, aborts,
// with what is wrong on standard error.
#include <cstdio>
#include <cstdlib>

#include "detector_checks.hpp"

namespace {

// Kept from input to input, as pallet_scan keeps it from frame to frame.
DetectorWorkspace& workspace()
{
    static DetectorWorkspace kept;
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    cv::setNumThreads(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<PalletType> types = builtin_pallet_types();
    const cv::Mat depth = generate_detector_frame(data, size);
    const std::string problem = detection_problem(detect_pallets(depth, types, DetectorParams{}, workspace()));
    if (problem.empty()) return 0;
    std::fprintf(stderr, "fuzz_detector: %s\n", problem.c_str());
    std::abort();
}
