// A floor that is not a plane: a smooth height field of small bumps over a slow undulation whose
// slope changes across the floor, both seeded, both zero on average. Heights are along the floor
// frame's Z above the reference plane Z = 0, on which the pallets and boxes stand; the truth's
// floor normal is that plane's.
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// Value noise: the floor's height at every corner of a square grid of bump_cell_mm is a random
// bump in [-bump_mm, bump_mm] plus the undulation there (itself value noise in
// [-undulation_mm, undulation_mm] on a grid of undulation_cell_mm), blended between corners by the
// quintic smoothstep: a surface with continuous slope and curvature. Bumps of a few mm on
// half-metre cells give local slopes of about 0.3 degrees (1 degree at the steepest); the
// undulation's metres-wide cells turn the floor's mean slope by about 0.1 degrees (0.3 at most)
// from place to place.
struct FloorRelief {
    bool on = false;                  // off: the plane Z = 0
    double bump_mm = 2.0;             // amplitude of the short layer
    double bump_cell_mm = 500.0;
    double undulation_mm = 6.0;       // amplitude of the long layer
    double undulation_cell_mm = 4000.0;
    std::uint64_t seed = 0x5EEDF100;  // the floor's shape: the same in every frame
};

// Height of the floor above the reference plane at floor point (x, y), mm; 0 when off. Never more
// than |bump_mm| + |undulation_mm| away from 0.
double floor_height_mm(const FloorRelief& relief, double x_mm, double y_mm);

// The floor's height and its slopes dZ/dX, dZ/dY at (x, y).
struct FloorSample {
    double height_mm;
    double slope_x;
    double slope_y;
};
FloorSample floor_sample(const FloorRelief& relief, double x_mm, double y_mm);

// The corner heights over the square |x|, |y| <= reach_mm, computed once: the renderer samples
// the floor millions of times a second. floor_sample of a grid gives what floor_sample of its
// relief gives, to the bit, everywhere (outside the square it computes the corners as it goes).
struct FloorGrid {
    FloorRelief relief;
    double per_cell = 0.0;         // 1 / bump_cell_mm
    std::uint64_t bump_key = 0;
    std::uint64_t undulation_key = 0;
    std::int64_t first = 0;        // grid index of column and row 0
    std::int64_t size = 0;         // corners per side
    std::vector<double> heights;   // row (y index) by row, mm
};
FloorGrid make_floor_grid(const FloorRelief& relief, double reach_mm);
FloorSample floor_sample(const FloorGrid& grid, double x_mm, double y_mm);

}  // namespace sim
