// The floor frame of a fitted floor and the conversions between it and the camera frame.
#pragma once

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "analysis/depth_intake.hpp"

// Origin on the floor straight below the camera, Z up along the floor normal, Y forward (the
// optical axis laid onto the floor), X = Y x Z to the right (mm).
struct FloorFrame {
    Eigen::Vector3d x = Eigen::Vector3d::UnitX();
    Eigen::Vector3d y = Eigen::Vector3d::UnitZ();
    Eigen::Vector3d n = -Eigen::Vector3d::UnitY();
    double height = 0.0;  // the camera above the floor
};

// The frame of the floor with unit normal `normal` (camera frame, pointing up) `height` below the
// camera. The normal must lie far from the optical axis (a floor seen from above it).
inline FloorFrame floor_frame_of(const Eigen::Vector3d& normal, double height)
{
    const Eigen::Vector3d axis(0.0, 0.0, 1.0);
    const Eigen::Vector3d forward = (axis - axis.dot(normal) * normal).normalized();
    return {forward.cross(normal), forward, normal, height};
}

// Floor-frame point of a camera-frame point.
inline Eigen::Vector3d floor_of(const FloorFrame& f, const Eigen::Vector3d& p)
{
    return {f.x.dot(p), f.y.dot(p), f.n.dot(p) + f.height};
}

// Camera-frame point of a floor-frame point.
inline Eigen::Vector3d camera_of(const FloorFrame& f, const Eigen::Vector3d& q)
{
    return q.x() * f.x + q.y() * f.y + (q.z() - f.height) * f.n;
}

// Camera-frame direction of pixel (v, u) with unit z-depth: depth d gives the point d times it.
// Multiplied by the inverse focal lengths: no division in the loops that call it.
inline Eigen::Vector3d pixel_direction(double v, double u)
{
    const double inverse_fx = 1.0 / camera_model.fx;  // folded at compile time
    const double inverse_fy = 1.0 / camera_model.fy;
    return {(u - camera_model.cx) * inverse_fx, (v - camera_model.cy) * inverse_fy, 1.0};
}

// Floor coordinates per unit depth along one image row: a pixel (v, u) of depth d lies at lateral
// d * (x0 + xu * u), forward d * (y0 + yu * u) and height d * (h0 + hu * u) + height.
struct RowFloorCoefficients {
    double x0, xu, y0, yu, h0, hu;
};

inline RowFloorCoefficients row_floor_coefficients(const FloorFrame& f, int v)
{
    const double inverse_fx = 1.0 / camera_model.fx;
    const double b = (v - camera_model.cy) / camera_model.fy;
    const double hu = f.n.x() * inverse_fx, xu = f.x.x() * inverse_fx, yu = f.y.x() * inverse_fx;
    return {f.x.y() * b + f.x.z() - xu * camera_model.cx, xu,
            f.y.y() * b + f.y.z() - yu * camera_model.cx, yu,
            f.n.y() * b + f.n.z() - hu * camera_model.cx, hu};
}

// Where a camera-frame point (z > 0) appears: (u, v).
inline Eigen::Vector2d pixel_of(const Eigen::Vector3d& p)
{
    return {camera_model.cx + camera_model.fx * p.x() / p.z(), camera_model.cy + camera_model.fy * p.y() / p.z()};
}
