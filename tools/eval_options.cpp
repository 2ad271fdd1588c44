#include "tools/eval_options.hpp"

#include <limits>

#include "sim/sensor_presets.hpp"
#include "tools/cli.hpp"
#include "tools/pallet_types_option.hpp"

namespace {

// An axis option whose help text ends with its default, as the sweep has it.
void add_axis(CLI::App& app, const std::string& name, const std::string& value_name, const std::string& description,
              std::vector<double>& axis, const std::function<bool(double)>& valid = nullptr,
              const std::string& rule = {})
{
    add_axis_option(app, name, value_name, description + " (default " + axis_text(axis) + ")", axis, valid, rule);
}

// Every option of pallet_eval, bound to `options`: the parse and the help text both read these.
void define_eval_options(CLI::App& app, EvalOptions& options)
{
    set_up_command_line(app, "Exit status: 0 written; 1 an output could not be written; 2 usage error.");
    SweepAxes& axes = options.axes;
    add_axis(app, "--distance", "MM", "face middle ahead of the camera", axes.distance_mm,
             [](double v) { return v > 0.0; }, "values ahead of the camera (> 0)");
    add_axis(app, "--yaw", "DEG", "pallet yaw, > 0 turns its right end away", axes.yaw_deg);
    add_axis(app, "--lateral", "MM", "face middle to the right of the camera", axes.lateral_mm);
    add_axis(app, "--height", "MM", "camera above the floor", axes.height_mm,
             [](double v) { return v > 0.0; }, "values above the floor (> 0)");
    add_axis(app, "--pitch", "DEG", "camera tilt, > 0 looks up", axes.pitch_deg);
    add_axis(app, "--noise", "LEVEL",
             "multiple of the renderer's default depth noise and dropouts;\n0 is an exact sensor",
             axes.noise_level, [](double v) { return v >= 0.0; }, "levels from 0");
    add_choice_option<std::vector<bool>>(app, "--cavity",
                                         "fork openings return no depth (on), or do (off)\n(default both)",
                                         axes.cavity_no_return,
                                         {{"both", {false, true}}, {"on", {true}}, {"off", {false}}});
    add_count_option(app, "--empty", "N",
                     "floor-only scenes for every camera height, tilt and noise level\n(default " +
                         std::to_string(options.empty) + "; 0: none)",
                     options.empty, 0, 10000);
    add_count_option(app, "--seed", "N", "base of every scene's seed (default " + std::to_string(options.seed) + ")",
                     options.seed, 0, std::numeric_limits<std::uint64_t>::max());
    add_count_option(app, "--threads", "N", "worker threads (default one per core)", options.threads, 1, 256);
    add_choice_option<SequenceRuns>(app, "--sequences",
                                    "the approach sequences (tracks in the vehicle frame) and the\n"
                                    "mount calibrations too (on, the default), not (off), or alone",
                                    options.sequences,
                                    {{"on", SequenceRuns::on}, {"off", SequenceRuns::off}, {"only", SequenceRuns::only}});
    add_count_option(app, "--sequence-seeds", "N",
                     "runs of each approach sequence, each with its own seed (default " +
                         std::to_string(options.sequence_seeds) + ")",
                     options.sequence_seeds, 1, 1000);
    add_value_option(app, "--sensor", "NAME",
                     "film the detector scenes with this sensor alone: legacy, ideal,\ntof or tof:EFFECT "
                     "(default ideal and tof side by side)",
                     [&options](const std::string& text) -> std::string {
                         if (!sim::find_sensor_preset(text)) return "one of " + sim::sensor_preset_list();
                         options.sensor = text;
                         return {};
                     });
    add_count_option(app, "--detector-scenes", "N",
                     "scenes of the detector set per sensor (default " + std::to_string(default_detector_scenes) +
                         " with the\ndefault sweep, else 0; 0: none)",
                     options.detector_scenes, 0, 100000);
    add_pallet_types_option(app, options.pallet_types_path);
    add_path_option(app, "--out", "DIR", "output folder, made when missing (default " + options.out_dir + ")",
                    options.out_dir);
}

const char* const description =
    "Renders pallet scenes with known ground truth, runs the analysis and the dock measurement\n"
    "on each and writes scenes.csv, empty_scenes.csv, summary.md and plots (when gnuplot is\n"
    "installed) to the output folder. Axes take V, V1,V2,... or LO:HI:STEP; the sweep is every\n"
    "combination of them. Then the pallet detector's scene set (many pallet models, loads,\n"
    "backdrops, rows, cut-off faces, scenes without a pallet) is filmed with each sensor and\n"
    "written to detector_pairs.csv and detector_summary.md.";

}  // namespace

Parsed<EvalOptions> parse_eval_options(const std::vector<std::string>& args)
{
    return parse_options("pallet_eval", description, define_eval_options, args);
}

std::string eval_usage()
{
    return help_text("pallet_eval", description, define_eval_options);
}
