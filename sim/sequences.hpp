// Sequences of frames for a camera on a moving vehicle: approaches to one or two pallets, with
// curves, the camera's vibration and a pallet leaving the view and coming back; and the scenes of
// a mount calibration (floor only, or a pallet placed square ahead). Each frame gives the scene to
// render and its truth in the vehicle frame.
//
// World frame (mm): on the floor, x and y horizontal, z up, yaw counter-clockwise seen from above.
// Vehicle frame (common/camera_mount.hpp): x forward, y left, z up, origin on the floor. The
// renderer's floor frame (sim/scene.hpp) follows the camera: origin below it, Y along its heading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "common/camera_mount.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace sim {

// A pallet standing in the world: the middle of its front face's bottom edge at (x_mm, y_mm),
// turned by yaw_deg; at yaw 0 the front face looks along -x, square to a vehicle heading along +x.
struct WorldPallet {
    double x_mm = 0.0;
    double y_mm = 0.0;
    double yaw_deg = 0.0;
    std::string model = "block_1200x800";
};

// The vehicle frame's origin at world (x_mm, y_mm), its x axis turned heading_deg from the world's.
struct VehiclePose {
    double x_mm = 0.0;
    double y_mm = 0.0;
    double heading_deg = 0.0;
};

// An approach to pallets[0], which stands at the world's origin looking along -x (any others
// anywhere). The vehicle drives at speed_mm_s along the world's x (the curve's path is a few per
// cent longer) from where the camera (at heading 0) stands start_distance_mm before the target's
// face to where it stands end_distance_mm before it. It starts start_lateral_mm to the left of
// the target's axis (its origin's y) and curves onto it: an S-curve that leaves and reaches the
// axis's direction level, the heading along the path. With swing_deg, the vehicle stops when the
// camera is swing_at_mm from the face (slowing evenly at 1 m/s^2), turns about its origin
// swing_deg to the left (< 0: right) and back, at most 25 degrees/s, then drives on (speeding up
// at 1 m/s^2). The camera's pitch on its mount shakes by up to
// vibration_deg (two sines of 2.3 and 5.1 Hz).
struct ApproachSequence {
    std::string name;
    CameraMount mount{-300.0, 0.0, 200.0, 0.0, -6.0, 0.0};
    std::vector<WorldPallet> pallets{WorldPallet{}};
    double start_distance_mm = 4000.0;
    double end_distance_mm = 600.0;
    double speed_mm_s = 1000.0;
    double start_lateral_mm = 0.0;
    double swing_deg = 0.0;
    double swing_at_mm = 2200.0;
    double vibration_deg = 0.3;
    double frame_rate = 30.0;
    Sensor sensor{6000.0, 1.0e-6, 0.0, true, 150.0};  // the renderer's noise, no random dropouts,
                                                      // no return from the fork openings
    std::uint64_t seed = 1;
};

// The catalogue, by name: "straight" (0.3 m/s, straight ahead), "curve" (1.0 m/s, from 800 mm to
// the left, the target turned 8 degrees), "two_pallets" (1.5 m/s, from 600 mm to the right, a
// plastic pallet 1.4 m to the right of the target; the camera 150 mm left of the vehicle's middle,
// turned 2 degrees to the right), "swing" (0.6 m/s, a stop at 2.2 m and a turn of 70 degrees to
// the left that takes the pallet out of view and back).
const std::vector<ApproachSequence>& approach_sequences();

// The catalogue's sequence of that name; throws std::invalid_argument for an unknown name.
const ApproachSequence& approach_sequence(const std::string& name);

// What the camera sees of one pallet in a frame, and where it stands.
struct PalletInView {
    bool centre_in_view = false;  // the face centre is in front of the camera and inside the image
    bool face_in_view = false;    // so are the face's four corners
    Eigen::Vector3d centre_vehicle = Eigen::Vector3d::Zero();  // the front face's centre (half its
                                                               // height up), vehicle frame
    double yaw_vehicle_deg = 0.0;  // the face's yaw, vehicle frame: 0 square to the vehicle's x
                                   // axis, > 0 counter-clockwise from above, in (-180, 180]
    Eigen::Vector3d centre_floor = Eigen::Vector3d::Zero();    // the renderer's floor frame
    double yaw_floor_deg = 0.0;                                 // = the placement's yaw
};

struct SequenceFrame {
    std::uint64_t index = 0;       // from 0
    double time_s = 0.0;           // index / frame rate
    VehiclePose vehicle;
    double vibration_deg = 0.0;    // added to the mount's pitch in this frame
    Scene scene;                   // to render: the camera on its mount, the pallets around it
    std::uint64_t seed = 0;        // of the frame's sensor noise
    std::vector<PalletInView> pallets;  // the approach's pallets, in its order
};

// Frames of the sequence: from index 0 at the start to the last at the end distance.
std::uint64_t sequence_frame_count(const ApproachSequence& approach);

// The frame of that index (any index: beyond the last the vehicle stands at the end).
SequenceFrame sequence_frame(const ApproachSequence& approach, std::uint64_t index);

// The renderer's mount for a camera mount (its height, pitch with the sign turned, roll); the
// mount's x, y and yaw place the camera on the floor instead.
Mount renderer_mount(const CameraMount& mount, double extra_pitch_deg = 0.0);

// A world pallet as the renderer places it for a camera on `mount` of a vehicle at `vehicle`.
PalletPlacement placement_for(const CameraMount& mount, const VehiclePose& vehicle, const WorldPallet& pallet);

// Where a world pallet's front face stands for that camera and vehicle.
PalletInView pallet_in_view(const CameraMount& mount, const VehiclePose& vehicle, double extra_pitch_deg,
                            const WorldPallet& pallet);

// A mount calibration's floor: only the floor, seen by a camera on `mount`.
Scene calibration_floor_scene(const CameraMount& mount);

// A mount calibration's pallet: the floor and a pallet whose front face stands square ahead of the
// vehicle, its middle at vehicle (pallet_x_mm, pallet_y_mm) on the floor.
Scene calibration_pallet_scene(const CameraMount& mount, double pallet_x_mm, double pallet_y_mm,
                               const std::string& model = "block_1200x800");

}  // namespace sim
