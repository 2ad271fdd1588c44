#include "tools/eval_sweep.hpp"

#include <cmath>
#include <memory>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/frame_analysis.hpp"
#include "common/random.hpp"
#include "tools/eval_pool.hpp"

std::uint64_t fold_seed(std::uint64_t hash, double value)
{
    const auto milli = static_cast<std::int64_t>(std::llround(value * 1000.0));
    return splitmix64_of(hash ^ static_cast<std::uint64_t>(milli));
}

SweepAxes default_axes()
{
    SweepAxes axes;
    axes.distance_mm = {750, 1000, 1250, 1500, 1750, 2000, 2250, 2500};
    axes.yaw_deg = {-20, -15, -10, -5, 0, 5, 10, 15, 20};
    axes.lateral_mm = {-250, 0, 250};
    axes.height_mm = {200, 250};
    axes.pitch_deg = {4, 6, 8};
    axes.noise_level = {0, 1, 2};  // an exact sensor, the renderer's default one, twice as bad
    axes.cavity_no_return = {false, true};
    return axes;
}

std::vector<SceneParams> sweep_scenes(const SweepAxes& axes)
{
    std::vector<SceneParams> scenes;
    for (const double distance : axes.distance_mm)
        for (const double yaw : axes.yaw_deg)
            for (const double lateral : axes.lateral_mm)
                for (const double height : axes.height_mm)
                    for (const double pitch : axes.pitch_deg)
                        for (const double noise : axes.noise_level)
                            for (const bool cavity : axes.cavity_no_return)
                                scenes.push_back({distance, yaw, lateral, height, pitch, noise, cavity});
    return scenes;
}

std::vector<SceneParams> empty_scenes(const SweepAxes& axes, int count)
{
    std::vector<SceneParams> scenes;
    for (const double height : axes.height_mm)
        for (const double pitch : axes.pitch_deg)
            for (const double noise : axes.noise_level)
                for (int k = 0; k < count; ++k) {
                    SceneParams p;
                    p.height_mm = height;
                    p.pitch_deg = pitch;
                    p.noise_level = noise;
                    p.empty_index = k;
                    scenes.push_back(p);
                }
    return scenes;
}

std::uint64_t scene_seed(const SceneParams& p, std::uint64_t base_seed)
{
    std::uint64_t hash = splitmix64_of(base_seed);
    for (const double value : {p.distance_mm, p.yaw_deg, p.lateral_mm, p.height_mm, p.pitch_deg,
                               p.noise_level, p.cavity_no_return ? 1.0 : 0.0}) {
        hash = fold_seed(hash, value);
    }
    if (p.empty_index >= 0) hash = fold_seed(hash, -1.0 - p.empty_index);
    return hash;
}

sim::Scene make_scene(const SceneParams& p)
{
    sim::Scene scene = sim::pallet_scene(p.distance_mm, p.lateral_mm, p.yaw_deg);
    scene.mount.height_mm = p.height_mm;
    scene.mount.pitch_deg = p.pitch_deg;
    scene.mount.roll_deg = 0.0;
    const sim::Sensor standard;
    scene.sensor.noise_k_per_mm = standard.noise_k_per_mm * p.noise_level;
    scene.sensor.dropout_rate = std::min(1.0, standard.dropout_rate * p.noise_level);
    scene.sensor.cavity_no_return = p.cavity_no_return;
    if (p.empty_index >= 0) scene.pallets.clear();
    return scene;
}

SceneResult evaluate_scene(const SceneParams& params, std::uint64_t base_seed,
                           AnalysisWorkspace& workspace, DetectorWorkspace& detector_workspace)
{
    SceneResult result;
    result.params = params;
    result.seed = scene_seed(params, base_seed);
    const sim::Frame frame = sim::render(make_scene(params), result.seed);
    const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
    result.comparison = compare_with_truth(analysis, frame);
    const Detection detection =
        detect_pallets(frame.depth, builtin_pallet_types(), DetectorParams{}, detector_workspace);
    result.dock = compare_dock_with_truth(dock_of(detection), analysis, frame);
    return result;
}

std::vector<SceneResult> run_sweep(const std::vector<SceneParams>& scenes, std::uint64_t base_seed,
                                   int threads,
                                   const std::function<void(std::size_t, std::size_t)>& progress)
{
    std::vector<SceneResult> results(scenes.size());
    const auto make_runner = [&]() -> JobRunner {
        auto workspace = std::make_shared<AnalysisWorkspace>();  // each worker its own
        auto detector_workspace = std::make_shared<DetectorWorkspace>();
        return [&, workspace, detector_workspace](std::size_t i) {
            results[i] = evaluate_scene(scenes[i], base_seed, *workspace, *detector_workspace);
        };
    };
    run_jobs(scenes.size(), threads, make_runner, progress);
    return results;
}
