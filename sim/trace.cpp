#include "sim/trace.hpp"

#include <cmath>

#include "sim/intrinsics.hpp"

namespace sim::detail {

namespace {

double radians(double deg)
{
    return deg * (std::acos(-1.0) / 180.0);
}

}  // namespace

Eigen::Matrix3d yaw_rotation(double yaw_deg)
{
    const double c = std::cos(radians(yaw_deg));
    const double s = std::sin(radians(yaw_deg));
    Eigen::Matrix3d rotation;
    rotation << c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0;
    return rotation;
}

cv::Rect screen_rect(const Group& group)
{
    const cv::Rect image(0, 0, depth_camera.width, depth_camera.height);
    double lo_u = std::numeric_limits<double>::infinity();
    double lo_v = lo_u;
    double hi_u = -lo_u;
    double hi_v = -lo_u;
    for (int corner = 0; corner < 8; ++corner) {
        double p[3];  // corner relative to the camera, in the group's frame
        for (int k = 0; k < 3; ++k) {
            p[k] = ((corner >> k) & 1 ? group.bound.hi[k] : group.bound.lo[k]) - group.origin[k];
        }
        // Camera coordinates: the axes are orthonormal, so project onto each.
        double c[3];
        for (int j = 0; j < 3; ++j) {
            c[j] = p[0] * group.axis[j][0] + p[1] * group.axis[j][1] + p[2] * group.axis[j][2];
        }
        const double u = depth_camera.cx + depth_camera.fx * c[0] / c[2];
        const double v = depth_camera.cy + depth_camera.fy * c[1] / c[2];
        if (!(c[2] >= 1.0) || !std::isfinite(u) || !std::isfinite(v)) {  // NaN fails every test
            return image;
        }
        lo_u = std::min(lo_u, u);
        hi_u = std::max(hi_u, u);
        lo_v = std::min(lo_v, v);
        hi_v = std::max(hi_v, v);
    }
    const double limit = 1e6;  // keeps the conversion to int defined for far-off corners
    const cv::Point lo(static_cast<int>(std::floor(std::max(lo_u, -limit))) - 1,
                       static_cast<int>(std::floor(std::max(lo_v, -limit))) - 1);
    const cv::Point hi(static_cast<int>(std::ceil(std::min(hi_u, limit))) + 2,
                       static_cast<int>(std::ceil(std::min(hi_v, limit))) + 2);
    return cv::Rect(lo, hi) & image;
}

namespace {

Group make_group(const Mount& mount, const Eigen::Matrix3d& local_to_floor,
                 const Eigen::Vector3d& local_origin, std::vector<Part> parts, bool is_pallet,
                 Material material)
{
    const Eigen::Matrix3d camera_in_local = local_to_floor.transpose() * camera_to_floor(mount);
    const Eigen::Vector3d origin =
        local_to_floor.transpose() * (Eigen::Vector3d(0.0, 0.0, mount.height_mm) - local_origin);
    Group group{};
    group.bound = parts.front().box;
    for (const Part& part : parts) {
        for (int k = 0; k < 3; ++k) {
            group.bound.lo[k] = std::min(group.bound.lo[k], part.box.lo[k]);
            group.bound.hi[k] = std::max(group.bound.hi[k], part.box.hi[k]);
        }
    }
    for (int k = 0; k < 3; ++k) {
        group.origin[k] = origin(k);
        for (int j = 0; j < 3; ++j) {
            group.axis[j][k] = camera_in_local(k, j);
        }
    }
    group.parts = std::move(parts);
    group.is_pallet = is_pallet;
    group.screen = screen_rect(group);
    group.lift = local_origin.z();
    group.material = material;
    return group;
}

}  // namespace

std::vector<Group> make_groups(const Scene& scene)
{
    std::vector<Group> groups;
    for (const PalletPlacement& pallet : scene.pallets) {
        std::vector<Part> parts;
        for (const PalletPart& p : pallet_parts(pallet_model_of(pallet))) {
            parts.push_back({{{p.lo.x(), p.lo.y(), p.lo.z()}, {p.hi.x(), p.hi.y(), p.hi.z()}}, p.label});
        }
        const Eigen::Vector3d origin(pallet.lateral_mm, pallet.distance_mm, 0.0);
        const PalletModel& model = pallet_model_of(pallet);
        groups.push_back(make_group(scene.mount, yaw_rotation(pallet.yaw_deg), origin,
                                    std::move(parts), true, material_of_pallet(model)));
    }
    for (const Box& box : scene.boxes) {
        const Eigen::Vector3d half = box.size / 2.0;
        std::vector<Part> parts{{{{-half.x(), -half.y(), -half.z()}, {half.x(), half.y(), half.z()}},
                                 box.label}};
        const Material material =
            box.material == Material::automatic ? material_of_label(box.label) : box.material;
        groups.push_back(make_group(scene.mount, yaw_rotation(box.yaw_deg), box.centre,
                                    std::move(parts), false, material));
    }
    return groups;
}


}  // namespace sim::detail
