#include "sim/tof_render.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "common/random.hpp"
#include "sim/trace.hpp"

// Per pixel this file uses +, -, *, / and sqrt only (no library transcendental function), so that
// a frame is the same bytes on every processor.
namespace sim::detail {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double floor_reach = 1.5;  // times the range: how far a bumpy floor is traced

// What stays the same for every ray of a frame.
struct View {
    const Scene& scene;
    const TofSensor& sensor;
    std::vector<Group> groups;
    std::vector<int> first_surface;       // per group: the surface number of its first part
    std::vector<MaterialOptics> optics;   // per group
    std::vector<cv::Rect> corner_screen;  // per group: pixels whose floor may lie within the
                                          // multipath reach of its footprint (empty: none)
    MaterialOptics floor_optics;
    FloorGrid floor;
    double floor_amplitude_mm;            // the relief's largest height above or below 0
    Eigen::Matrix3d to_floor;
};

// The parts of one ray direction that depend on its row: per group dv * axis[1] + axis[2], and
// the same for the floor frame.
struct RowRays {
    double dv = 0.0;
    std::vector<std::array<double, 3>> groups;
    double floor[3] = {0.0, 0.0, 0.0};
};

void set_row(const View& view, double dv, RowRays& row)
{
    row.dv = dv;
    row.groups.resize(view.groups.size());
    for (std::size_t g = 0; g < view.groups.size(); ++g) {
        for (int k = 0; k < 3; ++k) {
            row.groups[g][static_cast<std::size_t>(k)] = dv * view.groups[g].axis[1][k] + view.groups[g].axis[2][k];
        }
    }
    for (int k = 0; k < 3; ++k) row.floor[k] = dv * view.to_floor(k, 1) + view.to_floor(k, 2);
}

// One ray's return.
struct Return {
    double t = infinity;     // z-depth of the surface, mm
    double range = infinity; // along the ray, mm
    double amplitude = 0.0;  // 0: nothing returned
    double bias = 0.0;       // multipath, mm of range
    int surface = 0;         // 0 none, 1 the floor, 2 and up the parts of the groups in order
    Label label = Label::none;
    double inv_norm = 1.0;   // 1 / the length of the ray's direction (du, dv, 1): z-depth / range
};

// As slab, also saying which axis the ray enters the box through (the face it meets).
inline bool slab_entry(const Ray& ray, const Aabb& box, double& t0, double& t1, int& axis)
{
    t0 = -infinity;
    t1 = infinity;
    axis = 0;
    for (int k = 0; k < 3; ++k) {
        const double before = t0;
        if (!clip_axis(ray.o[k], ray.d[k], ray.inv[k], box.lo[k], box.hi[k], t0, t1)) return false;
        if (t0 != before) axis = k;
    }
    return true;
}

// The returned fraction of the light at incidence cosine c (sim/materials.hpp).
double reflectance(const MaterialOptics& optics, double c)
{
    const double c2 = c * c;
    const double c4 = c2 * c2;
    return optics.albedo * ((1.0 - optics.gloss) * c + optics.gloss * c4 * c4);
}

// The added range at distance d from a concave corner.
double corner_bias(const Multipath& multipath, double d)
{
    if (!(d < multipath.reach_mm)) return 0.0;
    const double s = 1.0 - std::max(d, 0.0) / multipath.reach_mm;
    return multipath.peak_mm * s * s;
}

// Whether the group stands on the floor (its bottom at the reference plane).
bool on_floor(const Group& group)
{
    const double tolerance_mm = 10.0;
    return std::abs(group.lift + group.bound.lo[2]) < tolerance_mm;
}

// Distance on the floor from floor point t along the ray to the nearest footprint of a group
// standing on the floor; infinity when none lies within reach.
double footprint_distance(const View& view, const RowRays& row, double du, cv::Point pixel, double t)
{
    double nearest = infinity;
    for (std::size_t g = 0; g < view.groups.size(); ++g) {
        if (!view.corner_screen[g].contains(pixel)) continue;
        const Group& group = view.groups[g];
        const std::array<double, 3>& part = row.groups[g];  // the direction without du's share
        const double x = group.origin[0] + t * (part[0] + du * group.axis[0][0]);
        const double y = group.origin[1] + t * (part[1] + du * group.axis[0][1]);
        const double dx = std::max({group.bound.lo[0] - x, 0.0, x - group.bound.hi[0]});
        const double dy = std::max({group.bound.lo[1] - y, 0.0, y - group.bound.hi[1]});
        nearest = std::min(nearest, std::sqrt(dx * dx + dy * dy));
    }
    return nearest;
}

// Whether z-depth t lies more than depth_mm behind the point where the ray entered a pallet's
// outline, and not beyond its exit.
bool in_cavity(const View& view, const RowRays& row, double du, cv::Point pixel, double t, double depth_mm)
{
    const double exit_slack = 1.0;  // mm of z-depth
    for (std::size_t g = 0; g < view.groups.size(); ++g) {
        const Group& group = view.groups[g];
        if (!group.is_pallet || !group.screen.contains(pixel)) continue;
        double t0 = 0.0;
        double t1 = 0.0;
        if (!slab(group_ray(group, row.groups[g], du), group.bound, t0, t1) || t1 <= 0.0) continue;
        if (t > std::max(t0, 0.0) + depth_mm && t <= t1 + exit_slack) return true;
    }
    return false;
}

// The floor's hit along a ray going down, z-depth t; slopes for its normal. On a bumpy floor the
// hit is found by Newton steps on the ray's height above the floor, starting where the floor's
// height is guess_mm (the height at the previous ray's hit: neighbouring rays meet the floor at
// nearly the same height, so one step usually settles); guess_mm becomes this hit's height.
struct FloorHit {
    double t;
    double slope_x;
    double slope_y;
};

FloorHit floor_hit(const View& view, const double d[3], double norm, double plane_t, double& guess_mm)
{
    FloorHit hit{plane_t, 0.0, 0.0};
    if (!view.sensor.floor.on || !(plane_t * norm < floor_reach * view.sensor.max_range_mm)) return hit;
    const double height = view.scene.mount.height_mm;
    hit.t = (height - guess_mm) * (plane_t / height);
    const int steps = 6;
    // A Newton step of s leaves an error of about s^2 times the height field's curvature over the
    // ray's slope (below 5e-3 / mm within the range): after a step under 1 mm the hit is within
    // 5e-3 mm.
    const double settled_mm = 1.0;
    for (int k = 0; k < steps; ++k) {
        const FloorSample s = floor_sample(view.floor, hit.t * d[0], hit.t * d[1]);
        // The ray's height above the floor, h + t dz - H(t dx, t dy), and its change with t.
        const double above = height + hit.t * d[2] - s.height_mm;
        const double change = d[2] - s.slope_x * d[0] - s.slope_y * d[1];
        if (!(change < 0.0)) break;  // the ray climbs the floor's slope: keep the last hit
        const double step = above / change;
        hit = {hit.t - step, s.slope_x, s.slope_y};
        guess_mm = s.height_mm;
        if (std::abs(step) < settled_mm) break;
    }
    return hit;
}

// The nearest part a ray meets before z-depth t_limit: its group (-1 for none), the axis of the
// face it enters through, its z-depth and the height of that point in the group's frame.
struct PartHit {
    int group = -1;
    int part = 0;
    int axis = 0;
    double t = infinity;
    double local_z = 0.0;
    double cosine = 0.0;  // of the incidence
};

PartHit nearest_part(const View& view, const RowRays& row, double du, cv::Point pixel, double t_limit,
                     double inv_norm)
{
    PartHit hit;
    hit.t = t_limit;
    for (std::size_t g = 0; g < view.groups.size(); ++g) {
        const Group& group = view.groups[g];
        if (!group.screen.contains(pixel)) continue;
        const Ray ray = group_ray(group, row.groups[g], du);
        double t0 = 0.0;
        double t1 = 0.0;
        if (!slab(ray, group.bound, t0, t1) || t1 <= 0.0 || t0 >= hit.t) continue;
        for (std::size_t p = 0; p < group.parts.size(); ++p) {
            int axis = 0;
            if (slab_entry(ray, group.parts[p].box, t0, t1, axis) && t0 > 0.0 && t0 < hit.t) {
                // Local directions keep the camera's length: the rotations are orthonormal.
                hit = {static_cast<int>(g), static_cast<int>(p), axis, t0, ray.o[2] + t0 * ray.d[2],
                       std::abs(ray.d[axis]) * inv_norm};
            }
        }
    }
    if (hit.group < 0) hit.t = infinity;
    return hit;
}

// The return of the ray along camera-frame direction (du, row.dv, 1) through pixel; floor_guess_mm
// as floor_hit's.
Return trace_return(const View& view, const RowRays& row, double du, cv::Point pixel, double& floor_guess_mm)
{
    const Scene& scene = view.scene;
    const double norm = std::sqrt(du * du + row.dv * row.dv + 1.0);
    const double inv_norm = 1.0 / norm;
    const double d[3] = {row.floor[0] + du * view.to_floor(0, 0), row.floor[1] + du * view.to_floor(1, 0),
                         row.floor[2] + du * view.to_floor(2, 0)};
    // The parts first, against the farthest the floor can lie; the floor after, unless a part is
    // nearer than the floor can come. On a flat floor the same comparisons as the legacy trace.
    const bool floor_below = scene.floor && d[2] < 0.0 && scene.mount.height_mm > 0.0;
    const double relief_mm = view.sensor.floor.on ? view.floor_amplitude_mm : 0.0;
    const double plane_t = floor_below ? scene.mount.height_mm / -d[2] : infinity;
    const double farthest_floor =
        relief_mm == 0.0 ? plane_t : plane_t * ((scene.mount.height_mm + relief_mm) / scene.mount.height_mm);
    const PartHit part = nearest_part(view, row, du, pixel, farthest_floor, inv_norm);
    Return hit;
    double cosine = part.cosine;
    int hit_group = part.group;
    if (part.group >= 0) {
        const Group& group = view.groups[static_cast<std::size_t>(part.group)];
        hit.t = part.t;
        hit.surface = view.first_surface[static_cast<std::size_t>(part.group)] + part.part;
        hit.label = group.parts[static_cast<std::size_t>(part.part)].label;
    }
    if (floor_below && !(hit.t * -d[2] < scene.mount.height_mm - relief_mm)) {
        const FloorHit floor = floor_hit(view, d, norm, plane_t, floor_guess_mm);
        if (floor.t > 0.0 && floor.t < hit.t) {
            hit.t = floor.t;
            hit.surface = 1;
            hit.label = Label::floor;
            hit_group = -1;
            // The floor's normal (-slope_x, -slope_y, 1) over its length: 1 / sqrt(1 + q) to
            // 2e-11 for the slopes of a few degrees at most (q < 4e-3).
            const double q = floor.slope_x * floor.slope_x + floor.slope_y * floor.slope_y;
            const double over_length = 1.0 - q * (0.5 - 0.375 * q);
            cosine = std::abs(d[2] - d[0] * floor.slope_x - d[1] * floor.slope_y) * over_length * inv_norm;
        }
    }
    MaterialOptics optics = view.floor_optics;
    hit.range = hit.t * norm;
    hit.inv_norm = inv_norm;
    // Written so that a scene with NaN in it returns nothing.
    if (hit.surface == 0 || !(hit.range <= view.sensor.max_range_mm)) return Return{};
    if (hit_group >= 0) optics = view.optics[static_cast<std::size_t>(hit_group)];
    const double range_m = hit.range * 0.001;
    hit.amplitude = reflectance(optics, cosine) / (range_m * range_m);
    const Multipath& multipath = view.sensor.multipath;
    if (multipath.on) {
        if (in_cavity(view, row, du, pixel, hit.t, multipath.cavity_depth_mm)) {
            hit.bias = multipath.cavity_mm;
        } else if (hit_group >= 0 && part.axis != 2) {  // a vertical face: its corner with what it stands on
            const Group& group = view.groups[static_cast<std::size_t>(hit_group)];
            hit.bias = corner_bias(multipath, part.local_z - group.bound.lo[2]);
        } else if (hit_group < 0) {
            hit.bias = corner_bias(multipath, footprint_distance(view, row, du, pixel, hit.t));
        }
    }
    return hit;
}

// The pixels whose floor may lie within reach_mm of the group's footprint: the screen of its
// footprint widened by reach_mm, at floor level.
cv::Rect corner_screen_of(const Group& group, double reach_mm)
{
    Group widened = group;
    for (int k = 0; k < 2; ++k) {
        widened.bound.lo[k] -= reach_mm;
        widened.bound.hi[k] += reach_mm;
    }
    widened.bound.hi[2] = widened.bound.lo[2];
    return screen_rect(widened);
}

View make_view(const Scene& scene)
{
    const FloorRelief& relief = scene.tof.floor;
    View view{scene, scene.tof, make_groups(scene), {}, {}, {}, optics_of(scene.floor_material),
              make_floor_grid(relief, floor_reach * scene.tof.max_range_mm),
              std::abs(relief.bump_mm) + std::abs(relief.undulation_mm), camera_to_floor(scene.mount)};
    int next_surface = 2;
    for (const Group& group : view.groups) {
        view.first_surface.push_back(next_surface);
        next_surface += static_cast<int>(group.parts.size());
        view.optics.push_back(optics_of(group.material));
        const bool corners = scene.tof.multipath.on && on_floor(group);
        view.corner_screen.push_back(corners ? corner_screen_of(group, scene.tof.multipath.reach_mm) : cv::Rect());
    }
    return view;
}

// Whether a pixel's footprint (up to a pixel from its centre) crosses a depth step: a neighbour
// on another surface, much nearer or farther or with nothing at all.
bool crosses_step(const Return& centre, const Return& other, double step_mm)
{
    if (other.surface == centre.surface) return false;
    if (other.surface == 0 || centre.surface == 0) return true;
    return std::abs(other.range + other.bias - centre.range - centre.bias) > step_mm;
}

// Per column of row here: the surface it and the rows above and below (null beyond the image)
// show, when they show the same one; -1 when they do not.
void column_surfaces(const Return* above, const Return* here, const Return* below, int cols,
                     std::vector<int>& surfaces)
{
    surfaces.resize(static_cast<std::size_t>(cols));
    for (int x = 0; x < cols; ++x) {
        const int s = here[x].surface;
        const bool same = (above == nullptr || above[x].surface == s) && (below == nullptr || below[x].surface == s);
        surfaces[static_cast<std::size_t>(x)] = same ? s : -1;
    }
}

// Whether pixel u of row here has a neighbour across a step; surfaces from column_surfaces.
bool near_step(const Return* above, const Return* here, const Return* below, const std::vector<int>& surfaces,
               int u, int cols, double step_mm)
{
    const Return& centre = here[u];
    const int first = std::max(u - 1, 0);
    const int last = std::min(u + 1, cols - 1);
    bool other_surface = false;  // most pixels have none beside them
    for (int x = first; x <= last; ++x) other_surface |= surfaces[static_cast<std::size_t>(x)] != centre.surface;
    if (!other_surface) return false;
    for (int x = first; x <= last; ++x) {
        if (above != nullptr && crosses_step(centre, above[x], step_mm)) return true;
        if (below != nullptr && crosses_step(centre, below[x], step_mm)) return true;
        if (x != u && crosses_step(centre, here[x], step_mm)) return true;
    }
    return false;
}

// A mixed pixel: the amplitude-weighted range of the sub-rays over its footprint, and their mean
// amplitude (a sub-ray with no return adds none).
struct Mixed {
    double range;
    double amplitude;
    Label label;  // the strongest sub-ray's
};

Mixed mix_footprint(const View& view, int v, int u, const Return& centre, RowRays& scratch)
{
    const MixedPixels& mixed = view.sensor.mixed;
    const int n = std::clamp(mixed.rays_per_side, 1, 8);
    const double footprint = std::clamp(mixed.footprint_px, 0.0, 2.0);  // the screens' margin
    // Sub-ray k of n along each axis lies at (k / (n - 1) - 1/2) * footprint from the centre.
    const auto offset = [&](int k) { return n == 1 ? 0.0 : (static_cast<double>(k) / (n - 1) - 0.5) * footprint; };
    double floor_guess_mm = 0.0;
    double weight = 0.0;
    double weighted_range = 0.0;
    double strongest = 0.0;
    Label label = Label::none;
    for (int i = 0; i < n; ++i) {
        set_row(view, (v + offset(i) - depth_camera.cy) / depth_camera.fy, scratch);
        for (int j = 0; j < n; ++j) {
            // With n odd the middle sub-ray is the pixel's own ray, traced already.
            const bool middle = 2 * i == n - 1 && 2 * j == n - 1;
            const Return r = middle ? centre
                                    : trace_return(view, scratch, (u + offset(j) - depth_camera.cx) / depth_camera.fx,
                                                   {u, v}, floor_guess_mm);
            if (r.amplitude <= 0.0) continue;
            weight += r.amplitude;
            weighted_range += r.amplitude * (r.range + r.bias);
            if (r.amplitude > strongest) {
                strongest = r.amplitude;
                label = r.label;
            }
        }
    }
    if (weight <= 0.0) return {0.0, 0.0, Label::none};
    return {weighted_range / weight, weight / (n * n), label};
}

// The measured z-depth of a pixel from its return (range and amplitude), or 0: the cut-off, the
// range noise, the conversion to z-depth and whole mm. z_exact is the geometry's z-depth, used as
// is when nothing changed the range (so the ideal sensor gives the geometry exactly).
std::uint16_t measured_depth(const TofSensor& sensor, double z_exact, double range, double extra_mm,
                             double amplitude, double inv_norm, std::uint64_t& rng)
{
    if (!(amplitude > 0.0)) return 0;
    if (sensor.cutoff.on) {
        const double low = sensor.cutoff.min_amplitude;
        const double high = low * (1.0 + sensor.cutoff.fade);
        if (amplitude < low) return 0;
        if (amplitude < high && random_uniform(rng) * (high - low) < high - amplitude) return 0;
    }
    if (sensor.noise.on) {
        const double range_m = range * 0.001;
        const double reflect = amplitude * range_m * range_m;
        const double sigma = sensor.noise.base_mm + sensor.noise.k_mm * range_m * range_m / std::sqrt(reflect);
        extra_mm += random_gaussian(rng) * sigma;
    }
    const double z = extra_mm == 0.0 ? z_exact : z_exact + extra_mm * inv_norm;
    if (!(z > 0.0)) return 0;
    return static_cast<std::uint16_t>(std::clamp(z + 0.5, 1.0, 65535.0));  // z > 0: truncation rounds
}

// Finishes row v from the returns of rows v - 1, v and v + 1 (null beyond the image).
void finish_row(const View& view, int v, const Return* above, const Return* here, const Return* below,
                std::uint64_t frame_key, RowRays& scratch, std::vector<int>& surfaces, Frame& frame)
{
    const TofSensor& sensor = view.sensor;
    const int cols = depth_camera.width;
    const double dv = (v - depth_camera.cy) / depth_camera.fy;
    std::uint16_t* depth_row = frame.depth.ptr<std::uint16_t>(v);
    std::uint8_t* label_row = frame.labels.ptr<std::uint8_t>(v);
    if (sensor.mixed.on) column_surfaces(above, here, below, cols, surfaces);
    for (int u = 0; u < cols; ++u) {
        const Return& centre = here[u];
        const bool step =
            sensor.mixed.on && near_step(above, here, below, surfaces, u, cols, sensor.mixed.step_mm);
        std::uint64_t rng = frame_key + static_cast<std::uint64_t>(v * cols + u) * 0xD1B54A32D192ED03ULL;
        if (step) {
            const Mixed m = mix_footprint(view, v, u, centre, scratch);
            if (m.amplitude <= 0.0) continue;
            const double x = (u - depth_camera.cx) / depth_camera.fx;
            const double inv_norm = 1.0 / std::sqrt(x * x + dv * dv + 1.0);
            label_row[u] = static_cast<std::uint8_t>(centre.surface != 0 ? centre.label : m.label);
            depth_row[u] = measured_depth(sensor, m.range * inv_norm, m.range, 0.0, m.amplitude, inv_norm, rng);
        } else if (centre.surface != 0) {
            label_row[u] = static_cast<std::uint8_t>(centre.label);
            depth_row[u] =
                measured_depth(sensor, centre.t, centre.range, centre.bias, centre.amplitude, centre.inv_norm, rng);
        }
    }
}

// Random holes and clusters of them, on the finished depth image. One 16-bit uniform per pixel,
// four pixels to a hash: below rate a single hole, up to rate + cluster_rate a cluster's seed.
void punch_holes(const Holes& holes, std::uint64_t frame_key, cv::Mat& depth)
{
    const std::uint64_t key = splitmix64_of(frame_key ^ 0x4F1BBCDCBFA53E0BULL);
    const int offsets[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};
    const auto steps = [](double rate) { return static_cast<std::uint64_t>(std::clamp(rate, 0.0, 1.0) * 65536.0); };
    const std::uint64_t single_below = steps(holes.rate);
    const std::uint64_t seed_below = single_below + steps(holes.cluster_rate);
    const int count = depth.rows * depth.cols;
    std::uint16_t* pixels = depth.ptr<std::uint16_t>(0);  // continuous: made by cv::Mat::zeros
    for (int first = 0; first < count; first += 4) {
        std::uint64_t state = key + static_cast<std::uint64_t>(first / 4) * 0xD1B54A32D192ED03ULL;
        const std::uint64_t draws = splitmix64(state);
        for (int k = 0; k < 4 && first + k < count; ++k) {
            const std::uint64_t draw = (draws >> (16 * k)) & 0xFFFF;
            if (draw >= seed_below) continue;
            const int index = first + k;
            pixels[index] = 0;
            if (draw < single_below) continue;
            std::uint64_t cluster_state = state ^ static_cast<std::uint64_t>(k);
            const std::uint64_t neighbours = splitmix64(cluster_state);
            const int v = index / depth.cols;
            const int u = index % depth.cols;
            for (int n = 0; n < 8; ++n) {
                const int y = v + offsets[n][0];
                const int x = u + offsets[n][1];
                if (((neighbours >> n) & 1) != 0 && y >= 0 && y < depth.rows && x >= 0 && x < depth.cols) {
                    pixels[y * depth.cols + x] = 0;
                }
            }
        }
    }
}

}  // namespace

void render_tof(const Scene& scene, std::uint64_t seed, Frame& frame)
{
    const int rows = depth_camera.height;
    const int cols = depth_camera.width;
    const View view = make_view(scene);
    std::uint64_t frame_key = seed;
    frame_key = splitmix64(frame_key);
    // Three rows of returns: a row is finished once the one below it is traced.
    std::vector<Return> returns(static_cast<std::size_t>(3 * cols));
    const auto ring = [&](int v) { return returns.data() + static_cast<std::ptrdiff_t>((v % 3) * cols); };
    RowRays row;
    RowRays scratch;
    std::vector<int> surfaces;
    for (int v = 0; v <= rows; ++v) {
        if (v < rows) {
            set_row(view, (v - depth_camera.cy) / depth_camera.fy, row);
            Return* traced = ring(v);
            double floor_guess_mm = 0.0;
            for (int u = 0; u < cols; ++u) {
                traced[u] = trace_return(view, row, (u - depth_camera.cx) / depth_camera.fx, {u, v}, floor_guess_mm);
            }
        }
        if (v >= 1) {
            const int done = v - 1;
            finish_row(view, done, done >= 1 ? ring(done - 1) : nullptr, ring(done),
                       done + 1 < rows ? ring(done + 1) : nullptr, frame_key, scratch, surfaces, frame);
        }
    }
    if (scene.tof.holes.on) punch_holes(scene.tof.holes, frame_key, frame.depth);
}

}  // namespace sim::detail
