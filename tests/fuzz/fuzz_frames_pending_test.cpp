// Frames found by fuzz_frames on which the fast form differs from the literal one (every one with
// a ground patch of one depth), minimised, in tests/fuzz/regressions/frames_pending/. This test
// fails until the fast form's rewrite lands; it is built with PALLET_FUZZ only and carries the
// ctest label awaits_fast_rewrite, which scripts/test.sh leaves out. Once the rewrite lands: move
// the files to regressions/frames/ (FuzzRegressions.FramesFindings) and delete this test.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "form_checks.hpp"
#include "frame_generator.hpp"

namespace fs = std::filesystem;

TEST(FuzzFramesPending, FormsAgreeOnTheFoundFrames)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(PALLET_FUZZ_REGRESSIONS) / "frames_pending"))
        if (entry.path().filename() != "README.md") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    int differing = 0;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const std::string difference =
            compare_analysis_forms(generate_depth_frame(bytes.data(), bytes.size()));
        if (difference.empty()) continue;
        ++differing;
        ADD_FAILURE() << file.filename().string() << ": " << difference;
    }
    std::printf("%d of %zu found frames still differ\n", differing, files.size());
}
