#include "sim/scenes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "common/random.hpp"

namespace sim {

namespace {

constexpr double pi = 3.14159265358979323846;

// The loop position 0 .. scene_loop_frames - 1 of a frame number counted from 1 (0 wraps to the
// last position rather than underflowing).
std::uint64_t loop_position(std::uint64_t frame_number)
{
    return (frame_number % scene_loop_frames + scene_loop_frames - 1) % scene_loop_frames;
}

// A sine of the loop position that repeats every period frames; period divides the loop.
double wave(std::uint64_t position, std::uint64_t period)
{
    return std::sin(2.0 * pi * static_cast<double>(position % period) / static_cast<double>(period));
}

// 0 at s <= 0, 1 at s >= 1, a half cosine between: starts and stops without a jerk.
double ease(double s)
{
    if (s <= 0.0) return 0.0;
    if (s >= 1.0) return 1.0;
    return 0.5 - 0.5 * std::cos(pi * s);
}

// Fraction of the way through frames [begin, end) at position.
double progress(std::uint64_t position, std::uint64_t begin, std::uint64_t end)
{
    return (static_cast<double>(position) - static_cast<double>(begin)) /
           static_cast<double>(end - begin);
}

std::uint64_t name_key(const std::string& name)
{
    std::uint64_t h = 0xCBF29CE484222325ULL;  // FNV-1a
    for (const char c : name) {
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
    }
    return h;
}

// The sensor of the everyday scenes: the renderer's depth noise and lost fork-opening returns;
// dropouts come from Dropouts alone, so the near floor of the ground patch keeps its pixels.
Sensor everyday_sensor()
{
    Sensor sensor;
    sensor.noise_k_per_mm = 1.0e-6;
    sensor.dropout_rate = 0.0;
    sensor.cavity_no_return = true;
    return sensor;
}

Scene with_pallet(double distance_mm, double lateral_mm, double yaw_deg)
{
    Scene scene;
    scene.sensor = everyday_sensor();
    scene.pallets.push_back(PalletPlacement{distance_mm, lateral_mm, yaw_deg});
    return scene;
}

// The default animation, 20 s: the far pallet (face too narrow), the approach to 1 m, a pause, the
// vehicle turning away until the pallet has left the view, a pause with nothing in view, and the
// turn back to the far pallet where the loop starts again. The yaw swings all the while.
Scene animation(std::uint64_t p)
{
    const double far_mm = 2350.0;
    const double near_mm = 1000.0;
    const double away_mm = 4500.0;  // sideways: the whole pallet outside the field of view
    double distance = far_mm;
    double lateral = 0.0;
    if (p >= 90 && p < 390) {
        distance = far_mm + (near_mm - far_mm) * ease(progress(p, 90, 390));
    } else if (p >= 390 && p < 450) {
        distance = near_mm;
    } else if (p >= 450 && p < 510) {
        const double s = ease(progress(p, 450, 510));
        distance = near_mm + (far_mm - near_mm) * s;
        lateral = away_mm * s;
    } else if (p >= 510 && p < 550) {
        lateral = away_mm;
    } else if (p >= 550) {
        lateral = away_mm * (1.0 - ease(progress(p, 550, 600)));
    }
    return with_pallet(distance, lateral, 15.0 * wave(p, 200));
}

Scene empty_scene()
{
    Scene scene;
    scene.sensor = everyday_sensor();
    return scene;
}

// Just beyond where the face is wide enough, drifting a little.
Scene far_scene(std::uint64_t p)
{
    return with_pallet(2350.0 + 30.0 * wave(p, 300), 40.0 * wave(p, 600), 4.0 * wave(p, 200));
}

// Square on at 1.25 m, breathing by 15 mm.
Scene square_scene(std::uint64_t p)
{
    return with_pallet(1250.0 + 15.0 * wave(p, 300), 0.0, 0.0);
}

Scene noisy_scene(std::uint64_t p)
{
    Scene scene = with_pallet(1500.0 + 50.0 * wave(p, 300), 0.0, 8.0 * wave(p, 200));
    scene.sensor.noise_k_per_mm = 1.0e-5;
    return scene;
}

// A loaded pallet at 1.4 m (the load wrapped in black film) and boxes on both sides of it, outside
// the analysis's lateral band.
Scene clutter_scene(std::uint64_t p)
{
    Scene scene = with_pallet(1400.0 + 20.0 * wave(p, 300), 0.0, 5.0 * wave(p, 200));
    scene.boxes.push_back(load_on_pallet(scene.pallets.front(), {1100.0, 700.0, 800.0}));
    scene.boxes.back().material = Material::stretch_film;  // wrapped in black film
    Box left;
    left.centre = {-1350.0, 1500.0, 300.0};
    left.size = {600.0, 600.0, 600.0};
    left.yaw_deg = -10.0;
    scene.boxes.push_back(left);
    Box right;
    right.centre = {1300.0, 1250.0, 200.0};
    right.size = {500.0, 400.0, 400.0};
    right.yaw_deg = 25.0;
    scene.boxes.push_back(right);
    Box stacked = right;  // a smaller box on the right one
    stacked.centre.z() = 550.0;
    stacked.size = {350.0, 300.0, 300.0};
    stacked.yaw_deg = 10.0;
    scene.boxes.push_back(stacked);
    return scene;
}

}  // namespace

const std::vector<std::string>& scene_names()
{
    static const std::vector<std::string> names{"empty", "far", "pallet", "noisy", "clutter"};
    return names;
}

bool is_scene_name(const std::string& name)
{
    if (name.empty()) return true;
    for (const std::string& known : scene_names()) {
        if (known == name) return true;
    }
    return false;
}

SceneFrame scene_frame(const std::string& name, std::uint64_t frame_number)
{
    const std::uint64_t p = loop_position(frame_number);
    SceneFrame setting;
    setting.seed = splitmix64_of(name_key(name) ^ splitmix64_of(p));
    if (name.empty()) {
        setting.scene = animation(p);
    } else if (name == "empty") {
        setting.scene = empty_scene();
    } else if (name == "far") {
        setting.scene = far_scene(p);
    } else if (name == "pallet") {
        setting.scene = square_scene(p);
    } else if (name == "noisy") {
        setting.scene = noisy_scene(p);
        setting.dropouts = {0.05, 0.9, 0.005};
    } else if (name == "clutter") {
        setting.scene = clutter_scene(p);
    } else {
        throw std::invalid_argument("unknown scene: " + name);
    }
    return setting;
}

SceneFrame scene_frame(const std::string& name, std::uint64_t frame_number, const SensorPreset& preset)
{
    SceneFrame setting = scene_frame(name, frame_number);
    if (!preset.legacy) {
        setting.scene = with_sensor(setting.scene, preset);
        setting.dropouts = {0.0, 0.0, 0.0};
    }
    return setting;
}

void apply_dropouts(cv::Mat& depth, const Dropouts& dropouts, std::uint64_t seed)
{
    CV_Assert(depth.type() == CV_16UC1);
    const cv::Mat rendered = depth.clone();  // edges are judged on the depths before any loss
    const std::uint64_t key = splitmix64_of(seed);
    const auto is_edge = [](int z, int neighbour) {
        if (neighbour == 0) return false;
        const int gap = std::abs(z - neighbour);
        return gap > 60 && gap * 20 > z;
    };
    for (int v = 0; v < depth.rows; ++v) {
        const std::uint16_t* row = rendered.ptr<std::uint16_t>(v);
        const std::uint16_t* above = rendered.ptr<std::uint16_t>(v > 0 ? v - 1 : v);
        const std::uint16_t* below = rendered.ptr<std::uint16_t>(v + 1 < depth.rows ? v + 1 : v);
        std::uint16_t* out = depth.ptr<std::uint16_t>(v);
        for (int u = 0; u < depth.cols; ++u) {
            const int z = row[u];
            if (z == 0) continue;
            const std::uint64_t index = static_cast<std::uint64_t>(v) * 640u + static_cast<std::uint64_t>(u);
            const double draw = static_cast<double>(splitmix64_of(key ^ index) >> 11) * 0x1.0p-53;
            const double beyond = std::max(0.0, (z - 1500.0) / 2500.0);
            double rate = dropouts.uniform_rate + dropouts.far_rate * beyond * beyond;
            const bool edge = is_edge(z, row[u > 0 ? u - 1 : u]) ||
                              is_edge(z, row[u + 1 < depth.cols ? u + 1 : u]) ||
                              is_edge(z, above[u]) || is_edge(z, below[u]);
            if (edge) rate += dropouts.edge_rate;
            if (draw < rate) out[u] = 0;
        }
    }
}

Frame render_scene_frame(const SceneFrame& setting)
{
    Frame frame = render(setting.scene, setting.seed);
    const Dropouts& d = setting.dropouts;
    if (d.far_rate > 0.0 || d.edge_rate > 0.0 || d.uniform_rate > 0.0) {  // else nothing to lose
        apply_dropouts(frame.depth, d, setting.seed ^ 0xD6E8FEB86659FD93ULL);
    }
    return frame;
}

Frame render_scene_frame(const std::string& name, std::uint64_t frame_number)
{
    return render_scene_frame(scene_frame(name, frame_number));
}

Frame render_scene_frame(const std::string& name, std::uint64_t frame_number, const SensorPreset& preset)
{
    return render_scene_frame(scene_frame(name, frame_number, preset));
}

}  // namespace sim
