#include "analysis/vehicle_frame.hpp"

#include <cmath>

#include <Eigen/Geometry>

#include "analysis/depth_intake.hpp"
#include "common/portable_math.hpp"

namespace {

// The rotation by yaw about the up axis, for the plane parts of the conversions.
Eigen::Matrix2d planar_rotation(double yaw_deg)
{
    const SinCos t = portable_sincos_deg(yaw_deg);
    Eigen::Matrix2d r;
    r << t.cos, -t.sin, t.sin, t.cos;
    return r;
}

}  // namespace

CameraView depth_camera_view()
{
    return {(0.0 - camera_model.cx) / camera_model.fx, (depth_cols - 1.0 - camera_model.cx) / camera_model.fx,
            (0.0 - camera_model.cy) / camera_model.fy, (depth_rows - 1.0 - camera_model.cy) / camera_model.fy};
}

Eigen::Matrix3d camera_axes_in_vehicle(const CameraMount& mount)
{
    const SinCos y = portable_sincos_deg(mount.yaw_deg);
    const SinCos p = portable_sincos_deg(mount.pitch_deg);
    const SinCos r = portable_sincos_deg(mount.roll_deg);
    Eigen::Matrix3d yaw;
    yaw << y.cos, -y.sin, 0.0, y.sin, y.cos, 0.0, 0.0, 0.0, 1.0;
    Eigen::Matrix3d pitch;
    pitch << p.cos, 0.0, p.sin, 0.0, 1.0, 0.0, -p.sin, 0.0, p.cos;
    Eigen::Matrix3d roll;
    roll << 1.0, 0.0, 0.0, 0.0, r.cos, -r.sin, 0.0, r.sin, r.cos;
    // Optical x (right) is body -y, optical y (down) body -z, the optical axis body x.
    Eigen::Matrix3d optical_to_body;
    optical_to_body << 0.0, 0.0, 1.0, -1.0, 0.0, 0.0, 0.0, -1.0, 0.0;
    const Eigen::Matrix3d body = yaw * pitch * roll;  // evaluated left to right
    return body * optical_to_body;
}

Eigen::Vector3d camera_to_vehicle(const CameraMount& mount, const Eigen::Vector3d& camera_point)
{
    return camera_axes_in_vehicle(mount) * camera_point + Eigen::Vector3d(mount.x_mm, mount.y_mm, mount.z_mm);
}

Eigen::Vector3d vehicle_to_camera(const CameraMount& mount, const Eigen::Vector3d& vehicle_point)
{
    return camera_axes_in_vehicle(mount).transpose() *
           (vehicle_point - Eigen::Vector3d(mount.x_mm, mount.y_mm, mount.z_mm));
}

Eigen::Vector3d floor_to_vehicle(const CameraMount& mount, const Eigen::Vector3d& floor_point)
{
    // The floor frame's (X right, Y forward) is (forward, left) = (Y, -X) along the camera's heading.
    const Eigen::Vector2d heading(floor_point.y(), -floor_point.x());
    const Eigen::Vector2d planar = planar_rotation(mount.yaw_deg) * heading;
    return {mount.x_mm + planar.x(), mount.y_mm + planar.y(), floor_point.z()};
}

Eigen::Vector3d vehicle_to_floor(const CameraMount& mount, const Eigen::Vector3d& vehicle_point)
{
    const Eigen::Vector2d offset(vehicle_point.x() - mount.x_mm, vehicle_point.y() - mount.y_mm);
    const Eigen::Vector2d heading = planar_rotation(mount.yaw_deg).transpose() * offset;
    return {-heading.y(), heading.x(), vehicle_point.z()};
}

double wrapped_deg(double deg)
{
    return deg - 360.0 * std::ceil((deg - 180.0) / 360.0);
}

double vehicle_yaw_deg(const CameraMount& mount, double floor_yaw_deg)
{
    // Both yaws turn counter-clockwise about the same up axis; the floor frame's zero is the
    // camera's heading, which the mount's yaw turns from the vehicle's x.
    return wrapped_deg(floor_yaw_deg + mount.yaw_deg);
}

VehiclePallet vehicle_pallet(const CameraMount& mount, const DockPose& pose)
{
    VehiclePallet pallet;
    pallet.centre = floor_to_vehicle(mount, pose.centre_floor);
    pallet.yaw_deg = vehicle_yaw_deg(mount, pose.yaw_deg);
    pallet.left_edge = floor_to_vehicle(mount, pose.left_edge_floor);
    pallet.right_edge = floor_to_vehicle(mount, pose.right_edge_floor);
    for (const DockPocket& pocket : pose.pockets) {
        pallet.pocket_centres.push_back(floor_to_vehicle(mount, pocket.centre_floor));
    }
    return pallet;
}

CameraPlacement camera_placement_from_face(const Eigen::Vector3d& face_floor, double face_floor_yaw_deg,
                                           double face_x_mm, double face_y_mm, double face_vehicle_yaw_deg)
{
    CameraPlacement placement;
    placement.yaw_deg = wrapped_deg(face_vehicle_yaw_deg - face_floor_yaw_deg);
    const Eigen::Vector2d heading(face_floor.y(), -face_floor.x());
    const Eigen::Vector2d planar = planar_rotation(placement.yaw_deg) * heading;
    placement.x_mm = face_x_mm - planar.x();
    placement.y_mm = face_y_mm - planar.y();
    return placement;
}
