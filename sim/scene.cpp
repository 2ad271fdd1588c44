#include "sim/scene.hpp"

#include <cmath>

namespace sim {

namespace {

double radians(double deg)
{
    return deg * (std::acos(-1.0) / 180.0);
}

// Columns and rows of the pallet's 3 x 3 blocks, as [lo, hi] ranges (mm, pallet frame).
constexpr double column_lo[3] = {-600.0, -72.5, 455.0};   // 145 mm wide each
constexpr double row_lo[3] = {0.0, 327.5, 655.0};         // 145 mm deep each
constexpr double block_side = 145.0;

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

std::vector<PalletPart> pallet_parts()
{
    std::vector<PalletPart> parts;
    parts.reserve(20);
    for (const double x : column_lo) {  // bottom boards, front to back under each block column
        parts.push_back({{x, 0.0, 0.0}, {x + block_side, 800.0, 22.0}, Label::pallet_board});
    }
    for (const double x : column_lo) {
        for (const double y : row_lo) {
            parts.push_back({{x, y, 22.0}, {x + block_side, y + block_side, 100.0}, Label::pallet_block});
        }
    }
    for (const double y : row_lo) {  // stringer boards across the blocks: the fork openings' top
        parts.push_back({{-600.0, y, 100.0}, {600.0, y + block_side, 122.0}, Label::pallet_board});
    }
    // Top deck: 145, 100, 145, 100, 145 mm boards with 141.25 mm gaps.
    const double deck_lo[5] = {-600.0, -313.75, -72.5, 213.75, 455.0};
    const double deck_width[5] = {145.0, 100.0, 145.0, 100.0, 145.0};
    for (int i = 0; i < 5; ++i) {
        parts.push_back({{deck_lo[i], 0.0, 122.0}, {deck_lo[i] + deck_width[i], 800.0, 144.0},
                         Label::pallet_board});
    }
    return parts;
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
    scene.pallet = PalletPlacement{distance_mm, lateral_mm, yaw_deg};
    return scene;
}

Scene warehouse_scene()
{
    Scene scene = pallet_scene(1500.0);
    scene.boxes.push_back(load_on_pallet(*scene.pallet, {1150.0, 750.0, 900.0}));
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
    const double deck_middle_y = 400.0;  // the load's centre above the deck's centre
    Box load;
    load.centre = {pallet.lateral_mm - s * deck_middle_y, pallet.distance_mm + c * deck_middle_y,
                   144.0 + size.z() / 2.0};
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
