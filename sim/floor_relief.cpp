#include "sim/floor_relief.hpp"

#include <algorithm>
#include <cmath>

#include "common/random.hpp"

namespace sim {

namespace {

// A random value in [-1, 1] at grid corner (i, j) of the layer with the given key.
double corner_value(std::uint64_t layer_key, std::int64_t i, std::int64_t j)
{
    const std::uint64_t key = layer_key ^ (static_cast<std::uint64_t>(i) * 0x9E3779B97F4A7C15ULL) ^
                              (static_cast<std::uint64_t>(j) * 0xC2B2AE3D27D4EB4FULL);
    return static_cast<double>(splitmix64_of(key) >> 11) * 0x1.0p-52 - 1.0;
}

// The grid cell of g (its floor, as an integer: the library's floor is a call on some
// processors) and the position within it, 0..1.
std::int64_t cell_of(double g, double& within)
{
    const double limit = 1e15;  // keeps the conversion defined for far-off points
    const double clamped = g < -limit ? -limit : (g > limit ? limit : g);
    auto cell = static_cast<std::int64_t>(clamped);  // towards zero
    if (static_cast<double>(cell) > clamped) --cell;
    within = clamped - static_cast<double>(cell);
    return cell;
}

// Value noise: height and slopes at position (sx, sy) within a cell whose corners hold v (v00,
// v10, v01, v11), blended by the quintic smoothstep (no jump of slope or curvature at the grid
// lines); slopes per unit of the cell.
FloorSample blend(const double v[4], double sx, double sy)
{
    const double wx = sx * sx * sx * (sx * (sx * 6.0 - 15.0) + 10.0);
    const double wy = sy * sy * sy * (sy * (sy * 6.0 - 15.0) + 10.0);
    const double dwx = 30.0 * sx * sx * (sx - 1.0) * (sx - 1.0);
    const double dwy = 30.0 * sy * sy * (sy - 1.0) * (sy - 1.0);
    const double bottom = v[0] + (v[1] - v[0]) * wx;
    const double top = v[2] + (v[3] - v[2]) * wx;
    const double along_x = ((v[1] - v[0]) + ((v[3] - v[2]) - (v[1] - v[0])) * wy) * dwx;
    return {bottom + (top - bottom) * wy, along_x, (top - bottom) * dwy};
}

// The long layer's height at (x, y): value noise of amplitude undulation_mm on its own cells.
double undulation_at(const FloorRelief& relief, std::uint64_t key, double x_mm, double y_mm)
{
    if (relief.undulation_mm == 0.0 || !(relief.undulation_cell_mm > 0.0)) return 0.0;
    const double per_cell = 1.0 / relief.undulation_cell_mm;
    double sx = 0.0;
    double sy = 0.0;
    const std::int64_t i = cell_of(x_mm * per_cell, sx);
    const std::int64_t j = cell_of(y_mm * per_cell, sy);
    const double v[4] = {corner_value(key, i, j), corner_value(key, i + 1, j), corner_value(key, i, j + 1),
                         corner_value(key, i + 1, j + 1)};
    return relief.undulation_mm * blend(v, sx, sy).height_mm;
}

std::uint64_t bump_key(const FloorRelief& relief)
{
    return splitmix64_of(relief.seed);
}

std::uint64_t undulation_key(const FloorRelief& relief)
{
    return splitmix64_of(bump_key(relief));
}

// The floor's height at corner (i, j) of the bump grid: a random bump plus the undulation there.
double corner_height(const FloorRelief& relief, std::uint64_t bumps, std::uint64_t slow, std::int64_t i,
                     std::int64_t j)
{
    const double x = static_cast<double>(i) * relief.bump_cell_mm;
    const double y = static_cast<double>(j) * relief.bump_cell_mm;
    return relief.bump_mm * corner_value(bumps, i, j) + undulation_at(relief, slow, x, y);
}

bool has_cells(const FloorRelief& relief)
{
    return relief.on && relief.bump_cell_mm > 0.0;
}

}  // namespace

FloorSample floor_sample(const FloorRelief& relief, double x_mm, double y_mm)
{
    if (!has_cells(relief)) return {0.0, 0.0, 0.0};
    FloorGrid corners_as_they_go;  // no grid: every corner computed
    corners_as_they_go.relief = relief;
    corners_as_they_go.per_cell = 1.0 / relief.bump_cell_mm;
    corners_as_they_go.bump_key = bump_key(relief);
    corners_as_they_go.undulation_key = undulation_key(relief);
    return floor_sample(corners_as_they_go, x_mm, y_mm);
}

double floor_height_mm(const FloorRelief& relief, double x_mm, double y_mm)
{
    return floor_sample(relief, x_mm, y_mm).height_mm;
}

FloorGrid make_floor_grid(const FloorRelief& relief, double reach_mm)
{
    FloorGrid grid;
    grid.relief = relief;
    grid.bump_key = bump_key(relief);
    grid.undulation_key = undulation_key(relief);
    if (!has_cells(relief)) return grid;
    grid.per_cell = 1.0 / relief.bump_cell_mm;
    const double max_corners = 1024.0;  // per side: a finer grid is computed as it goes
    const double half = reach_mm * grid.per_cell;
    if (!(half < max_corners / 2.0 - 2.0)) return grid;
    grid.first = -static_cast<std::int64_t>(half) - 2;
    grid.size = 2 * (-grid.first) + 2;
    grid.heights.resize(static_cast<std::size_t>(grid.size * grid.size));
    for (std::int64_t b = 0; b < grid.size; ++b) {
        for (std::int64_t a = 0; a < grid.size; ++a) {
            grid.heights[static_cast<std::size_t>(b * grid.size + a)] =
                corner_height(relief, grid.bump_key, grid.undulation_key, a + grid.first, b + grid.first);
        }
    }
    return grid;
}

FloorSample floor_sample(const FloorGrid& grid, double x_mm, double y_mm)
{
    const FloorRelief& relief = grid.relief;
    if (!has_cells(relief)) return {0.0, 0.0, 0.0};
    double sx = 0.0;
    double sy = 0.0;
    const std::int64_t i = cell_of(x_mm * grid.per_cell, sx);
    const std::int64_t j = cell_of(y_mm * grid.per_cell, sy);
    double v[4];
    const std::int64_t a = i - grid.first;
    const std::int64_t b = j - grid.first;
    if (a >= 0 && b >= 0 && a + 1 < grid.size && b + 1 < grid.size) {
        const double* row = grid.heights.data() + b * grid.size + a;
        v[0] = row[0];
        v[1] = row[1];
        v[2] = row[grid.size];
        v[3] = row[grid.size + 1];
    } else {
        v[0] = corner_height(relief, grid.bump_key, grid.undulation_key, i, j);
        v[1] = corner_height(relief, grid.bump_key, grid.undulation_key, i + 1, j);
        v[2] = corner_height(relief, grid.bump_key, grid.undulation_key, i, j + 1);
        v[3] = corner_height(relief, grid.bump_key, grid.undulation_key, i + 1, j + 1);
    }
    const FloorSample s = blend(v, sx, sy);
    return {s.height_mm, s.slope_x * grid.per_cell, s.slope_y * grid.per_cell};
}

}  // namespace sim
