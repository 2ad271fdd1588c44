#include "tools/calibrate_options.hpp"

#include <limits>

#include "tools/cli.hpp"

namespace {

// The command line as given, before the checks across options make CalibrateOptions of it.
struct CalibrateArguments {
    bool camera = false;
    std::uint64_t frame_limit = 0;
    std::vector<std::string> inputs;
    std::string output_path;
    std::optional<double> pallet_distance_mm;
    std::optional<double> pallet_lateral_mm;
    std::optional<double> x_mm, y_mm, yaw_deg;
};

// Every option of pallet_calibrate, bound to `a`: the parse and the help text both read these.
void define_calibrate_options(CLI::App& app, CalibrateArguments& a)
{
    set_up_command_line(app, "Exit status: 0 the mount written; 1 the camera cannot be started or the file\n"
                             "not written; 2 usage error; 3 fewer than 3 frames show a floor that fits; 4 a\n"
                             "pallet was given but fewer than 3 frames show it; 130 interrupted (SIGINT or\n"
                             "SIGTERM), nothing written.");
    app.add_option("INPUT", a.inputs, "16-bit PNG depth frames (640 x 480, mm), and folders whose .png files\n"
                                      "are read in name order")
        ->type_name("");
    add_path_option(app, "-o,--output", "FILE", "the mount file to write (JSON; needed)", a.output_path);
    app.add_flag("--camera", a.camera, "read frames from the camera (the stand-in camera plays what\nKV3_SOURCE names)");
    add_count_option(app, "--frames", "N", "frames to use: the camera's first N (default 30), or the first N\ninputs",
                     a.frame_limit, 1, std::numeric_limits<std::uint64_t>::max());
    add_number_option(app, "--pallet-distance", "MM",
                      "a pallet stands square ahead, its face's middle MM ahead of the\n"
                      "vehicle frame's origin: measures the yaw, x and y too",
                      a.pallet_distance_mm, 300.0, 20000.0);
    add_number_option(app, "--pallet-lateral", "MM", "that middle MM to the left of the origin (default 0)",
                      a.pallet_lateral_mm, -20000.0, 20000.0);
    add_number_option(app, "--x-mm", "MM", "the camera's x to write when no pallet measures it (default 0)", a.x_mm,
                      -20000.0, 20000.0);
    add_number_option(app, "--y-mm", "MM", "its y (default 0)", a.y_mm, -20000.0, 20000.0);
    add_number_option(app, "--yaw-deg", "DEG", "its yaw (default 0)", a.yaw_deg, -180.0, 180.0);
}

const char* const description =
    "Measures the camera's mount on the vehicle from frames of open floor (its height, pitch\n"
    "and roll) and, with a pallet placed square ahead, its yaw and its x and y; writes the\n"
    "mount file.";

// The usage error of options that do not go together; empty when they do.
std::string across_options(const CalibrateArguments& a)
{
    if (a.output_path.empty()) return "no mount file: give -o FILE";
    if (a.camera && !a.inputs.empty()) return "give either --camera or input files, not both";
    if (!a.camera && a.inputs.empty()) return "no frames: give PNG files or folders, or --camera";
    if (a.pallet_lateral_mm && !a.pallet_distance_mm) return "--pallet-lateral needs --pallet-distance";
    if (a.pallet_distance_mm) {
        for (const auto& [name, value] : {std::pair{"--x-mm", a.x_mm}, {"--y-mm", a.y_mm}, {"--yaw-deg", a.yaw_deg}}) {
            if (value) return std::string("give either --pallet-distance or ") + name + ", not both: the pallet measures it";
        }
    }
    return {};
}

}  // namespace

Parsed<CalibrateOptions> parse_calibrate_options(const std::vector<std::string>& args)
{
    const Parsed<CalibrateArguments> given =
        parse_options("pallet_calibrate", description, define_calibrate_options, args);
    Parsed<CalibrateOptions> parsed;
    parsed.result = given.result;
    if (parsed.result.help || !parsed.result.error.empty()) return parsed;
    const CalibrateArguments& a = given.options;
    parsed.result.error = across_options(a);
    CalibrateOptions& o = parsed.options;
    o.camera = a.camera;
    o.frame_limit = a.frame_limit == 0 && a.camera ? 30 : a.frame_limit;
    o.inputs = a.inputs;
    o.output_path = a.output_path;
    if (a.pallet_distance_mm) o.target = PalletTarget{*a.pallet_distance_mm, a.pallet_lateral_mm.value_or(0.0)};
    o.given.x_mm = a.x_mm.value_or(0.0);
    o.given.y_mm = a.y_mm.value_or(0.0);
    o.given.yaw_deg = a.yaw_deg.value_or(0.0);
    return parsed;
}

std::string calibrate_usage()
{
    return help_text("pallet_calibrate", description, define_calibrate_options);
}
