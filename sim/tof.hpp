// A time-of-flight camera's imperfections, each effect with its parameters and a switch. The
// camera measures the range along each pixel's ray and reports the z-depth computed from it, in
// whole millimetres. Amplitude, the strength of a return, is albedo-and-incidence reflectance
// (sim/materials.hpp) over the square of the range in metres: 1 for a white surface square on at
// 1 m. All randomness follows from the render's seed; the floor's shape from its own seed.
#pragma once

#include <string>
#include <vector>

#include "sim/floor_relief.hpp"

namespace sim {

// Where a pixel's footprint crosses a depth step, it sums the returns of every surface in it and
// reports a range between them, weighted by their amplitudes. Pixels that have a neighbour (of the
// 8) on another surface more than step_mm nearer or farther, or on nothing, are traced with
// rays_per_side^2 sub-rays on a square grid footprint_px wide (the outer ones footprint_px / 2
// from the centre): the mixed band along a step is 1 or 2 pixels wide, footprint_px on average.
struct MixedPixels {
    bool on = false;
    double footprint_px = 1.5;  // 1..2
    int rays_per_side = 3;      // 1..8
    double step_mm = 20.0;
};

// Light that reaches a surface by way of another one arrives late, so the range reads long near
// concave corners: where a face stands on the floor, where the floor meets a wall or a box, and
// deep inside a pallet's fork openings. The added range is peak_mm * (1 - d / reach_mm)^2 at a
// distance d < reach_mm from the corner (a face point's height above its group's bottom, a floor
// point's distance on the floor from the footprint of a box or pallet standing on it), and
// cavity_mm for any surface more than cavity_depth_mm behind where the ray entered a pallet's
// outline.
struct Multipath {
    bool on = false;
    double peak_mm = 12.0;
    double reach_mm = 200.0;
    double cavity_mm = 25.0;
    double cavity_depth_mm = 30.0;
};

// Gaussian range noise, sigma = base_mm + k_mm * r^2 / sqrt(reflectance) with r the range in
// metres and reflectance the return's amplitude times r^2: k_mm at 1 m on a white surface square
// on, growing with the square of the range and on dark or grazing surfaces.
struct RangeNoise {
    bool on = false;
    double base_mm = 0.5;
    double k_mm = 0.6;
};

// Returns weaker than min_amplitude are lost (the far floor at grazing incidence, black film far
// away); from there up to min_amplitude * (1 + fade) they are lost with a probability falling
// linearly to 0.
struct AmplitudeCutoff {
    bool on = false;
    double min_amplitude = 0.004;
    double fade = 1.0;
};

// Pixels without a return for no reason in the scene: single holes at rate, and clusters seeded at
// cluster_rate, each its seed pixel and each of its 8 neighbours with probability 1/2 (1 to 9
// pixels, 5 on average). Rates go in steps of 1/65536.
struct Holes {
    bool on = false;
    double rate = 0.01;
    double cluster_rate = 0.002;
};

// The time-of-flight sensor. With enabled false the scene's legacy Sensor renders instead (and
// every other field here is ignored); enabled with every effect off is the ideal sensor: the
// geometry's z-depth to whole mm, nothing lost within max_range_mm.
struct TofSensor {
    bool enabled = false;
    double max_range_mm = 6000.0;  // along the ray
    MixedPixels mixed;
    Multipath multipath;
    RangeNoise noise;
    AmplitudeCutoff cutoff;
    Holes holes;
    FloorRelief floor;  // the floor's bumps: geometry, but switched with the sensor's effects
};

enum class TofEffect { mixed_pixels, multipath, noise, cutoff, holes, floor_relief };

// Every effect, in the order above.
const std::vector<TofEffect>& tof_effects();

// The effect's name: "mixed", "multipath", "noise", "cutoff", "holes", "floor".
std::string tof_effect_name(TofEffect effect);

// Whether the effect is switched on in the sensor.
bool effect_on(const TofSensor& sensor, TofEffect effect);

// The sensor with the effect switched on or off; its parameters stay.
TofSensor with_effect(TofSensor sensor, TofEffect effect, bool on);

// A typical indoor time-of-flight camera: every effect on, at the levels the defaults above give
// (sim/README.md says why).
TofSensor typical_tof();

// The ideal sensor: enabled, every effect off.
TofSensor ideal_tof();

}  // namespace sim
