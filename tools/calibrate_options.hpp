// pallet_calibrate's command line (tools/cli.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/camera_mount.hpp"
#include "tools/calibrate_mount.hpp"
#include "tools/parsed.hpp"

struct CalibrateOptions {
    bool camera = false;                 // frames from the camera instead of files
    std::uint64_t frame_limit = 0;       // 0: every file; the camera takes 30 then
    std::vector<std::string> inputs;     // PNG files and folders
    std::string output_path;             // the mount file
    std::optional<PalletTarget> target;  // --pallet-distance and --pallet-lateral
    CameraMount given;                   // x_mm, y_mm, yaw_deg when no target measures them
};

// The options of the arguments after the program name, or the usage error: also no mount file,
// no frames, both --camera and inputs, --pallet-lateral without --pallet-distance, and a given
// --x-mm, --y-mm or --yaw-deg beside --pallet-distance (which measures them).
Parsed<CalibrateOptions> parse_calibrate_options(const std::vector<std::string>& args);

// The text of --help, made from the same definitions.
std::string calibrate_usage();
