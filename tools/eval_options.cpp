#include "tools/eval_options.hpp"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

namespace {

bool parse_unsigned(const std::string& text, std::uint64_t max, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20) return false;
    for (const char ch : text) {
        if (!std::isdigit(static_cast<unsigned char>(ch))) return false;
    }
    try {
        value = std::stoull(text);
    } catch (...) {  // out of range
        return false;
    }
    return value <= max;
}

}  // namespace

std::string eval_usage()
{
    return "usage: pallet_eval [options]\n"
           "Renders pallet scenes with known ground truth, runs the analysis on each and writes\n"
           "scenes.csv, summary.md and plots (when gnuplot is installed) to the output folder.\n"
           "\n"
           "Axes take V, V1,V2,... or LO:HI:STEP; the sweep is every combination.\n"
           "  --distance MM     pallet face ahead of the camera   (default 750:2500:250)\n"
           "  --yaw DEG         pallet yaw, > 0 turns its right end away (default -20:20:5)\n"
           "  --lateral MM      face middle right of the camera   (default -250:250:250)\n"
           "  --height MM       camera above the floor            (default 200,250)\n"
           "  --pitch DEG       camera tilt, > 0 looks up          (default 4:8:2)\n"
           "  --noise LEVEL     multiple of the default sensor's depth noise and dropouts\n"
           "                    (0 is an exact sensor)            (default 0:2:1)\n"
           "  --cavity both|on|off  fork openings return no depth (default both)\n"
           "  --empty N         floor-only scenes per camera height, tilt and noise level\n"
           "                    (0: none)                         (default 20)\n"
           "  --seed N          base of every scene's seed        (default 1)\n"
           "  --threads N       worker threads                    (default: one per core)\n"
           "  --out DIR         output folder, made when missing  (default eval_out)\n"
           "  --help            this text\n";
}

std::optional<EvalOptions> parse_eval_options(const std::vector<std::string>& args, std::string& error)
{
    EvalOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            continue;
        }
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return std::nullopt;
        }
        static const char* const valued[] = {"--distance", "--yaw", "--lateral", "--height", "--pitch",
                                             "--noise", "--cavity", "--seed", "--threads", "--out",
                                             "--empty"};
        if (std::find(std::begin(valued), std::end(valued), name) == std::end(valued)) {
            error = "unknown option '" + name + "'";
            return std::nullopt;
        }
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return std::nullopt;
        }
        const std::string& value = args[++i];
        std::vector<double>* axis = nullptr;
        if (name == "--distance") axis = &options.axes.distance_mm;
        else if (name == "--yaw") axis = &options.axes.yaw_deg;
        else if (name == "--lateral") axis = &options.axes.lateral_mm;
        else if (name == "--height") axis = &options.axes.height_mm;
        else if (name == "--pitch") axis = &options.axes.pitch_deg;
        else if (name == "--noise") axis = &options.axes.noise_level;
        if (axis != nullptr) {
            std::optional<std::vector<double>> values = parse_axis(value, error);
            if (!values) {
                error = name + ": " + error;
                return std::nullopt;
            }
            *axis = *values;
            continue;
        }
        std::uint64_t number = 0;
        if (name == "--cavity") {
            if (value == "both") options.axes.cavity_no_return = {false, true};
            else if (value == "on") options.axes.cavity_no_return = {true};
            else if (value == "off") options.axes.cavity_no_return = {false};
            else {
                error = "--cavity takes both, on or off, not '" + value + "'";
                return std::nullopt;
            }
        } else if (name == "--seed") {
            if (!parse_unsigned(value, UINT64_MAX, number)) {
                error = "--seed takes a whole number from 0, not '" + value + "'";
                return std::nullopt;
            }
            options.seed = number;
        } else if (name == "--empty") {
            if (!parse_unsigned(value, 10000, number)) {
                error = "--empty takes a whole number from 0 to 10000, not '" + value + "'";
                return std::nullopt;
            }
            options.empty = static_cast<int>(number);
        } else if (name == "--threads") {
            if (!parse_unsigned(value, 256, number) || number == 0) {
                error = "--threads takes a whole number from 1 to 256, not '" + value + "'";
                return std::nullopt;
            }
            options.threads = static_cast<int>(number);
        } else {  // --out
            if (value.empty()) {
                error = "--out needs a folder name";
                return std::nullopt;
            }
            options.out_dir = value;
        }
    }
    for (const double noise : options.axes.noise_level) {
        if (noise < 0.0) {
            error = "--noise levels must not be negative";
            return std::nullopt;
        }
    }
    for (const double height : options.axes.height_mm) {
        if (height <= 0.0) {
            error = "--height values must be above the floor (> 0)";
            return std::nullopt;
        }
    }
    for (const double distance : options.axes.distance_mm) {
        if (distance <= 0.0) {
            error = "--distance values must be ahead of the camera (> 0)";
            return std::nullopt;
        }
    }
    return options;
}
