// The renderer's geometry, shared by the legacy sensor and the time-of-flight model: the scene's
// boxes grouped by the frame they are rigid in, rays in those frames and the slab test. Internal
// to sim/.
#pragma once

#include <algorithm>
#include <array>
#include <limits>
#include <vector>

#include <Eigen/Core>
#include <opencv2/core.hpp>

#include "sim/materials.hpp"
#include "sim/scene.hpp"

namespace sim::detail {

Eigen::Matrix3d yaw_rotation(double yaw_deg);

struct Aabb {
    double lo[3];
    double hi[3];
};

struct Part {
    Aabb box;
    Label label;
};

// Rigid boxes in one local frame, seen from the camera: a ray with camera-frame direction
// (du, dv, 1) has local direction du * axis[0] + dv * axis[1] + axis[2] from local origin. Local
// z is the floor frame's Z shifted by lift (every group is turned about the vertical only).
struct Group {
    double origin[3];
    double axis[3][3];
    Aabb bound;
    std::vector<Part> parts;
    bool is_pallet;
    cv::Rect screen;    // pixels whose rays may meet the bound
    double lift;        // floor-frame Z of the local origin, mm
    Material material;  // never Material::automatic
};

// The pixels that can see a box: the bounding rectangle of its corners' images, widened by a
// pixel for rounding; the whole image when a corner is not in front of the camera or not finite.
cv::Rect screen_rect(const Group& group);

// The scene's pallets, then its boxes, each a group.
std::vector<Group> make_groups(const Scene& scene);

// A ray o + t * d with 1 / d precomputed, for testing it against many boxes.
struct Ray {
    double o[3];
    double d[3];
    double inv[3];
};

inline Ray make_ray(const double o[3], const double d[3])
{
    Ray ray{};
    for (int k = 0; k < 3; ++k) {
        ray.o[k] = o[k];
        ray.d[k] = d[k];
        ray.inv[k] = 1.0 / d[k];
    }
    return ray;
}

// Narrows [t0, t1] to where the ray lies between lo and hi along one axis.
inline bool clip_axis(double o, double d, double inv, double lo, double hi, double& t0, double& t1)
{
    if (d == 0.0) {  // parallel to this slab: the inverse would give 0 * inf = NaN at its edge
        return o >= lo && o <= hi;
    }
    const double ta = (lo - o) * inv;
    const double tb = (hi - o) * inv;
    t0 = std::max(t0, std::min(ta, tb));
    t1 = std::min(t1, std::max(ta, tb));
    return t0 <= t1;
}

// The ray's parameter interval [t0, t1] inside the box, if any.
inline bool slab(const Ray& ray, const Aabb& box, double& t0, double& t1)
{
    t0 = -std::numeric_limits<double>::infinity();
    t1 = std::numeric_limits<double>::infinity();
    return clip_axis(ray.o[0], ray.d[0], ray.inv[0], box.lo[0], box.hi[0], t0, t1) &&
           clip_axis(ray.o[1], ray.d[1], ray.inv[1], box.lo[1], box.hi[1], t0, t1) &&
           clip_axis(ray.o[2], ray.d[2], ray.inv[2], box.lo[2], box.hi[2], t0, t1);
}

// The ray of camera-frame direction (du, dv, 1) in group g's frame; row holds the group's
// dv * axis[1] + axis[2] for the ray's row.
inline Ray group_ray(const Group& group, const std::array<double, 3>& row, double du)
{
    const double d[3] = {row[0] + du * group.axis[0][0], row[1] + du * group.axis[0][1],
                         row[2] + du * group.axis[0][2]};
    return make_ray(group.origin, d);
}

}  // namespace sim::detail
