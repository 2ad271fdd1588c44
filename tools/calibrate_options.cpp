#include "tools/calibrate_options.hpp"

#include <algorithm>
#include <memory>

#include <CLI/CLI.hpp>

namespace {

// The values the options are parsed into, beside the application that parses them.
struct Parser {
    std::unique_ptr<CLI::App> app;
    CalibrateOptions options;
    double pallet_distance_mm = 0.0;
    double pallet_lateral_mm = 0.0;
    CLI::Option* pallet_distance = nullptr;
    CLI::Option* pallet_lateral = nullptr;
    CLI::Option* given_x = nullptr;
    CLI::Option* given_y = nullptr;
    CLI::Option* given_yaw = nullptr;
    CLI::Option* frames = nullptr;
};

std::unique_ptr<Parser> make_parser()
{
    auto p = std::make_unique<Parser>();
    p->app = std::make_unique<CLI::App>(
        "Measures the camera's mount on the vehicle from frames of open floor (its height, pitch and "
        "roll) and, with a pallet placed square ahead, its yaw and its x and y; writes the mount file.",
        "pallet_calibrate");
    CLI::App& app = *p->app;
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.add_option("inputs", p->options.inputs, "16-bit PNG depth frames, or folders of them");
    app.add_flag("--camera", p->options.camera, "Read frames from the camera (KV3_SOURCE for the stand-in)");
    p->frames = app.add_option("--frames", p->options.frame_limit,
                               "Frames to use: the camera's first N (default 30), or the first N files")
                    ->check(CLI::PositiveNumber);
    app.add_option("-o,--output", p->options.output_path, "The mount file to write (JSON)")->required();
    p->pallet_distance = app.add_option("--pallet-distance", p->pallet_distance_mm,
                                        "mm: the placed pallet's face centre ahead of the vehicle "
                                        "frame's origin (its x); measures yaw, x and y")
                             ->check(CLI::Range(300.0, 20000.0));
    p->pallet_lateral = app.add_option("--pallet-lateral", p->pallet_lateral_mm,
                                       "mm: that centre to the left of the origin (its y; default 0)")
                            ->check(CLI::Range(-20000.0, 20000.0))
                            ->needs(p->pallet_distance);
    p->given_x = app.add_option("--x-mm", p->options.given.x_mm, "The camera's x when no pallet measures it")
                     ->check(CLI::Range(-20000.0, 20000.0))
                     ->excludes(p->pallet_distance);
    p->given_y = app.add_option("--y-mm", p->options.given.y_mm, "Its y (default 0)")
                     ->check(CLI::Range(-20000.0, 20000.0))
                     ->excludes(p->pallet_distance);
    p->given_yaw = app.add_option("--yaw-deg", p->options.given.yaw_deg, "Its yaw (default 0)")
                       ->check(CLI::Range(-180.0, 180.0))
                       ->excludes(p->pallet_distance);
    return p;
}

}  // namespace

ParsedCalibrateOptions parse_calibrate_options(const std::vector<std::string>& arguments)
{
    const std::unique_ptr<Parser> p = make_parser();
    ParsedCalibrateOptions parsed;
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // as CLI11 takes them
    try {
        p->app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.options.help = true;
        return parsed;
    } catch (const CLI::ParseError& e) {
        parsed.error = e.what();
        return parsed;
    }
    parsed.options = p->options;
    if (p->pallet_distance->count() > 0) parsed.options.target = PalletTarget{p->pallet_distance_mm, p->pallet_lateral_mm};
    if (parsed.options.camera && !parsed.options.inputs.empty()) {
        parsed.error = "--camera takes no input files";
    } else if (!parsed.options.camera && parsed.options.inputs.empty()) {
        parsed.error = "no frames: give PNG files or folders, or --camera";
    }
    if (parsed.options.camera && p->frames->count() == 0) parsed.options.frame_limit = 30;
    return parsed;
}

std::string calibrate_usage()
{
    return make_parser()->app->help();
}
