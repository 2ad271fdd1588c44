// pallet_scan on the live camera.
#pragma once

#include <string>

#include "tools/scan_run.hpp"

// Starts the camera and analyses its frames until --frames, the end of a replay that plays
// once, a stop request or an output failure, then stops the pipeline. Frame sets without a
// depth frame and depth frames that are not 640 x 480 are skipped, counted and reported once
// per kind. Returns the error text when the camera cannot be started, empty otherwise.
std::string scan_camera(ScanRun& run);
