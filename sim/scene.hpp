// A scene for the simulated depth camera: the camera mount, the sensor's imperfections, a floor,
// any number of pallets and any number of boxes (loads, clutter, walls, racks, raised platforms).
//
// Floor frame (mm): origin on the floor straight below the camera, X to the right, Y forward,
// Z up. Camera frame (mm): x right, y down, z along the optical axis, as in depth_to_point.
// Pallet frame (mm): origin at the middle of the bottom edge of the pallet's front face, x along
// that face to the right, y into the pallet (0 to its depth), z up (0 to its height).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "common/pallet_types.hpp"
#include "sim/materials.hpp"
#include "sim/tof.hpp"

namespace sim {

// What a pixel shows; the label image holds these codes.
enum class Label : std::uint8_t {
    none = 0,          // nothing within range
    floor = 1,
    pallet_block = 2,  // the nine blocks
    pallet_board = 3,  // bottom boards, stringer boards and top deck
    load = 4,          // goods standing on the pallet
    clutter = 5,       // any other box
    wall = 6,
    platform = 7,      // a raised floor area (dock, step)
};

// The camera above the floor point (0, 0, 0). Pitch > 0 tilts the optical axis up; roll > 0 turns
// the camera clockwise about its optical axis as seen from behind it (its x axis dips down).
struct Mount {
    double height_mm = 200.0;
    double pitch_deg = 6.0;
    double roll_deg = 0.0;
};

// The default mount: on the fork carriage just above the floor, tilted slightly up; the mount
// with which the analysis's fixed bands see a pallet 0.75 to 2.25 m ahead.
Mount default_mount();

// Imperfections of the time-of-flight sensor. Depth noise is Gaussian with
// sigma = noise_k_per_mm * z^2 (z in mm). A dropout is a pixel with no return at random, with
// probability dropout_rate * (L / max_range_mm)^2 for a surface L mm away along the ray: weak far
// returns drop out, the bright floor close by rarely does (a lost pixel in the analysis's ground
// patch adds a point at the camera's origin to the floor fit and tilts the floor). With
// cavity_no_return, a ray that meets a pallet surface (or the floor under it) more than
// cavity_depth_mm behind the point where it entered the pallet's outline returns nothing, as in the
// fork openings.
struct Sensor {
    double max_range_mm = 6000.0;  // along the ray, not the optical axis
    double noise_k_per_mm = 1.0e-6;
    double dropout_rate = 0.02;    // 0..1, at the end of the range
    bool cavity_no_return = false;
    double cavity_depth_mm = 150.0;
};

// No noise, no dropouts, no cavity loss: the depth is the geometry rounded to whole mm.
Sensor exact_sensor();

// Where a pallet stands: its front face's middle is distance_mm ahead of the camera and
// lateral_mm to its right (floor frame); yaw_deg turns it about the vertical through that point,
// counter-clockwise seen from above (so yaw > 0 moves its right end away from the camera). model
// names one of builtin_pallet_models() (common/pallet_types.hpp).
struct PalletPlacement {
    double distance_mm = 1500.0;
    double lateral_mm = 0.0;
    double yaw_deg = 0.0;
    std::string model = "block_1200x800";
};

// A box resting anywhere: centre and size in mm (floor frame), turned by yaw_deg about the
// vertical through its centre, counter-clockwise seen from above. Its material matters to the
// time-of-flight sensor only; automatic takes the label's (material_of_label).
struct Box {
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    Eigen::Vector3d size = Eigen::Vector3d::Zero();  // along its own x, y, z
    double yaw_deg = 0.0;
    Label label = Label::clutter;
    Material material = Material::automatic;
};

// The camera's sensor is the legacy `sensor` unless `tof.enabled`, when the time-of-flight model
// renders the scene instead (sim/tof.hpp; sim/sensor_presets.hpp sets either from a name). Pallets
// are made of their model's material (material_of_pallet).
struct Scene {
    Mount mount;
    Sensor sensor;
    bool floor = true;
    std::vector<PalletPlacement> pallets;
    std::vector<Box> boxes;
    TofSensor tof;
    Material floor_material = Material::concrete;
};

// One part of the pallet: an axis-aligned box in the pallet frame, corners lo and hi (mm).
struct PalletPart {
    Eigen::Vector3d lo;
    Eigen::Vector3d hi;
    Label label;
};

// The boxes of a pallet model, layer by layer from the floor up, each layer's boxes by the front
// face's parts from left to right and, within them, the side face's from front to back: where
// both elevations are solid. A box is a block when both parts are blocks, else a board. The
// 1200 x 800 block pallet gives three bottom boards (22 mm) running front to back under the block
// columns, 3 x 3 blocks (145 mm wide, 78 mm high), three stringer boards (22 mm) across the blocks
// and five top deck boards (22 mm) front to back; its front face shows three block columns and two
// fork openings 382.5 mm wide and 100 mm high.
std::vector<PalletPart> pallet_parts(const PalletModel& model);

// The built-in model a placement names; throws std::invalid_argument for an unknown name.
const PalletModel& pallet_model_of(const PalletPlacement& placement);

// Builders of ready-made scenes; all use the default sensor unless said otherwise.
Scene floor_scene(const Mount& mount = default_mount());
Scene pallet_scene(double distance_mm, double lateral_mm = 0.0, double yaw_deg = 0.0);
// A loaded pallet at 1.5 m, a clutter box beside it, a raised platform to the left, a back wall.
Scene warehouse_scene();

// A box of the given size standing centred on the pallet's deck, labelled as load.
Box load_on_pallet(const PalletPlacement& pallet, const Eigen::Vector3d& size);
// A wall across the view, its front surface distance_mm ahead of the camera.
Box back_wall(double distance_mm);

// Rotation whose columns are the camera's x, y, z axes in the floor frame.
Eigen::Matrix3d camera_to_floor(const Mount& mount);

}  // namespace sim
