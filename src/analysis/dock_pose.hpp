// The measurement of one pallet face, for docking: the floor it stands on, the face as a line in
// the floor plane, its yaw, ends, centre and fork pockets, its type, a verdict and a confidence.
// The pallet detector (analysis/detector/detect_pallets.hpp) gives one per face it finds; it reads
// the depth image alone and never changes the fixed report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

// Frames (mm). Camera frame: x right, y down, z along the optical axis (depth_to_point). Floor
// frame, from the fitted floor: origin on the floor straight below the camera, Z up along the
// floor normal, Y forward (the optical axis laid onto the floor), X = Y x Z to the right.
// A point that is not measured holds NaN in every component.

// The floor plane: a camera point p lies at height normal . p + camera_height_mm above it.
struct DockFloor {
    bool found = false;                    // a plane with enough support and a plausible mount
    Eigen::Vector3d normal = Eigen::Vector3d::Constant(NAN);  // unit, camera frame, pointing up
    double camera_height_mm = NAN;         // the camera's centre above the floor
    double camera_tilt_deg = NAN;          // optical axis above the floor plane, > 0 looks up
    double camera_roll_deg = NAN;          // > 0: the camera turned clockwise, seen from behind
    double residual_mm = NAN;              // RMS distance of the inliers from the plane
    std::size_t inliers = 0;               // floor candidates within the band of it (measured
                                           // pixels of a grid over the image, DetectorParams)
};

// One fork opening between two blocks of the face.
struct DockPocket {
    double offset_mm = NAN;                // its middle along the face from the face centre, > 0 right
    double width_mm = NAN;                 // along the face
    Eigen::Vector3d centre_camera = Eigen::Vector3d::Constant(NAN);  // half the opening's height up
    Eigen::Vector3d centre_floor = Eigen::Vector3d::Constant(NAN);
};

// pallet: a face that matches a pallet type; unknown_type: a face on the floor with fork openings
// that matches none (see DetectorParams); no_pallet otherwise.
enum class DockVerdict { no_pallet, pallet, unknown_type };

// Why the verdict is no_pallet: the first check that failed, in this order.
enum class DockReason {
    none,             // the verdict is pallet or unknown_type
    no_floor,         // no floor plane holds
    no_face,          // no vertical face at pallet heights with enough points on its line
    face_tilted,      // the face leans more than the limit from the vertical
    not_on_floor,     // the face does not reach down to the floor
    wrong_width,      // both ends seen, and its width is no type's
    wrong_pockets,    // its openings are no type's, nor fork openings of an unknown type
    face_cut_off,     // a type fits what is seen, but no end nor opening places its centre
};

struct DockPose {
    DockFloor floor;
    std::string type;                      // the matched pallet type's name; empty for none

    // The face: a vertical plane, fitted as the line where it meets the floor.
    bool face_found = false;
    std::size_t face_points = 0;           // points of the search region at 25..130 mm height
    std::size_t face_inliers = 0;          // of those, on the face line
    double face_residual_mm = NAN;         // robust spread of the inliers about the line
    double face_tilt_deg = NAN;            // lean from the vertical, > 0 the top farther away
    double yaw_deg = NAN;                  // about the floor normal; 0 square on, > 0 the right
                                           // end farther away (counter-clockwise from above)
    double face_distance_mm = NAN;         // from the floor point below the camera to the face
                                           // line, perpendicular, in the floor plane
    Eigen::Vector3d face_normal_camera = Eigen::Vector3d::Constant(NAN);  // unit, towards the camera

    // Extent along the face line, at the face centre's height. An end at the image border is not
    // measured (NaN, and so is the width); the centre is then the middle between the two pockets.
    Eigen::Vector3d left_edge_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d left_edge_floor = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d right_edge_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d right_edge_floor = Eigen::Vector3d::Constant(NAN);
    double width_mm = NAN;
    double face_height_mm = NAN;           // top of the face above the floor
    // Middle of the width, half the face height above the floor.
    Eigen::Vector3d centre_camera = Eigen::Vector3d::Constant(NAN);
    Eigen::Vector3d centre_floor = Eigen::Vector3d::Constant(NAN);  // X lateral, Y forward, Z height

    std::vector<DockPocket> pockets;       // left to right; empty without a face

    DockVerdict verdict = DockVerdict::no_pallet;
    DockReason reason = DockReason::no_floor;
    // 0 for no_pallet; else in (0, 1]: 1 / (1 + u / 5 mm), u the standard error of the centre
    // along the face from the spread of its rows' estimates, times 1 / (1 + (e / s)^2) for the
    // width's miss of the type (s = its width tolerance), the pockets' largest miss of their place
    // and width (s = its opening tolerance) and the face's lean (s = 2 degrees); an unknown type
    // has its width and pockets factors at 1/2. A higher confidence means smaller errors.
    double confidence = 0.0;
};

// "pallet", "no_pallet" or "unknown_type".
const char* dock_verdict_name(DockVerdict verdict);

// "none", "no_floor", "no_face", ... as the enumerators are named.
const char* dock_reason_name(DockReason reason);
