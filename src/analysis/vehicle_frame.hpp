// The pallet in the vehicle's frame: camera-frame and floor-frame points, and the face's yaw,
// turned into the frame a vehicle steers by, given where the camera is mounted
// (common/camera_mount.hpp).
//
// Frames (mm). Camera frame: x right, y down, z along the optical axis. Floor frame (DockPose's):
// origin on the floor below the camera, X right, Y forward (the optical axis laid onto the floor),
// Z up. Vehicle frame (REP-103): x forward, y left, z up, origin on the floor where the mount
// file puts it. Yaw angles turn about the up axis, > 0 counter-clockwise seen from above.
#pragma once

#include <vector>

#include <Eigen/Core>

#include "analysis/dock_pose.hpp"
#include "common/camera_mount.hpp"

// The depth camera's view (analysis/depth_intake.hpp's camera_model): the rays of the centres of
// its outermost rows and columns.
CameraView depth_camera_view();

// The mount's rotation Rz(yaw) Ry(pitch) Rx(roll) times the turn from the camera's optical axes
// to its body axes: its columns are the camera frame's x (right), y (down) and z (optical axis)
// in the vehicle frame.
Eigen::Matrix3d camera_axes_in_vehicle(const CameraMount& mount);

// A camera-frame point in the vehicle frame, through the mount alone (its pitch, roll and height
// as the file gives them); NaN stays NaN.
Eigen::Vector3d camera_to_vehicle(const CameraMount& mount, const Eigen::Vector3d& camera_point);

// A vehicle-frame point in the camera frame: the inverse of camera_to_vehicle.
Eigen::Vector3d vehicle_to_camera(const CameraMount& mount, const Eigen::Vector3d& vehicle_point);

// A floor-frame point in the vehicle frame, through the floor measured in that frame: its Z is
// the height above the floor as measured, and only the mount's x, y and yaw are used (the floor
// frame's Y is the camera's heading, which the mount's yaw turns from the vehicle's x). A camera
// whose pitch shakes on its mount thus gives the same vehicle point as a steady one. Assumes the
// vehicle stands level on that floor.
Eigen::Vector3d floor_to_vehicle(const CameraMount& mount, const Eigen::Vector3d& floor_point);

// The inverse of floor_to_vehicle.
Eigen::Vector3d vehicle_to_floor(const CameraMount& mount, const Eigen::Vector3d& vehicle_point);

// An angle in degrees wrapped to (-180, 180].
double wrapped_deg(double deg);

// The face's yaw in the vehicle frame from its yaw in the floor frame (DockPose::yaw_deg, 0
// square on to the camera's heading): 0 when the face is square to the vehicle's x axis (its
// outward normal pointing straight back along -x), > 0 counter-clockwise seen from above, i.e.
// the face's right end (as the vehicle sees it, towards -y) farther ahead. In (-180, 180].
double vehicle_yaw_deg(const CameraMount& mount, double floor_yaw_deg);

// A measured pallet in the vehicle frame. Points that were not measured hold NaN.
struct VehiclePallet {
    Eigen::Vector3d centre = Eigen::Vector3d::Constant(NAN);      // the face centre
    double yaw_deg = NAN;                                          // vehicle_yaw_deg of the face
    Eigen::Vector3d left_edge = Eigen::Vector3d::Constant(NAN);   // the face's ends, as DockPose
    Eigen::Vector3d right_edge = Eigen::Vector3d::Constant(NAN);  // names them (seen from the camera)
    std::vector<Eigen::Vector3d> pocket_centres;                   // DockPose's order, left to right
};

// The pallet's points and yaw through floor_to_vehicle and vehicle_yaw_deg: the floor-frame
// points of the pose (NaN without a floor, and so is the result).
VehiclePallet vehicle_pallet(const CameraMount& mount, const DockPose& pose);

// The camera's place on the vehicle, as far as a face seen on the floor tells it.
struct CameraPlacement {
    double x_mm = NAN;
    double y_mm = NAN;
    double yaw_deg = NAN;
};

// The camera's x, y and yaw in the vehicle frame that put a face measured at floor-frame point
// face_floor with floor-frame yaw face_floor_yaw_deg where it is known to stand: its centre at
// vehicle (face_x_mm, face_y_mm), with vehicle yaw face_vehicle_yaw_deg (0 for a face square
// ahead). The inverse of floor_to_vehicle and vehicle_yaw_deg for that one face.
CameraPlacement camera_placement_from_face(const Eigen::Vector3d& face_floor, double face_floor_yaw_deg,
                                           double face_x_mm, double face_y_mm,
                                           double face_vehicle_yaw_deg = 0.0);
