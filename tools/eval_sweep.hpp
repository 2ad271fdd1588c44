// The scenes of an accuracy sweep: the grid of pallet placements, camera mounts and sensor
// qualities, the seed of each scene, and the pool that renders and analyses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "analysis/detector/detect_pallets.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"
#include "tools/eval_compare.hpp"

// One scene of the sweep: a lone pallet on the floor, nothing else in view.
struct SceneParams {
    double distance_mm = 1500.0;  // the face's middle ahead of the camera (floor frame)
    double yaw_deg = 0.0;         // pallet yaw, counter-clockwise seen from above
    double lateral_mm = 0.0;      // the face's middle to the right of the camera
    double height_mm = 200.0;     // camera above the floor
    double pitch_deg = 6.0;       // camera tilt, > 0 looks up
    double noise_level = 1.0;     // multiple of the default sensor's depth noise and dropouts
    bool cavity_no_return = false;
    int empty_index = -1;         // >= 0: the floor alone, the n-th such scene of its mount and
                                  // noise (the pallet's placement is then ignored)
};

// The values each axis takes; the sweep is their full product.
struct SweepAxes {
    std::vector<double> distance_mm;
    std::vector<double> yaw_deg;
    std::vector<double> lateral_mm;
    std::vector<double> height_mm;
    std::vector<double> pitch_deg;
    std::vector<double> noise_level;
    std::vector<bool> cavity_no_return;
};

// The default sweep: the working mount of the renderer and a little beyond it.
SweepAxes default_axes();

// Every combination of the axes, distance varying slowest and cavity fastest.
std::vector<SceneParams> sweep_scenes(const SweepAxes& axes);

// Floor-only scenes: `count` for every camera height, tilt and noise level of the axes, in that
// order (count fastest), their pallet placement left at the defaults.
std::vector<SceneParams> empty_scenes(const SweepAxes& axes, int count);

// One step of every scene seed: splitmix64 of the hash xor round(value * 1000).
std::uint64_t fold_seed(std::uint64_t hash, double value);

// The renderer's seed of a scene: splitmix64 folded over the base seed and the scene's seven
// parameters (each as round(value * 1000)), so that a scene keeps its seed, and its noise, in any
// sweep that contains it; a floor-only scene folds its index in too.
std::uint64_t scene_seed(const SceneParams& params, std::uint64_t base_seed);

// The renderer's scene for the parameters: default sensor scaled by noise_level; no pallet for a
// floor-only scene.
sim::Scene make_scene(const SceneParams& params);

struct SceneResult {
    SceneParams params;
    std::uint64_t seed = 0;
    SceneComparison comparison;
    DockComparison dock;
};

// Renders one scene, analyses its depth image, measures it again for docking and compares both
// with the truth, with the worker's own scratch space.
SceneResult evaluate_scene(const SceneParams& params, std::uint64_t base_seed,
                           AnalysisWorkspace& workspace, DetectorWorkspace& detector_workspace);

// Evaluates every scene on `threads` workers; results in scene order, whatever the thread count.
// `progress` (may be empty) is called on the calling thread now and then with the number done.
std::vector<SceneResult> run_sweep(const std::vector<SceneParams>& scenes, std::uint64_t base_seed,
                                   int threads,
                                   const std::function<void(std::size_t, std::size_t)>& progress);
