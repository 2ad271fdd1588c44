// The fuzz targets' checks on fixed inputs, in the ordinary suite: every finding of a fuzz run is
// kept under tests/fuzz/regressions/TARGET/ and must pass here; the frame generator's own seeds
// must give frames on which both forms agree.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "form_checks.hpp"
#include "frame_generator.hpp"
#include "png_checks.hpp"
#include "settings_checks.hpp"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> bytes_of(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<fs::path> inputs_of(const std::string& target)
{
    std::vector<fs::path> files;
    const fs::path dir = fs::path(PALLET_FUZZ_REGRESSIONS) / target;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().filename() != "README.md") files.push_back(entry.path());
    return files;
}

}  // namespace

TEST(FuzzRegressions, FormsAgreeOnTheGeneratorSeeds)
{
    int compared = 0;
    for (const std::vector<std::uint8_t>& seed : frame_generator_seeds()) {
        const cv::Mat depth = generate_depth_frame(seed.data(), seed.size());
        ++compared;
        EXPECT_EQ(compare_analysis_forms(depth), "") << "seed " << compared;
    }
    EXPECT_GE(compared, 10);
}

TEST(FuzzRegressions, FramesFindings)
{
    const std::vector<fs::path> files = inputs_of("frames");
    if (files.empty()) GTEST_SKIP() << "no frames finding kept";
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(compare_analysis_forms(generate_depth_frame(bytes.data(), bytes.size())), "")
            << file.filename();
    }
}

TEST(FuzzRegressions, PngFindings)
{
    const std::vector<fs::path> files = inputs_of("png");
    if (files.empty()) GTEST_SKIP() << "no png finding kept";
    const std::string scratch = (fs::temp_directory_path() / "fuzz_regression_png.png").string();
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(check_png_bytes(bytes.data(), bytes.size(), scratch), "") << file.filename();
    }
    fs::remove(scratch);
}

TEST(FuzzRegressions, SdkSettingsFindings)
{
    const std::vector<fs::path> files = inputs_of("sdk_settings");
    if (files.empty()) GTEST_SKIP() << "no sdk_settings finding kept";
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        const std::string input(bytes.begin(), bytes.end());
        const std::size_t nul = input.find('\0');
        EXPECT_EQ(check_source_setting(input.substr(0, nul)), "") << file.filename();
        if (nul != std::string::npos) {
            EXPECT_EQ(check_fault_setting(input.substr(nul + 1)), "") << file.filename();
        }
    }
}

TEST(FuzzRegressions, ReportShapeIsChecked)
{
    EXPECT_EQ(report_fault("未发现轮廓;\n"), "");
    EXPECT_NE(report_fault("未发现轮廓;"), "");
    EXPECT_NE(report_fault("TT:\n[1;\n 2;\n 3]\n"), "");
}
