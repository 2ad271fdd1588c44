#include "tools/scan_options.hpp"

#include <cerrno>
#include <cstdlib>

namespace {

bool parse_frame_count(const std::string& text, std::uint64_t& count)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value == 0) return false;
    count = value;
    return true;
}

// Applies one option that takes a value; returns the error text, empty when it went well.
std::string apply_valued_option(const std::string& name, const std::string& value,
                                ScanOptions& options)
{
    if (name == "--frames") {
        if (!parse_frame_count(value, options.frame_limit))
            return "--frames wants a positive whole number, not '" + value + "'";
    } else if (name == "--format") {
        if (value == "jsonl") options.format = OutputFormat::jsonl;
        else if (value == "console") options.format = OutputFormat::console;
        else return "--format is jsonl or console, not '" + value + "'";
    } else if (name == "--output" || name == "--save-views" || name == "--record") {
        if (value.empty()) return name + " wants a path";
        std::string& target = name == "--output"       ? options.output_path
                              : name == "--save-views" ? options.views_dir
                                                       : options.record_dir;
        target = value;
    }
    return {};
}

bool takes_value(const std::string& name)
{
    return name == "--frames" || name == "--format" || name == "--output" ||
           name == "--save-views" || name == "--record";
}

}  // namespace

ParsedOptions parse_scan_options(const std::vector<std::string>& args)
{
    ParsedOptions parsed;
    ScanOptions& options = parsed.options;
    bool options_ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_ended || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_ended = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return parsed;
        }
        if (arg == "--camera") {
            options.camera = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (!takes_value(name)) {
            parsed.error = "unknown option " + name;
            return parsed;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            parsed.error = name + " wants a value";
            return parsed;
        }
        parsed.error = apply_valued_option(name, value, options);
        if (!parsed.error.empty()) return parsed;
    }
    if (options.camera && !options.inputs.empty())
        parsed.error = "give either --camera or input files, not both";
    else if (!options.camera && options.inputs.empty())
        parsed.error = "no input: give PNG files or folders, or --camera";
    return parsed;
}

std::string scan_usage()
{
    return "Usage: pallet_scan [OPTION]... INPUT...\n"
           "       pallet_scan [OPTION]... --camera\n"
           "Runs the pallet analysis of pallet_detector without windows, on 16-bit PNG depth\n"
           "frames (640 x 480, millimetres) or on the live camera, one record per frame.\n"
           "\n"
           "Inputs: PNG files, and folders whose .png files are read in name order.\n"
           "\n"
           "Options:\n"
           "  --camera           read frames from the camera (the stand-in camera plays what\n"
           "                     KV3_SOURCE names); runs until --frames, the end of a replay\n"
           "                     that plays once, or Ctrl-C\n"
           "  --frames N         stop after N frames\n"
           "  --format FORMAT    jsonl (default): one JSON object per frame;\n"
           "                     console: the bytes pallet_detector writes for each frame\n"
           "  --output FILE      write the records to FILE instead of standard output\n"
           "  --save-views DIR   write each frame's result view to DIR as a PNG named after\n"
           "                     its input (camera frames: frame_NNNNNN.png)\n"
           "  --record DIR       write each input frame to DIR as frame_NNNNNN.png (16-bit),\n"
           "                     so that KV3_SOURCE=replay:DIR plays the run back\n"
           "  -h, --help         show this text\n"
           "\n"
           "Exit status: 0 all frames analysed; 1 an input or a write failed; 2 usage error\n"
           "or unusable output path; 130 interrupted (SIGINT or SIGTERM).\n";
}
