#include "sim/scene.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sim {

namespace {

double radians(double deg)
{
    return deg * (std::acos(-1.0) / 180.0);
}

// The spans along a face that its parts cover at height z (bottom < z < top), left to right, with
// their kinds; parts that touch or overlap are kept apart (each becomes its own box).
struct Span {
    double lo, hi;
    FacePartKind kind;
};

std::vector<Span> spans_at(const PalletType& face, double z)
{
    std::vector<Span> spans;
    for (const FacePart& p : face.parts) {
        if (p.rect.bottom_mm < z && z < p.rect.top_mm) spans.push_back({p.rect.left_mm, p.rect.right_mm, p.kind});
    }
    std::stable_sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.lo < b.lo; });
    return spans;
}

bool same_spans(const std::vector<Span>& a, const std::vector<Span>& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].lo != b[k].lo || a[k].hi != b[k].hi || a[k].kind != b[k].kind) return false;
    }
    return true;
}

// Every height where a part of either face begins or ends, from the floor up.
std::vector<double> layer_bounds(const PalletModel& model)
{
    std::vector<double> bounds;
    for (const PalletType* face : {&model.front, &model.side}) {
        for (const FacePart& p : face->parts) {
            bounds.push_back(p.rect.bottom_mm);
            bounds.push_back(p.rect.top_mm);
        }
    }
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
    return bounds;
}

}  // namespace

Mount default_mount()
{
    return Mount{200.0, 6.0, 0.0};
}

Sensor exact_sensor()
{
    Sensor sensor;
    sensor.noise_k_per_mm = 0.0;
    sensor.dropout_rate = 0.0;
    sensor.cavity_no_return = false;
    return sensor;
}

std::vector<PalletPart> pallet_parts(const PalletModel& model)
{
    const double half_width = model.front.width_mm / 2.0;
    const std::vector<double> bounds = layer_bounds(model);
    std::vector<PalletPart> parts;
    for (std::size_t k = 0; k + 1 < bounds.size();) {
        // A layer reaches up as far as both faces keep the same spans.
        const double z = (bounds[k] + bounds[k + 1]) / 2.0;
        const std::vector<Span> front = spans_at(model.front, z);
        const std::vector<Span> side = spans_at(model.side, z);
        std::size_t top = k + 1;
        while (top + 1 < bounds.size()) {
            const double above = (bounds[top] + bounds[top + 1]) / 2.0;
            if (!same_spans(front, spans_at(model.front, above)) || !same_spans(side, spans_at(model.side, above))) {
                break;
            }
            ++top;
        }
        for (const Span& across : front) {
            for (const Span& along : side) {
                const bool block = across.kind == FacePartKind::block && along.kind == FacePartKind::block;
                parts.push_back({{across.lo - half_width, along.lo, bounds[k]},
                                 {across.hi - half_width, along.hi, bounds[top]},
                                 block ? Label::pallet_block : Label::pallet_board});
            }
        }
        k = top;
    }
    return parts;
}

const PalletModel& pallet_model_of(const PalletPlacement& placement)
{
    const PalletModel* model = find_pallet_model(placement.model);
    if (model == nullptr) throw std::invalid_argument("unknown pallet model: " + placement.model);
    return *model;
}

Scene floor_scene(const Mount& mount)
{
    Scene scene;
    scene.mount = mount;
    return scene;
}

Scene pallet_scene(double distance_mm, double lateral_mm, double yaw_deg)
{
    Scene scene;
    scene.pallets.push_back(PalletPlacement{distance_mm, lateral_mm, yaw_deg});
    return scene;
}

Scene warehouse_scene()
{
    Scene scene = pallet_scene(1500.0);
    scene.boxes.push_back(load_on_pallet(scene.pallets.front(), {1150.0, 750.0, 900.0}));
    Box clutter;  // beside the pallet, outside the analysis's lateral band
    clutter.centre = {1100.0, 1800.0, 250.0};
    clutter.size = {600.0, 600.0, 500.0};
    clutter.yaw_deg = 20.0;
    scene.boxes.push_back(clutter);
    Box platform;  // a loading dock on the left
    platform.centre = {-2000.0, 3200.0, 200.0};
    platform.size = {2000.0, 2000.0, 400.0};
    platform.label = Label::platform;
    scene.boxes.push_back(platform);
    scene.boxes.push_back(back_wall(4200.0));
    return scene;
}

Box load_on_pallet(const PalletPlacement& pallet, const Eigen::Vector3d& size)
{
    const double yaw = radians(pallet.yaw_deg);
    const double c = std::cos(yaw);
    const double s = std::sin(yaw);
    const PalletModel& model = pallet_model_of(pallet);
    const double deck_middle_y = model.side.width_mm / 2.0;  // the load's centre above the deck's
    Box load;
    load.centre = {pallet.lateral_mm - s * deck_middle_y, pallet.distance_mm + c * deck_middle_y,
                   model.front.height_mm + size.z() / 2.0};
    load.size = size;
    load.yaw_deg = pallet.yaw_deg;
    load.label = Label::load;
    return load;
}

Box back_wall(double distance_mm)
{
    Box wall;
    wall.centre = {0.0, distance_mm + 100.0, 2000.0};
    wall.size = {40000.0, 200.0, 4000.0};
    wall.label = Label::wall;
    return wall;
}

Eigen::Matrix3d camera_to_floor(const Mount& mount)
{
    const double pitch = radians(mount.pitch_deg);
    const double roll = radians(mount.roll_deg);
    const Eigen::Vector3d level_x(1.0, 0.0, 0.0);
    const Eigen::Vector3d level_y(0.0, std::sin(pitch), -std::cos(pitch));  // down, tilted
    const Eigen::Vector3d z(0.0, std::cos(pitch), std::sin(pitch));         // optical axis
    Eigen::Matrix3d rotation;
    rotation.col(0) = std::cos(roll) * level_x + std::sin(roll) * level_y;
    rotation.col(1) = -std::sin(roll) * level_x + std::cos(roll) * level_y;
    rotation.col(2) = z;
    return rotation;
}

}  // namespace sim
