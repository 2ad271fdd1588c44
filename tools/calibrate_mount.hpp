// The camera's mount measured from frames: its height, pitch and roll from the floor, and, with a
// pallet placed square ahead where the user says, its yaw and its x and y on the vehicle. Frames
// that do not fit are counted and left out. Pure functions over depth images and samples.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "analysis/dock_pose.hpp"
#include "analysis/detector/detect_pallets.hpp"
#include "common/camera_mount.hpp"

// The floor of a frame: the detector's floor fit alone (no face is sought).
DockFloor calibration_floor(const cv::Mat& depth, DetectorWorkspace& workspace);

// The pallet measurements of a frame, each with the frame's floor: for now the one the detector
// gives nearest the optical axis (dock_of), whatever its verdict.
std::vector<DockPose> calibration_pallets(const cv::Mat& depth, DetectorWorkspace& workspace);

// Where the pallet of a calibration stands: its front face square to the vehicle's x axis, the
// face's middle on the floor at vehicle (x_mm, y_mm).
struct PalletTarget {
    double x_mm = 0.0;  // ahead of the vehicle frame's origin
    double y_mm = 0.0;  // to its left
};

// One frame's word on the mount.
struct FloorSample {
    double z_mm;       // the camera above the floor
    double pitch_deg;  // the mount's pitch: the optical axis's elevation with the sign turned
    double roll_deg;
};

struct PalletSample {
    double x_mm;
    double y_mm;
    double yaw_deg;
};

// The frames of a calibration as they come in.
struct CalibrationFrames {
    std::size_t frames = 0;                // frames handed in
    std::vector<FloorSample> floors;       // frames whose floor was found
    std::vector<PalletSample> pallets;     // frames with a pallet verdict (with a target)
    std::size_t unreadable = 0;            // inputs that gave no frame
};

// Adds one frame: its floor, and with a target the camera's place that puts the frame's nearest
// pallet verdict where the target stands (vehicle_frame.hpp's camera_placement_from_face).
void add_calibration_frame(CalibrationFrames& frames, const cv::Mat& depth, const PalletTarget* target,
                           DetectorWorkspace& workspace);

// One value over the frames that fit: their mean, the spread of the frames about it (sample
// standard deviation; NaN for one frame) and the standard error of the mean (spread / sqrt(n)).
struct Estimate {
    double mean = NAN;
    double spread = NAN;
    double standard_error = NAN;
};

// Samples as rows of values, e.g. {z, pitch, roll}: the rows that fit, and the others.
struct Consensus {
    std::vector<Estimate> values;     // per column, over the rows kept
    std::size_t kept = 0;
    std::size_t outliers = 0;         // rows left out
};

// The rows that agree with the others: a row is left out when any of its values lies more than
// outlier_sigmas robust standard deviations (1.4826 times the median absolute deviation) from
// that column's median, and more than that column's tolerance (which keeps rows that differ by
// noise alone when most rows are alike). Then each column's estimate over the rows kept.
Consensus consensus_of(const std::vector<std::vector<double>>& rows, const std::vector<double>& tolerances,
                       double outlier_sigmas = 4.0);

// The smallest number of frames that fit for which a calibration writes a mount.
inline constexpr std::size_t calibration_min_frames = 3;

enum class CalibrationStatus {
    calibrated,       // every value measured or given
    no_floor,         // fewer than calibration_min_frames frames whose floor fits
    no_pallet,        // a target was given, fewer than that many frames whose pallet fits
};

struct MountCalibration {
    CalibrationStatus status = CalibrationStatus::no_floor;
    CameraMount mount;                     // valid when calibrated
    Consensus floor;                       // z_mm, pitch_deg, roll_deg
    Consensus pallet;                      // x_mm, y_mm, yaw_deg (with a target)
    std::size_t frames_without_floor = 0;
    std::size_t frames_without_pallet = 0; // with a target: frames whose floor fits but no pallet
};

// The mount from the frames: z, pitch and roll from the floor samples; with a target, x, y and
// yaw from the pallet samples, else those of `given`.
MountCalibration calibrate_mount(const CalibrationFrames& frames, const PalletTarget* target,
                                 const CameraMount& given);
