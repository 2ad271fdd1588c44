#include "tools/eval_detect_run.hpp"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "sim/tof.hpp"
#include "tools/eval_stats.hpp"

namespace {

bool default_sweep(const SweepAxes& a)
{
    const SweepAxes d = default_axes();
    return a.distance_mm == d.distance_mm && a.yaw_deg == d.yaw_deg && a.lateral_mm == d.lateral_mm &&
           a.height_mm == d.height_mm && a.pitch_deg == d.pitch_deg && a.noise_level == d.noise_level &&
           a.cavity_no_return == d.cavity_no_return;
}

std::vector<DetectRun> run_sets(const std::vector<std::string>& sensors, const std::string& set,
                                const std::vector<DetectScene>& scenes, const std::vector<PalletType>& types,
                                int threads, const DetectProgress& progress)
{
    std::vector<DetectRun> runs;
    for (const std::string& sensor : sensors) {
        const std::string label = set == "detector" ? sensor : "working mount, " + sensor;
        const auto report = [&](std::size_t done, std::size_t total) { progress(label, done, total); };
        runs.push_back({sensor, set,
                        run_detect_set(scenes, sim::sensor_preset(sensor), types, threads,
                                       progress ? std::function<void(std::size_t, std::size_t)>(report) : nullptr)});
    }
    return runs;
}

}  // namespace

DetectPlan detect_plan(const EvalOptions& options)
{
    DetectPlan plan;
    plan.scenes = options.detector_scenes >= 0 ? options.detector_scenes
                  : default_sweep(options.axes) ? default_detector_scenes
                                                : 0;
    if (plan.scenes == 0) return plan;
    if (!options.sensor.empty()) {
        plan.sets = {options.sensor};
        return plan;
    }
    plan.sets = {"ideal", "tof"};
    plan.effects.push_back("ideal");
    for (const sim::TofEffect effect : sim::tof_effects()) plan.effects.push_back("tof:" + sim::tof_effect_name(effect));
    plan.effects.push_back("tof");
    plan.effect_scenes = std::max(1, plan.scenes / 6);
    return plan;
}

DetectResults run_detect_plan(const DetectPlan& plan, std::uint64_t base_seed, const std::vector<PalletType>& types,
                              int threads, const DetectProgress& progress)
{
    DetectResults results;
    if (plan.scenes == 0) return results;
    results.sets = run_sets(plan.sets, "detector", detector_scene_set(base_seed, plan.scenes), types, threads, progress);
    if (!plan.effects.empty()) {
        results.effects = run_sets(plan.effects, "working_mount", working_mount_scenes(base_seed, plan.effect_scenes),
                                   types, threads, progress);
    }
    return results;
}

void write_detect_headline(std::ostream& out, const std::vector<DetectRun>& sets)
{
    for (const DetectRun& run : sets) {
        const DetectBin b = summarise_frames(run.sensor, run.frames);
        char line[512];
        std::snprintf(line, sizeof line,
                      "detector, %s: %zu frames; recall %s %% in view (%zu), %s %% cut off (%zu); type right %s %%; "
                      "false pallets %zu (%s per 1000 frames); centre |error| p50/p95 mm: x %s/%s  y %s/%s  z %s/%s; "
                      "yaw %s/%s degrees\n",
                      run.sensor.c_str(), b.frames, percent(b.found_in_view, b.faces_in_view).c_str(), b.faces_in_view,
                      percent(b.found_cut_off, b.faces_cut_off).c_str(), b.faces_cut_off,
                      percent(b.type_right, b.found).c_str(), b.false_pallets,
                      b.frames ? cell(1000.0 * static_cast<double>(b.false_pallets) / static_cast<double>(b.frames)).c_str() : "-",
                      cell(b.centre_p50[0]).c_str(), cell(b.centre_p95[0]).c_str(), cell(b.centre_p50[1]).c_str(),
                      cell(b.centre_p95[1]).c_str(), cell(b.centre_p50[2]).c_str(), cell(b.centre_p95[2]).c_str(),
                      cell(b.yaw_p50, 2).c_str(), cell(b.yaw_p95, 2).c_str());
        out << line;
    }
}
