// The fuzz targets' checks on fixed inputs, in the ordinary suite: every finding of a fuzz run is
// kept under tests/fuzz/regressions/TARGET/ and must pass here; the generators' own seeds must
// give inputs on which both forms agree.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "detector_checks.hpp"
#include "form_checks.hpp"
#include "frame_generator.hpp"
#include "png_checks.hpp"
#include "settings_checks.hpp"
#include "stage_checks.hpp"
#include "stage_inputs.hpp"

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

TEST(FuzzRegressions, StageFormsAgreeOnTheGeneratorSeeds)
{
    for (const std::vector<std::uint8_t>& seed : band_frame_seeds())
        EXPECT_EQ(compare_band_mask_forms(generate_band_frame(seed.data(), seed.size())), "");
    int faces = 0;
    for (const std::vector<std::uint8_t>& seed : band_mask_seeds())
        EXPECT_EQ(compare_contour_forms(generate_band_mask(seed.data(), seed.size())), "");
    for (const std::vector<std::uint8_t>& seed : face_input_seeds()) {
        const FaceInput input = generate_face_input(seed.data(), seed.size());
        faces += !input.selection.empty();
        EXPECT_EQ(compare_face_forms(input), "");
    }
    EXPECT_GE(faces, 10) << "seeds whose face stage has a face to fill";
}

TEST(FuzzRegressions, StageInputsAreWhatTheBytesSay)
{
    // A mask written as runs reads back as itself, and a prefix of any input is an input.
    const cv::Mat catalogue = [] {
        const std::vector<std::uint8_t> bytes{1, 6, 0};  // the pallet scene's mask, no shapes
        return generate_band_mask(bytes.data(), bytes.size());
    }();
    ASSERT_GT(cv::countNonZero(catalogue), 1000);
    const std::vector<std::uint8_t> runs = band_mask_bytes_of(catalogue);
    EXPECT_EQ(cv::norm(generate_band_mask(runs.data(), runs.size()), catalogue, cv::NORM_INF), 0.0);
    for (const std::vector<std::uint8_t>& seed : face_input_seeds()) {
        const FaceInput input = generate_face_input(seed.data(), seed.size() / 2);
        EXPECT_EQ(input.band_mask.size(), cv::Size(640, 480));
        EXPECT_EQ(input.depth.size(), cv::Size(640, 480));
        for (const Contour& contour : input.selection)
            for (const cv::Point& p : contour) EXPECT_TRUE(cv::Rect(0, 0, 640, 480).contains(p));
    }
}

TEST(FuzzRegressions, StageFindings)
{
    int kept = 0;
    for (const fs::path& file : inputs_of("band_mask")) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(compare_band_mask_forms(generate_band_frame(bytes.data(), bytes.size())), "") << file;
        ++kept;
    }
    for (const fs::path& file : inputs_of("contours")) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(compare_contour_forms(generate_band_mask(bytes.data(), bytes.size())), "") << file;
        ++kept;
    }
    for (const fs::path& file : inputs_of("face_points")) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(compare_face_forms(generate_face_input(bytes.data(), bytes.size())), "") << file;
        ++kept;
    }
    if (kept == 0) GTEST_SKIP() << "no stage finding kept";
}

TEST(FuzzRegressions, DetectorOnTheGeneratorSeeds)
{
    // Workspace kept from seed to seed, as the target keeps it.
    const std::vector<PalletType> types = builtin_pallet_types();
    DetectorWorkspace workspace;
    int with_pallets = 0;
    Detection found;
    for (const std::vector<std::uint8_t>& seed : detector_frame_seeds()) {
        const Detection detection =
            detect_pallets(generate_detector_frame(seed.data(), seed.size()), types, DetectorParams{}, workspace);
        EXPECT_EQ(detection_problem(detection), "") << ::testing::PrintToString(seed);
        if (!detection.pallets.empty() && found.pallets.empty()) found = detection;
        with_pallets += !detection.pallets.empty();
    }
    EXPECT_GE(with_pallets, 5) << "seeds whose pallets the checks read";
    for (const fs::path& file : inputs_of("detector")) {
        const std::vector<std::uint8_t> bytes = bytes_of(file);
        EXPECT_EQ(detection_problem(detect_pallets(generate_detector_frame(bytes.data(), bytes.size()), types,
                                                   DetectorParams{}, workspace)),
                  "")
            << file.filename();
    }

    // The checks see what they are there for.
    ASSERT_FALSE(found.pallets.empty());
    const auto problem_with = [&found](auto spoil) {
        Detection spoilt = found;
        spoil(spoilt.pallets.front());
        return detection_problem(spoilt);
    };
    EXPECT_NE(problem_with([](DockPose& p) { p.yaw_deg = INFINITY; }).find("yaw_deg"), std::string::npos);
    EXPECT_NE(problem_with([](DockPose& p) { p.centre_floor.x() = NAN; }).find("centre"), std::string::npos);
    EXPECT_NE(problem_with([](DockPose& p) { p.left_edge_camera.y() = NAN; }).find("left_edge"), std::string::npos);
    EXPECT_NE(problem_with([](DockPose& p) {
                  p.right_edge_camera.setConstant(NAN);
                  p.right_edge_floor.setConstant(NAN);
                  p.width_mm = 1200.0;
              }).find("width_mm"),
              std::string::npos);  // an end not measured, and a width all the same
    EXPECT_NE(problem_with([](DockPose& p) { p.floor.residual_mm = NAN; }).find("floor.residual_mm"),
              std::string::npos);
    EXPECT_NE(problem_with([](DockPose& p) { p.confidence = 0.0; }).find("confidence"), std::string::npos);
    EXPECT_NE(problem_with([](DockPose& p) { p.pockets.push_back(DockPocket{}); }).find("pocket"),
              std::string::npos);
    Detection empty;
    empty.reason = DockReason::none;  // no pallet and no reason: no verdict
    EXPECT_NE(detection_problem(empty).find("dock_of"), std::string::npos);
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
