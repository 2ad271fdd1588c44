// pallet_calibrate's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/camera_mount.hpp"
#include "tools/calibrate_mount.hpp"

struct CalibrateOptions {
    bool help = false;
    bool camera = false;                 // frames from the camera instead of files
    std::uint64_t frame_limit = 0;       // 0: every file; the camera takes 30 then
    std::vector<std::string> inputs;     // PNG files and folders
    std::string output_path;             // the mount file
    std::optional<PalletTarget> target;  // --pallet-distance and --pallet-lateral
    CameraMount given;                   // x_mm, y_mm, yaw_deg when no target measures them
};

struct ParsedCalibrateOptions {
    CalibrateOptions options;
    std::string error;  // the usage error, empty when the command line is fine
};

// The options of a command line (the arguments after the program's name).
ParsedCalibrateOptions parse_calibrate_options(const std::vector<std::string>& arguments);

// The text of --help.
std::string calibrate_usage();
