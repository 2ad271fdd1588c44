#include "sim/render.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "common/random.hpp"

namespace sim {

namespace {

double radians(double deg)
{
    return deg * (std::acos(-1.0) / 180.0);
}

Eigen::Matrix3d yaw_rotation(double yaw_deg)
{
    const double c = std::cos(radians(yaw_deg));
    const double s = std::sin(radians(yaw_deg));
    Eigen::Matrix3d rotation;
    rotation << c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0;
    return rotation;
}

struct Aabb {
    double lo[3];
    double hi[3];
};

struct Part {
    Aabb box;
    Label label;
};

// Rigid boxes in one local frame, seen from the camera: a ray with camera-frame direction
// (du, dv, 1) has local direction du * axis[0] + dv * axis[1] + axis[2] from local origin.
struct Group {
    double origin[3];
    double axis[3][3];
    Aabb bound;
    std::vector<Part> parts;
    bool is_pallet;
    cv::Rect screen;  // pixels whose rays may meet the bound
};

// The pixels that can see a box: the bounding rectangle of its corners' images, widened by a
// pixel for rounding; the whole image when a corner is not in front of the camera or not finite.
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

Group make_group(const Mount& mount, const Eigen::Matrix3d& local_to_floor,
                 const Eigen::Vector3d& local_origin, std::vector<Part> parts, bool is_pallet)
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
    return group;
}

std::vector<Group> make_groups(const Scene& scene)
{
    std::vector<Group> groups;
    for (const PalletPlacement& pallet : scene.pallets) {
        std::vector<Part> parts;
        for (const PalletPart& p : pallet_parts(pallet_model_of(pallet))) {
            parts.push_back({{{p.lo.x(), p.lo.y(), p.lo.z()}, {p.hi.x(), p.hi.y(), p.hi.z()}}, p.label});
        }
        const Eigen::Vector3d origin(pallet.lateral_mm, pallet.distance_mm, 0.0);
        groups.push_back(make_group(scene.mount, yaw_rotation(pallet.yaw_deg), origin,
                                    std::move(parts), true));
    }
    for (const Box& box : scene.boxes) {
        const Eigen::Vector3d half = box.size / 2.0;
        std::vector<Part> parts{{{{-half.x(), -half.y(), -half.z()}, {half.x(), half.y(), half.z()}},
                                 box.label}};
        groups.push_back(make_group(scene.mount, yaw_rotation(box.yaw_deg), box.centre,
                                    std::move(parts), false));
    }
    return groups;
}

// A ray o + t * d with 1 / d precomputed, for testing it against many boxes.
struct Ray {
    double o[3];
    double d[3];
    double inv[3];
};

Ray make_ray(const double o[3], const double d[3])
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

double uniform(std::uint64_t& state)  // in [0, 1)
{
    return static_cast<double>(splitmix64(state) >> 11) * 0x1.0p-53;
}

// Standard normal deviate, approximated by the sum of four 16-bit uniforms (Irwin-Hall): one hash
// per pixel, no library distribution (whose output differs between vendors); tails end at 3.46.
double gaussian(std::uint64_t& state)
{
    const std::uint64_t bits = splitmix64(state);
    const double sum = static_cast<double>((bits & 0xFFFF) + ((bits >> 16) & 0xFFFF) +
                                           ((bits >> 32) & 0xFFFF) + (bits >> 48));
    const double mean = 2.0 * 65535.0;
    const double sigma = 65536.0 / std::sqrt(3.0);  // four uniforms of variance 65536^2 / 12
    return (sum - mean) / sigma;
}

struct Hit {
    double t;  // z-depth, mm
    Label label;
    bool cavity;  // deep inside the pallet's outline
};

// The ray of camera-frame direction (du, dv, 1) in group g's frame; rows[g] holds group g's
// dv * axis[1] + axis[2] for the current row.
Ray group_ray(const Group& group, const std::array<double, 3>& row, double du)
{
    const double d[3] = {row[0] + du * group.axis[0][0], row[1] + du * group.axis[0][1],
                         row[2] + du * group.axis[0][2]};
    return make_ray(group.origin, d);
}

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
    if (sensor.dropout_rate > 0.0 && uniform(rng) < sensor.dropout_rate * reach * reach) {
        return 0;
    }
    if (sensor.noise_k_per_mm > 0.0) {
        z += gaussian(rng) * sensor.noise_k_per_mm * z * z;
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
