// Rendered frames, one per outcome, through the whole analysis: the console text in both
// encodings and the result view must equal the files under tests/data.
#include <sstream>
#include <string>

#include <Eigen/Core>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/result_report.hpp"
#include "sim/render.hpp"
#include "unit/golden_files.hpp"

namespace {

std::string report(const FrameAnalysis& analysis, TextEncoding encoding)
{
    std::ostringstream out;
    write_report(out, analysis, encoding);
    return out.str();
}

// Noise-free frames: the files pin the analysis, not the noise generator.
FrameAnalysis check_against_golden(const std::string& name, sim::Scene scene)
{
    scene.sensor = sim::exact_sensor();
    const sim::Frame frame = sim::render(scene, 7);
    AnalysisWorkspace workspace;
    const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
    // The frame itself and what the program prints for it, for the end-to-end replay.
    golden::expect_image(name + "_frame/depth_0001.png", frame.depth);
    std::ostringstream stdout_text;
    write_probe(stdout_text, frame.depth);
    write_report(stdout_text, analysis, TextEncoding::utf8);
    golden::expect_report(name + "_frame.stdout", stdout_text.str());
    golden::expect_report("golden_" + name + "_utf8.txt", report(analysis, TextEncoding::utf8));
    golden::expect_report("golden_" + name + "_gbk.txt", report(analysis, TextEncoding::gbk));
    golden::expect_image("golden_" + name + "_result.png",
                         draw_result_view(make_depth_view(frame.depth), analysis));
    return analysis;
}

}  // namespace

TEST(GoldenFrames, FloorOnlyIsNoContour)
{
    const FrameAnalysis analysis = check_against_golden("floor", sim::floor_scene());
    EXPECT_EQ(analysis.outcome, PalletOutcome::no_contour);
}

TEST(GoldenFrames, NarrowBoxIsNoPallet)
{
    sim::Scene scene = sim::floor_scene();
    sim::Box box;  // turned 45 degrees, so its outline is no upright rectangle; under 200 pixels
    box.centre = {0.0, 1400.0, 100.0};
    box.size = {500.0, 500.0, 200.0};
    box.yaw_deg = 45.0;
    scene.boxes.push_back(box);
    const FrameAnalysis analysis = check_against_golden("narrow_box", scene);
    EXPECT_EQ(analysis.outcome, PalletOutcome::no_pallet);
    EXPECT_LE(analysis.pose.bounding_rect.width, 200);
}

TEST(GoldenFrames, TurnedPalletIsFound)
{
    const sim::Scene scene = sim::pallet_scene(1500.0, 0.0, 10.0);
    const FrameAnalysis analysis = check_against_golden("pallet", scene);
    ASSERT_EQ(analysis.outcome, PalletOutcome::pallet_found);
    EXPECT_GT(analysis.pose.bounding_rect.width, 200);
    EXPECT_GT(analysis.pose.face_point_count, 1000U);
    // The centre pixel lies on the face, about 1.5 m ahead along the optical axis.
    EXPECT_NEAR(analysis.pose.centre_point.z, 1500.0, 150.0);
}

// The matrix library sizes its product kernels' blocks from the processor's cache sizes. No sum
// of the analysis may depend on them: the golden frames give the same report bytes, in both
// forms, whatever sizes the library is told.
TEST(GoldenFrames, SameReportAtEveryCacheSize)
{
    const std::ptrdiff_t l1 = Eigen::l1CacheSize(), l2 = Eigen::l2CacheSize(), l3 = Eigen::l3CacheSize();
    AnalysisWorkspace workspace;
    for (const std::ptrdiff_t kb : {16, 32, 48, 64}) {
        Eigen::setCpuCacheSizes(kb * 1024, 512 * 1024, 8 * 1024 * 1024);
        for (const std::string name : {"floor", "narrow_box", "pallet"}) {
            SCOPED_TRACE(name + " at an L1 cache of " + std::to_string(kb) + " KB");
            const cv::Mat depth =
                cv::imread(golden::path_of(name + "_frame/depth_0001.png"), cv::IMREAD_UNCHANGED);
            ASSERT_FALSE(depth.empty());
            for (const FrameAnalysis& analysis : {analyse_depth(depth, workspace), analyse_depth_literal(depth)}) {
                golden::expect_report("golden_" + name + "_utf8.txt", report(analysis, TextEncoding::utf8));
                golden::expect_report("golden_" + name + "_gbk.txt", report(analysis, TextEncoding::gbk));
            }
        }
    }
    Eigen::setCpuCacheSizes(l1, l2, l3);
}
