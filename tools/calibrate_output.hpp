// What pallet_calibrate writes: the report of a calibration and the mount file, whole or not at all.
#pragma once

#include <string>

#include "tools/calibrate_mount.hpp"

// The calibration's report, a few lines: the frames used and left out, and each value of the
// mount with the spread of the frames and the standard error of the mean (how far the value can
// be trusted against the frames' random errors), or "given" for the values no frame measured.
std::string calibration_report(const CalibrationFrames& frames, const MountCalibration& calibration,
                               bool with_target);

// The one line that says why a calibration wrote nothing (status no_floor or no_pallet), without
// a line feed; empty for a calibrated mount.
std::string calibration_failure(const CalibrationFrames& frames, const MountCalibration& calibration);

// Writes text to path whole or not at all: into a new file beside it, flushed to the disk, then
// renamed over path, so that a reader never sees half a file and a failure leaves path as it was.
// Returns the error text, empty on success.
std::string write_file_atomically(const std::string& path, const std::string& text);
