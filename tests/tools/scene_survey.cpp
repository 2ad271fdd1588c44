// scene_survey: runs every scene of the catalogue through the analysis and counts its outcomes
// (and how often a found pallet's centre point lies within 150 mm of the true face centre, in x
// and z), times the rendering of each frame and, with --pictures DIR, saves each scene's result view of a
// representative frame as DIR/NAME.png (the default animation as DIR/default.png).
//
//   scene_survey [--step N] [--pictures DIR] [--scene NAME] [--sensor PRESET]
//     N: analyse every Nth frame of the loop (1); NAME: only that scene ("" or "scene": the default);
//     PRESET: film the scenes with that sensor preset (sim/sensor_presets.hpp; legacy by default)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/result_report.hpp"
#include "sim/scenes.hpp"

namespace {

struct Survey {
    int counts[3] = {0, 0, 0};  // by PalletOutcome
    int on_pallet = 0;          // found, the centre point within 150 mm of the true face centre
    double render_ms_total = 0.0;
    double render_ms_max = 0.0;
    int frames = 0;
};

Survey survey(const std::string& name, std::uint64_t step, const sim::SensorPreset& sensor)
{
    Survey result;
    AnalysisWorkspace workspace;
    for (std::uint64_t n = 1; n <= sim::scene_loop_frames; n += step) {
        const auto start = std::chrono::steady_clock::now();
        const sim::Frame frame = sim::render_scene_frame(name, n, sensor);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        result.render_ms_total += ms;
        result.render_ms_max = std::max(result.render_ms_max, ms);
        const FrameAnalysis analysis = analyse_depth(frame.depth, workspace);
        ++result.counts[static_cast<int>(analysis.outcome)];
        if (analysis.outcome == PalletOutcome::pallet_found && !frame.truth.pallets.empty() &&
            std::abs(analysis.pose.centre_point.x - frame.truth.pallets[0].faces[0].centre.x()) < 150.0 &&
            std::abs(analysis.pose.centre_point.z - frame.truth.pallets[0].faces[0].centre.z()) < 150.0) {
            ++result.on_pallet;
        }
        ++result.frames;
    }
    return result;
}

// The frame shown in the README: a found pallet halfway through the approach for the animation.
std::uint64_t picture_frame(const std::string& name)
{
    return name.empty() ? 301 : 1;
}

bool save_picture(const std::string& folder, const std::string& name, const sim::SensorPreset& sensor)
{
    const sim::Frame frame = sim::render_scene_frame(name, picture_frame(name), sensor);
    AnalysisWorkspace workspace;
    const cv::Mat view = draw_result_view(make_depth_view(frame.depth), analyse_depth(frame.depth, workspace));
    const std::string path = folder + "/" + (name.empty() ? "default" : name) + ".png";
    return cv::imwrite(path, view, {cv::IMWRITE_PNG_COMPRESSION, 9});
}

double percent(int count, int total)
{
    return total > 0 ? 100.0 * count / total : 0.0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::uint64_t step = 1;
    std::string pictures;
    sim::SensorPreset sensor = sim::sensor_preset("legacy");
    std::vector<std::string> names{""};
    names.insert(names.end(), sim::scene_names().begin(), sim::scene_names().end());
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--step" && i + 1 < argc) {
            step = std::max(1L, std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--pictures" && i + 1 < argc) {
            pictures = argv[++i];
        } else if (arg == "--scene" && i + 1 < argc && sim::is_scene_name(argv[i + 1])) {
            names = {argv[++i]};
        } else if (arg == "--scene" && i + 1 < argc && std::string(argv[i + 1]) == "scene") {
            names = {""};
            ++i;
        } else if (arg == "--sensor" && i + 1 < argc && sim::find_sensor_preset(argv[i + 1])) {
            sensor = *sim::find_sensor_preset(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: scene_survey [--step N] [--pictures DIR] [--scene NAME] "
                                 "[--sensor %s]\n", sim::sensor_preset_list().c_str());
            return 2;
        }
    }
    std::printf("%-8s %7s %11s %10s %13s %10s %19s\n", "scene", "frames", "no contour",
                "no pallet", "pallet found", "on pallet", "render ms mean/max");
    for (const std::string& name : names) {
        const Survey s = survey(name, step, sensor);
        std::printf("%-8s %7d %10.1f%% %9.1f%% %12.1f%% %9.1f%% %12.1f / %.1f\n",
                    name.empty() ? "scene" : name.c_str(), s.frames,
                    percent(s.counts[0], s.frames), percent(s.counts[1], s.frames),
                    percent(s.counts[2], s.frames), percent(s.on_pallet, s.frames),
                    s.render_ms_total / s.frames, s.render_ms_max);
        std::fflush(stdout);
        if (!pictures.empty() && !save_picture(pictures, name, sensor)) {
            std::fprintf(stderr, "scene_survey: cannot write a picture into %s\n", pictures.c_str());
            return 1;
        }
    }
    return 0;
}
