// The detector in a frame loop allocates nothing once its workspace and its result have grown.
// This executable counts every allocation through operator new (bench/allocation_count.cpp), so
// it holds no other test.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "allocation_count.hpp"
#include "analysis/detector/detect_pallets.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "sim/scenes.hpp"
#include "sim/sensor_presets.hpp"

namespace {

sim::Frame rendered(sim::Scene scene, std::uint64_t seed, bool tof = false)
{
    if (tof) scene = sim::with_sensor(scene, sim::sensor_preset("tof"));
    return sim::render(scene, seed);
}

// Frames that take the detector down every path: one pallet, three side by side, a pallet on a
// time-of-flight sensor (mixed pixels, multipath, holes), a pallet turned far, clutter, no pallet,
// no floor at all; each followed by a frame with more or fewer pallets than it.
std::vector<cv::Mat> loop_frames()
{
    std::vector<cv::Mat> frames;
    frames.push_back(rendered(sim::pallet_scene(1500.0), 1).depth);
    sim::Scene three = sim::pallet_scene(2600.0);
    three.pallets = {sim::PalletPlacement{2600.0, -1350.0, 0.0}, sim::PalletPlacement{2600.0, 0.0, 0.0},
                     sim::PalletPlacement{2600.0, 1350.0, 0.0}};
    frames.push_back(rendered(three, 2).depth);
    frames.push_back(rendered(sim::pallet_scene(1200.0, 150.0, 12.0), 3, true).depth);
    frames.push_back(rendered(three, 4, true).depth);
    frames.push_back(rendered(sim::pallet_scene(2200.0, -300.0, 38.0), 5).depth);
    frames.push_back(sim::render_scene_frame("clutter", 6).depth);
    frames.push_back(sim::render_scene_frame("empty", 7).depth);
    frames.push_back(cv::Mat(480, 640, CV_16UC1, cv::Scalar(1800)));
    return frames;
}

TEST(DetectorAllocation, NonePerFrameOnceTheLoopHasGrown)
{
    const std::vector<cv::Mat> frames = loop_frames();
    const std::vector<PalletType> types = builtin_pallet_types();
    for (const bool explain : {false, true}) {
        DetectorParams params;
        params.explain = explain;
        DetectorWorkspace workspace;
        Detection detection;
        DockPose dock;
        std::size_t pallets = 0;
        for (int round = 0; round < 2; ++round) {
            for (const cv::Mat& depth : frames) {
                detect_pallets(depth, types, params, workspace, detection);
                dock_of(detection, dock);
            }
        }
        // Every frame again, in the same order and in reverse: each finds its buffers grown.
        const std::uint64_t before = allocation_count();
        for (int round = 0; round < 2; ++round) {
            for (std::size_t k = 0; k < frames.size(); ++k) {
                const cv::Mat& depth = frames[round == 0 ? k : frames.size() - 1 - k];
                detect_pallets(depth, types, params, workspace, detection);
                dock_of(detection, dock);
                pallets += detection.pallets.size();
            }
        }
        EXPECT_EQ(allocation_count() - before, 0U) << (explain ? "with" : "without") << " explain";
        // The loop did find pallets: the frames took the measuring paths, not only the early exits.
        EXPECT_GE(pallets, 2U * 8U) << (explain ? "with" : "without") << " explain";
    }
}

}  // namespace
