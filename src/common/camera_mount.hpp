// Where the camera sits on the vehicle: its pose in the vehicle frame, read from and written to a
// mount file (JSON).
//
// Vehicle frame (mm, REP-103 axes): x forward, y left, z up; its origin lies on the floor, at a
// point of the vehicle the user chooses (e.g. between the fork tips), so that z is the height
// above the floor. The camera's orientation is yaw about z, then pitch about the turned y, then
// roll about the turned x (R = Rz(yaw) Ry(pitch) Rx(roll)), turning the camera's body axes
// (x along the optical axis, y to the image's left, z to its top) out of the vehicle's: yaw > 0
// turns the camera to the left, pitch > 0 tips its axis down (a camera looking 6 degrees up has
// pitch -6), roll > 0 turns it clockwise as seen from behind (its right side dips).
#pragma once

#include <optional>
#include <string>

struct CameraMount {
    double x_mm = 0.0;
    double y_mm = 0.0;
    double z_mm = 0.0;
    double roll_deg = 0.0;
    double pitch_deg = 0.0;
    double yaw_deg = 0.0;
};

// The camera's view as the tangents of its outermost pixels' rays (optical frame: x right, y down,
// at unit depth): the mount check needs to know which directions the image covers.
struct CameraView {
    double x_min = 0.0;  // left column
    double x_max = 0.0;  // right column
    double y_min = 0.0;  // top row
    double y_max = 0.0;  // bottom row
};

// Why the mount cannot be a camera that sees the floor, as one line naming the key ("z_mm: ...",
// "pitch_deg: ..."); empty when it can. Refused: the camera at or below the floor (z_mm <= 0), and
// an orientation in which every pixel of the view looks at or above the horizon.
std::string camera_mount_problem(const CameraMount& mount, const CameraView& view);

// The mount that a mount file gives: an object with exactly the keys x_mm, y_mm, z_mm (each within
// +-20000), roll_deg and yaw_deg (within +-180) and pitch_deg (within +-90), every one a number,
// which must pass camera_mount_problem. Nothing, with the reason in `error` ("pitch_deg: must lie
// between -90 and 90", "roll: unknown key", "z_mm: is missing"), when the text is no such file.
std::optional<CameraMount> parse_camera_mount(const std::string& text, const CameraView& view,
                                              std::string& error);

// The same for a file: its path and the reason in `error` when it cannot be read or is no valid
// mount file.
std::optional<CameraMount> load_camera_mount(const std::string& path, const CameraView& view,
                                             std::string& error);

// The mount file's text: one JSON object, the keys in the order above, lengths rounded to 0.01 mm
// and angles to 0.001 degrees, ended by a line feed. parse_camera_mount reads it back.
std::string camera_mount_text(const CameraMount& mount);
