#include "tools/scan_options.hpp"

#include <limits>

#include "tools/cli.hpp"
#include "tools/pallet_types_option.hpp"

namespace {

// Every option of pallet_scan, bound to `options`: the parse and the help text both read these.
void define_scan_options(CLI::App& app, ScanOptions& options)
{
    set_up_command_line(app, "Exit status: 0 all frames analysed; 1 an input or a write failed; 2 usage\n"
                             "error or unusable output path; 130 interrupted (SIGINT or SIGTERM).");
    app.add_option("INPUT", options.inputs,
                   "16-bit PNG depth frames (640 x 480, mm), and folders whose .png files\n"
                   "are read in name order")
        ->type_name("");
    app.add_flag("--camera", options.camera,
                 "read frames from the camera (the stand-in camera plays what KV3_SOURCE\n"
                 "names); runs until --frames, the end of a replay that plays once, or\n"
                 "Ctrl-C");
    add_count_option(app, "--frames", "N", "stop after N frames (of the camera, or the first N inputs)",
                     options.frame_limit, 1, std::numeric_limits<std::uint64_t>::max());
    add_count_option(app, "--jobs", "N",
                     "analyse input files on N threads (default one per core); records\n"
                     "are written in input order all the same",
                     options.jobs, 1, 256);
    add_choice_option<OutputFormat>(app, "--format",
                                    "jsonl (default): one JSON object per frame and line;\n"
                                    "console: the bytes pallet_detector writes for each frame",
                                    options.format,
                                    {{"jsonl", OutputFormat::jsonl}, {"console", OutputFormat::console}});
    add_path_option(app, "--output", "FILE", "write the records to FILE instead of standard output",
                    options.output_path);
    add_path_option(app, "--save-views", "DIR",
                    "write each frame's result view to DIR as a PNG named after its\n"
                    "input (camera frames: frame_NNNNNN.png)",
                    options.views_dir);
    add_path_option(app, "--record", "DIR",
                    "write each analysed frame to DIR as frame_NNNNNN.png (16-bit),\n"
                    "so that KV3_SOURCE=replay:DIR plays the run back",
                    options.record_dir);
    add_pallet_types_option(app, options.pallet_types_path);
    app.add_flag("--explain", options.explain,
                 "add \"rejected\" to each record: every candidate face the detector\n"
                 "turned down, with the check that failed");
    add_path_option(app, "--mount", "FILE",
                    "the camera's mount file (JSON): adds each pallet's centre, ends,\n"
                    "openings and yaw in the vehicle frame; read before any frame",
                    options.mount_path);
    app.add_flag("--track", options.track,
                 "follow the pallets from input to input (always on with --camera):\n"
                 "adds track_id, frames_seen and the smoothed pose to each pallet");
}

const char* const description =
    "Runs the pallet analysis of pallet_detector without windows, on 16-bit PNG depth\n"
    "frames or on the live camera (--camera instead of inputs), one record per frame.";

}  // namespace

Parsed<ScanOptions> parse_scan_options(const std::vector<std::string>& args)
{
    Parsed<ScanOptions> parsed = parse_options("pallet_scan", description, define_scan_options, args);
    const ScanOptions& options = parsed.options;
    if (parsed.result.help || !parsed.result.error.empty()) return parsed;
    if (options.camera && !options.inputs.empty())
        parsed.result.error = "give either --camera or input files, not both";
    else if (!options.camera && options.inputs.empty())
        parsed.result.error = "no input: give PNG files or folders, or --camera";
    return parsed;
}

std::string scan_usage()
{
    return help_text("pallet_scan", description, define_scan_options);
}
