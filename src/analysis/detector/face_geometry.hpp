// What the steps of the detector pass between them: measured points in the floor frame and the
// line where a face meets the floor.
#pragma once

#include <cmath>
#include <cstdint>

#include <Eigen/Core>

// A measured pixel in the floor frame (mm), its height above the local floor.
struct FacePoint {
    float x;  // lateral
    float y;  // forward
    float h;  // above the floor
    std::int16_t u;
    std::int16_t v;
};

// m . (x, y) = c with m a unit normal pointing away from the camera (c > 0): r = m . p - c is
// > 0 behind the line and < 0 in front of it; t = my x - mx y runs along it to the right.
struct Line {
    double mx, my, c;
};

inline double residual(const Line& line, double x, double y)
{
    return line.mx * x + line.my * y - line.c;
}

inline double residual(const Line& line, const FacePoint& p)
{
    return residual(line, static_cast<double>(p.x), static_cast<double>(p.y));
}

inline double along(const Line& line, double x, double y)
{
    return line.my * x - line.mx * y;
}

inline double along(const Line& line, const FacePoint& p)
{
    return along(line, static_cast<double>(p.x), static_cast<double>(p.y));
}

// The floor-frame point `t` along the line, `height` above the floor.
inline Eigen::Vector3d point_on_line(const Line& line, double t, double height)
{
    return {line.c * line.mx + t * line.my, line.c * line.my - t * line.mx, height};
}

// The unit eigenvector of the larger eigenvalue of [[a, b], [b, c]] (a scatter), from the
// better conditioned of its two forms; zero for a scatter of zero.
inline Eigen::Vector2d major_axis(double a, double b, double c)
{
    const double half = 0.5 * (a - c);
    const double larger = 0.5 * (a + c) + std::sqrt(half * half + b * b);
    const Eigen::Vector2d one(larger - c, b);
    const Eigen::Vector2d other(b, larger - a);
    const Eigen::Vector2d& v = one.squaredNorm() >= other.squaredNorm() ? one : other;
    const double length = std::sqrt(v.squaredNorm());
    return length > 0.0 ? Eigen::Vector2d(v / length) : Eigen::Vector2d::Zero();
}

// The line along `axis` through (x, y), its normal turned away from the camera (the floor frame's
// origin); false for a zero axis or a line through the camera.
inline bool line_along(const Eigen::Vector2d& axis, double x, double y, Line& line)
{
    if (!(axis.squaredNorm() > 0.0)) return false;
    line = {-axis.y(), axis.x(), 0.0};
    line.c = line.mx * x + line.my * y;
    if (line.c < 0.0) line = {-line.mx, -line.my, -line.c};
    return line.c > 0.0;
}
