#include "sim/render.hpp"

#include "common/random.hpp"
#include "sim/tof_render.hpp"
#include "sim/trace.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace sim {

namespace {

using detail::Group;
using detail::make_groups;
using detail::Part;
using detail::Ray;
using detail::group_ray;
using detail::slab;
using detail::yaw_rotation;

struct Hit {
    double t;  // z-depth, mm
    Label label;
    bool cavity;  // deep inside the pallet's outline
};

// Whether a hit at z-depth t lies deep inside a pallet's outline: more than cavity_depth_mm
// behind the point where the ray entered a pallet's bounding box, and not beyond its exit (the
// floor under a pallet is its box's base).
bool in_cavity(const Scene& scene, const std::vector<Group>& groups,
               const std::vector<std::array<double, 3>>& rows, double du, cv::Point pixel, double t)
{
    const double exit_slack = 1.0;  // mm of z-depth
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (!groups[g].is_pallet || !groups[g].screen.contains(pixel)) continue;
        double t0 = 0.0;
        double t1 = 0.0;
        if (!slab(group_ray(groups[g], rows[g], du), groups[g].bound, t0, t1) || t1 <= 0.0) continue;
        if (t > std::max(t0, 0.0) + scene.sensor.cavity_depth_mm && t <= t1 + exit_slack) return true;
    }
    return false;
}

// Nearest surface along camera-frame direction (du, dv, 1); rows[g] holds group g's
// dv * axis[1] + axis[2] for the current row. The cavity flag is set only when the sensor loses
// cavity returns.
Hit trace(const Scene& scene, const std::vector<Group>& groups,
          const std::vector<std::array<double, 3>>& rows, double floor_dz, double du, cv::Point pixel)
{
    Hit hit{std::numeric_limits<double>::infinity(), Label::none, false};
    if (scene.floor && floor_dz < 0.0 && scene.mount.height_mm > 0.0) {
        hit = {scene.mount.height_mm / -floor_dz, Label::floor, false};
    }
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        if (!group.screen.contains(pixel)) {
            continue;
        }
        const Ray ray = group_ray(group, rows[g], du);
        double t0 = 0.0;
        double t1 = 0.0;
        if (!slab(ray, group.bound, t0, t1) || t1 <= 0.0 || t0 >= hit.t) {
            continue;
        }
        for (const Part& part : group.parts) {
            if (slab(ray, part.box, t0, t1) && t0 > 0.0 && t0 < hit.t) {
                hit = {t0, part.label, false};
            }
        }
    }
    if (scene.sensor.cavity_no_return && hit.label != Label::none) {
        hit.cavity = in_cavity(scene, groups, rows, du, pixel, hit.t);
    }
    return hit;
}

// The measured depth of a surface at z-depth z, ray_length away; 0 for a lost return.
std::uint16_t sensed_depth(const Sensor& sensor, double z, double ray_length, std::uint64_t& rng)
{
    const double reach = ray_length / sensor.max_range_mm;  // weak far returns drop out more
    if (sensor.dropout_rate > 0.0 && random_uniform(rng) < sensor.dropout_rate * reach * reach) {
        return 0;
    }
    if (sensor.noise_k_per_mm > 0.0) {
        z += random_gaussian(rng) * sensor.noise_k_per_mm * z * z;
    }
    return static_cast<std::uint16_t>(std::clamp(z + 0.5, 1.0, 65535.0));  // z > 0: truncation rounds
}

}  // namespace

Eigen::Vector3d pixel_ray(double v, double u)
{
    return {(u - depth_camera.cx) / depth_camera.fx, (v - depth_camera.cy) / depth_camera.fy, 1.0};
}

cv::Point2d project(const Eigen::Vector3d& point)
{
    return {depth_camera.cx + depth_camera.fx * point.x() / point.z(),
            depth_camera.cy + depth_camera.fy * point.y() / point.z()};
}

Eigen::Vector3d floor_to_camera(const Mount& mount, const Eigen::Vector3d& point)
{
    return camera_to_floor(mount).transpose() * (point - Eigen::Vector3d(0.0, 0.0, mount.height_mm));
}

Eigen::Vector3d pallet_to_floor(const PalletPlacement& pallet, const Eigen::Vector3d& point)
{
    return yaw_rotation(pallet.yaw_deg) * point + Eigen::Vector3d(pallet.lateral_mm, pallet.distance_mm, 0.0);
}

namespace {

// One side of a pallet in its own frame: where its elevation's left end lies, the direction
// along it to the right (seen from outside), its outward normal, and the elevation it shows.
struct Side {
    Eigen::Vector3d left_end;
    Eigen::Vector3d along;
    Eigen::Vector3d normal;
    const PalletType* face;
};

std::vector<Side> sides_of(const PalletModel& model)
{
    const double w = model.front.width_mm;
    const double d = model.side.width_mm;
    return {{{-w / 2.0, 0.0, 0.0}, Eigen::Vector3d::UnitX(), -Eigen::Vector3d::UnitY(), &model.front},
            {{w / 2.0, d, 0.0}, -Eigen::Vector3d::UnitX(), Eigen::Vector3d::UnitY(), &model.front},
            {{-w / 2.0, d, 0.0}, -Eigen::Vector3d::UnitY(), -Eigen::Vector3d::UnitX(), &model.side},
            {{w / 2.0, 0.0, 0.0}, Eigen::Vector3d::UnitY(), Eigen::Vector3d::UnitX(), &model.side}};
}

// The truth of one side: its centre, normal and openings in the camera frame. The back and the
// left side show their elevation mirrored, so their openings are listed by where they lie.
FaceTruth face_truth(const Mount& mount, const PalletPlacement& pallet, const Side& side)
{
    const PalletType& face = *side.face;
    const Eigen::Matrix3d to_camera = camera_to_floor(mount).transpose();
    const Eigen::Matrix3d to_floor = yaw_rotation(pallet.yaw_deg);
    const auto camera_point = [&](double along, double height) {
        const Eigen::Vector3d p = side.left_end + along * side.along + height * Eigen::Vector3d::UnitZ();
        return floor_to_camera(mount, pallet_to_floor(pallet, p));
    };
    FaceTruth truth;
    truth.type = face.name;
    truth.width_mm = face.width_mm;
    truth.height_mm = face.height_mm;
    truth.centre = camera_point(face.width_mm / 2.0, face.height_mm / 2.0);
    truth.normal = to_camera * (to_floor * side.normal);
    const Eigen::Vector3d n = to_floor * side.normal;
    truth.yaw_deg = std::atan2(n.x(), -n.y()) * (180.0 / std::acos(-1.0));
    for (const FaceRect& o : face.openings) {
        truth.opening_centres.push_back(
            camera_point((o.left_mm + o.right_mm) / 2.0, (o.bottom_mm + o.top_mm) / 2.0));
    }
    return truth;
}

}  // namespace

Truth truth_of(const Scene& scene)
{
    Truth truth;
    truth.mount = scene.mount;
    const Eigen::Matrix3d to_camera = camera_to_floor(scene.mount).transpose();
    truth.floor_normal = to_camera * Eigen::Vector3d::UnitZ();
    if (scene.tof.enabled) truth.floor_relief = scene.tof.floor;
    for (const PalletPlacement& pallet : scene.pallets) {
        const PalletModel& model = pallet_model_of(pallet);
        const Eigen::Matrix3d to_floor = yaw_rotation(pallet.yaw_deg);
        const Eigen::Vector3d camera_in_pallet =
            to_floor.transpose() * (Eigen::Vector3d(0.0, 0.0, scene.mount.height_mm) -
                                    Eigen::Vector3d(pallet.lateral_mm, pallet.distance_mm, 0.0));
        const Eigen::Vector3d middle(0.0, model.side.width_mm / 2.0, model.front.height_mm / 2.0);
        const Eigen::Vector3d towards_camera = camera_in_pallet - middle;
        // The sides the camera sees, the one that faces it most squarely first.
        std::vector<std::pair<double, Side>> seen;
        for (const Side& side : sides_of(model)) {
            const Eigen::Vector3d centre = side.left_end + side.along * (side.face->width_mm / 2.0) +
                                           Eigen::Vector3d(0.0, 0.0, model.front.height_mm / 2.0);
            if (side.normal.dot(camera_in_pallet - centre) > 0.0) {
                seen.emplace_back(side.normal.dot(towards_camera), side);
            }
        }
        std::stable_sort(seen.begin(), seen.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        PalletTruth one;
        one.placement = pallet;
        for (const auto& [facing, side] : seen) one.faces.push_back(face_truth(scene.mount, pallet, side));
        truth.pallets.push_back(std::move(one));
    }
    return truth;
}

Frame render(const Scene& scene, std::uint64_t seed)
{
    const int rows = depth_camera.height;
    const int cols = depth_camera.width;
    Frame frame;
    frame.depth = cv::Mat::zeros(rows, cols, CV_16UC1);
    frame.labels = cv::Mat::zeros(rows, cols, CV_8UC1);
    frame.truth = truth_of(scene);
    if (scene.tof.enabled) {
        detail::render_tof(scene, seed, frame);
        return frame;
    }

    const std::vector<Group> groups = make_groups(scene);
    std::vector<std::array<double, 3>> group_rows(groups.size());
    std::vector<double> du(static_cast<std::size_t>(cols));
    for (int u = 0; u < cols; ++u) {
        du[static_cast<std::size_t>(u)] = (u - depth_camera.cx) / depth_camera.fx;
    }
    const Eigen::Matrix3d to_floor = camera_to_floor(scene.mount);
    const double up_x = to_floor(2, 0);
    const double up_y = to_floor(2, 1);
    const double up_z = to_floor(2, 2);
    std::uint64_t frame_key = seed;
    frame_key = splitmix64(frame_key);

    for (int v = 0; v < rows; ++v) {
        const double dv = (v - depth_camera.cy) / depth_camera.fy;
        for (std::size_t g = 0; g < groups.size(); ++g) {
            for (int k = 0; k < 3; ++k) {
                group_rows[g][static_cast<std::size_t>(k)] = dv * groups[g].axis[1][k] + groups[g].axis[2][k];
            }
        }
        const double floor_dz_row = dv * up_y + up_z;
        std::uint16_t* depth_row = frame.depth.ptr<std::uint16_t>(v);
        std::uint8_t* label_row = frame.labels.ptr<std::uint8_t>(v);
        for (int u = 0; u < cols; ++u) {
            const double x = du[static_cast<std::size_t>(u)];
            const Hit hit = trace(scene, groups, group_rows, floor_dz_row + x * up_x, x, {u, v});
            const double ray_length = hit.t * std::sqrt(x * x + dv * dv + 1.0);
            // Written so that a scene with NaN in it leaves the pixel empty.
            if (hit.label == Label::none || !(ray_length <= scene.sensor.max_range_mm)) {
                continue;
            }
            label_row[u] = static_cast<std::uint8_t>(hit.label);
            if (scene.sensor.cavity_no_return && hit.cavity) {
                continue;
            }
            std::uint64_t rng = frame_key + static_cast<std::uint64_t>(v * cols + u) * 0xD1B54A32D192ED03ULL;
            depth_row[u] = sensed_depth(scene.sensor, hit.t, ray_length, rng);
        }
    }
    return frame;
}

}  // namespace sim
