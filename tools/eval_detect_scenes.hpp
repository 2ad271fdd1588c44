// The pallet detector's scene set: every built-in pallet model in many poses and mounts, loaded,
// in front of walls, racks and other pallets, side by side, cut off by the image edge, and scenes
// without any pallet. Each scene follows from the base seed, its group and its number alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/scene.hpp"

enum class DetectGroup {
    lone,           // one pallet on the floor, any model, face, pose and mount
    loaded,         // the same with a load on the deck
    backdrop,       // a pallet before a wall, a rack, boxes or another pallet
    row,            // 2 or 3 pallets side by side
    cut_off,        // one end of the face out of the image
    pallet_free,    // the floor, boxes, a wall, a rack or a pallet-sized crate; no pallet
    working_mount,  // camera 200 mm high 6 degrees up, a 1200 x 800 block pallet 1 to 2 m ahead
};

// "lone", "loaded", "backdrop", "row", "cut_off", "pallet_free", "working_mount".
const char* detect_group_name(DetectGroup group);

struct DetectScene {
    DetectGroup group = DetectGroup::lone;
    int index = 0;                 // its number within the group
    std::uint64_t seed = 0;        // of its parameters and of the renderer
    std::string variant;           // what the group put in it: "flush_carton", "wall", "crate", ...
    double noise_level = 0.0;      // the legacy sensor's noise and dropouts, 0 or 1 (a preset
                                   // other than legacy films the scene with its own sensor)
    std::vector<bool> counted;     // per pallet: false for one placed behind another (it may be
                                   // hidden), which counts neither as found nor as false
    sim::Scene scene;
};

// The seed of scene `index` of the group: splitmix64 folded over the base seed, the group and the
// index (as the sweep's scene_seed folds its parameters).
std::uint64_t detect_scene_seed(std::uint64_t base_seed, DetectGroup group, int index);

// The scene of that group and number.
DetectScene make_detect_scene(std::uint64_t base_seed, DetectGroup group, int index);

// `count` scenes shared out over the groups lone (40 %), loaded, backdrop and row (12 % each),
// cut_off (8 %) and pallet_free (16 %), in that order.
std::vector<DetectScene> detector_scene_set(std::uint64_t base_seed, int count);

// `count` scenes of the working mount group.
std::vector<DetectScene> working_mount_scenes(std::uint64_t base_seed, int count);

// A pallet placed so that one of its faces has its middle distance_mm ahead of the camera and
// lateral_mm to its right, turned by face_yaw_deg: the front face, or with `side` the left side
// face (the pallet turned 90 degrees further).
sim::PalletPlacement place_face(const std::string& model, bool side, double distance_mm, double lateral_mm,
                                double face_yaw_deg);
