#include "analysis/pallet_tracker.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/vehicle_frame.hpp"

namespace {

// The filter moved on by dt seconds of constant velocity, with white acceleration of the given
// spread (units per s^2) widening it.
AxisFilter predicted(const AxisFilter& f, double dt, double acceleration_sigma)
{
    const double q = acceleration_sigma * acceleration_sigma;
    const double dt2 = dt * dt;
    AxisFilter p;
    p.value = f.value + f.rate * dt;
    p.rate = f.rate;
    p.var_value = f.var_value + 2.0 * dt * f.cov + dt2 * f.var_rate + q * (dt2 * dt2 / 4.0);
    p.cov = f.cov + dt * f.var_rate + q * (dt2 * dt / 2.0);
    p.var_rate = f.var_rate + q * dt2;
    return p;
}

// The filter after a measurement whose difference from the predicted value is `innovation`,
// with the given measurement variance.
AxisFilter updated(const AxisFilter& f, double innovation, double measurement_var)
{
    const double s = f.var_value + measurement_var;
    const double gain_value = f.var_value / s;
    const double gain_rate = f.cov / s;
    AxisFilter u;
    u.value = f.value + gain_value * innovation;
    u.rate = f.rate + gain_rate * innovation;
    u.var_value = (1.0 - gain_value) * f.var_value;
    u.cov = (1.0 - gain_value) * f.cov;
    u.var_rate = f.var_rate - gain_rate * f.cov;
    return u;
}

AxisFilter started_filter(double value, double value_sigma, double rate_sigma)
{
    return {value, 0.0, value_sigma * value_sigma, 0.0, rate_sigma * rate_sigma};
}

bool usable(const PalletObservation& o)
{
    return std::isfinite(o.centre.x()) && std::isfinite(o.centre.y()) && std::isfinite(o.centre.z());
}

// Costs of the square assignment problem of n tracks and m observations: track i with
// observation j at (i, j); a track left unassigned at (i, m + i), an observation left for a new
// track at (n + j, j), dummy with dummy 0. Each pair in the gate saves more than any pair costs,
// so the most pairs are made first, and among as many pairs the least total distance.
constexpr double pair_cost_cap = 1.0e5;
constexpr double alone_cost = 1.0e6;
constexpr double forbidden_cost = 1.0e9;  // above the cost of leaving hundreds of tracks alone

double pair_cost(const PalletTrack& t, const PalletObservation& o, const TrackerSettings& s)
{
    if (!t.type.empty() && !o.type.empty() && t.type != o.type) return forbidden_cost;
    const double r = s.position_sigma_mm * s.position_sigma_mm;
    const double dx = o.centre.x() - t.x.value;
    const double dy = o.centre.y() - t.y.value;
    const double distance2 = dx * dx / (t.x.var_value + r) + dy * dy / (t.y.var_value + r);
    const double gate = s.gate_sigmas * s.gate_sigmas;
    const bool near = dx * dx + dy * dy <= s.gate_min_mm * s.gate_min_mm;
    if (!(distance2 <= gate) && !near) return forbidden_cost;
    double cost = distance2;
    if (std::isfinite(o.yaw_deg)) {
        const double dyaw = wrapped_deg(o.yaw_deg - t.yaw.value);
        cost += dyaw * dyaw / (t.yaw.var_value + s.yaw_sigma_deg * s.yaw_sigma_deg);
    }
    return std::min(cost, pair_cost_cap);
}

// The least-cost assignment of a square cost matrix (row-major, size n x n): the column of each
// row. Kuhn and Munkres's method with row and column potentials, O(n^3).
std::vector<int> least_cost_assignment(const std::vector<double>& cost, int n)
{
    const double infinity = std::numeric_limits<double>::infinity();
    std::vector<double> row_potential(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<double> column_potential(static_cast<std::size_t>(n) + 1, 0.0);
    std::vector<int> row_of_column(static_cast<std::size_t>(n) + 1, 0);  // 1-based; 0 for none
    std::vector<int> previous(static_cast<std::size_t>(n) + 1, 0);
    std::vector<double> slack(static_cast<std::size_t>(n) + 1);
    std::vector<char> visited(static_cast<std::size_t>(n) + 1);
    const auto at = [](auto& v, int k) -> auto& { return v[static_cast<std::size_t>(k)]; };
    for (int row = 1; row <= n; ++row) {
        at(row_of_column, 0) = row;
        int column = 0;
        std::fill(slack.begin(), slack.end(), infinity);
        std::fill(visited.begin(), visited.end(), 0);
        do {  // grow a tree of tight edges from the new row until it reaches a free column
            at(visited, column) = 1;
            const int r = at(row_of_column, column);
            double delta = infinity;
            int next = 0;
            for (int c = 1; c <= n; ++c) {
                if (at(visited, c)) continue;
                const double reduced = cost[static_cast<std::size_t>((r - 1) * n + (c - 1))] -
                                       at(row_potential, r) - at(column_potential, c);
                if (reduced < at(slack, c)) {
                    at(slack, c) = reduced;
                    at(previous, c) = column;
                }
                if (at(slack, c) < delta) {
                    delta = at(slack, c);
                    next = c;
                }
            }
            for (int c = 0; c <= n; ++c) {
                if (at(visited, c)) {
                    at(row_potential, at(row_of_column, c)) += delta;
                    at(column_potential, c) -= delta;
                } else {
                    at(slack, c) -= delta;
                }
            }
            column = next;
        } while (at(row_of_column, column) != 0);
        do {  // flip the path back to the root
            const int before = at(previous, column);
            at(row_of_column, column) = at(row_of_column, before);
            column = before;
        } while (column != 0);
    }
    std::vector<int> column_of_row(static_cast<std::size_t>(n), -1);
    for (int c = 1; c <= n; ++c) {
        if (at(row_of_column, c) != 0) at(column_of_row, at(row_of_column, c) - 1) = c - 1;
    }
    return column_of_row;
}

// For each track the observation it is assigned, -1 for none.
std::vector<int> assign(const std::vector<PalletTrack>& tracks, const std::vector<PalletObservation>& observations,
                        const TrackerSettings& settings)
{
    const int n = static_cast<int>(tracks.size());
    const int m = static_cast<int>(observations.size());
    const int size = n + m;
    std::vector<double> cost(static_cast<std::size_t>(size) * static_cast<std::size_t>(size), 0.0);
    const auto cell = [&](int i, int j) -> double& {
        return cost[static_cast<std::size_t>(i) * static_cast<std::size_t>(size) + static_cast<std::size_t>(j)];
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j) {
            const PalletObservation& o = observations[static_cast<std::size_t>(j)];
            cell(i, j) = usable(o) ? pair_cost(tracks[static_cast<std::size_t>(i)], o, settings) : forbidden_cost;
        }
        for (int j = m; j < size; ++j) cell(i, j) = j - m == i ? alone_cost : forbidden_cost;
    }
    for (int i = n; i < size; ++i) {
        for (int j = 0; j < m; ++j) cell(i, j) = i - n == j ? alone_cost : forbidden_cost;
    }
    const std::vector<int> column = least_cost_assignment(cost, size);
    std::vector<int> result(static_cast<std::size_t>(n), -1);
    for (int i = 0; i < n; ++i) {
        const int j = column[static_cast<std::size_t>(i)];
        if (j < m && cell(i, j) < forbidden_cost) result[static_cast<std::size_t>(i)] = j;
    }
    return result;
}

void observe(PalletTrack& t, const PalletObservation& o, std::uint64_t frame_index, const TrackerSettings& s)
{
    const double r = s.position_sigma_mm * s.position_sigma_mm;
    t.x = updated(t.x, o.centre.x() - t.x.value, r);
    t.y = updated(t.y, o.centre.y() - t.y.value, r);
    t.z = updated(t.z, o.centre.z() - t.z.value, r);
    if (std::isfinite(o.yaw_deg)) {
        t.yaw = updated(t.yaw, wrapped_deg(o.yaw_deg - t.yaw.value), s.yaw_sigma_deg * s.yaw_sigma_deg);
    }
    if (t.type.empty()) t.type = o.type;
    t.last_seen_frame = frame_index;
    ++t.frames_seen;
    t.confirmed = t.confirmed || t.frames_seen >= s.confirm_frames;
}

PalletTrack new_track(int id, const PalletObservation& o, std::uint64_t frame_index, const TrackerSettings& s)
{
    PalletTrack t;
    t.track_id = id;
    t.type = o.type;
    t.first_frame = frame_index;
    t.last_seen_frame = frame_index;
    t.frames_seen = 1;
    t.confirmed = s.confirm_frames <= 1;
    t.x = started_filter(o.centre.x(), s.position_sigma_mm, s.new_speed_sigma_mm_s);
    t.y = started_filter(o.centre.y(), s.position_sigma_mm, s.new_speed_sigma_mm_s);
    t.z = started_filter(o.centre.z(), s.position_sigma_mm, s.new_speed_sigma_mm_s);
    // A yaw not measured starts unknown: any later measurement takes over at once.
    t.yaw = std::isfinite(o.yaw_deg) ? started_filter(o.yaw_deg, s.yaw_sigma_deg, s.new_yaw_rate_sigma_deg_s)
                                     : started_filter(0.0, 180.0, s.new_yaw_rate_sigma_deg_s);
    return t;
}

std::uint64_t frames_between(std::uint64_t earlier, std::uint64_t later)
{
    return later > earlier ? later - earlier : 0;
}

}  // namespace

TrackerState track_pallets(TrackerState state, std::uint64_t frame_index, double time_s,
                           const std::vector<PalletObservation>& observations, const TrackerSettings& settings)
{
    const bool advances = state.started && time_s > state.time_s;  // false for NaN too
    const double dt = advances ? time_s - state.time_s : 0.0;
    for (PalletTrack& t : state.tracks) {
        t.x = predicted(t.x, dt, settings.acceleration_sigma_mm_s2);
        t.y = predicted(t.y, dt, settings.acceleration_sigma_mm_s2);
        t.z = predicted(t.z, dt, settings.height_acceleration_sigma_mm_s2);
        t.yaw = predicted(t.yaw, dt, settings.yaw_acceleration_sigma_deg_s2);
        t.observation = -1;
    }

    const std::vector<int> assigned = assign(state.tracks, observations, settings);
    std::vector<char> taken(observations.size(), 0);
    for (std::size_t i = 0; i < state.tracks.size(); ++i) {
        const int j = assigned[i];
        if (j < 0) continue;
        observe(state.tracks[i], observations[static_cast<std::size_t>(j)], frame_index, settings);
        state.tracks[i].observation = j;
        taken[static_cast<std::size_t>(j)] = 1;
    }

    state.tracks.erase(std::remove_if(state.tracks.begin(), state.tracks.end(),
                                      [&](const PalletTrack& t) {
                                          const std::uint64_t missed = frames_between(t.last_seen_frame, frame_index);
                                          const int limit = t.confirmed ? settings.max_missed_frames
                                                                        : settings.tentative_missed_frames;
                                          return missed > static_cast<std::uint64_t>(std::max(limit, 0));
                                      }),
                       state.tracks.end());

    for (std::size_t j = 0; j < observations.size(); ++j) {
        if (taken[j] || !usable(observations[j])) continue;
        state.tracks.push_back(new_track(state.next_track_id++, observations[j], frame_index, settings));
        state.tracks.back().observation = static_cast<int>(j);
    }

    if (advances || !state.started) state.time_s = time_s;
    state.started = true;
    state.frame_index = frame_index;
    return state;
}

std::vector<TrackedPallet> tracked_pallets(const TrackerState& state)
{
    std::vector<TrackedPallet> pallets;
    pallets.reserve(state.tracks.size());
    for (const PalletTrack& t : state.tracks) {
        TrackedPallet p;
        p.track_id = t.track_id;
        p.type = t.type;
        p.frames_seen = t.frames_seen;
        p.age_frames = frames_between(t.first_frame, state.frame_index);
        p.frames_since_seen = frames_between(t.last_seen_frame, state.frame_index);
        p.confirmed = t.confirmed;
        p.observation = t.observation;
        p.centre = {t.x.value, t.y.value, t.z.value};
        p.centre_sd = {std::sqrt(t.x.var_value), std::sqrt(t.y.var_value), std::sqrt(t.z.var_value)};
        p.velocity = {t.x.rate, t.y.rate, t.z.rate};
        p.yaw_deg = wrapped_deg(t.yaw.value);
        p.yaw_sd_deg = std::sqrt(t.yaw.var_value);
        p.yaw_rate_deg_s = t.yaw.rate;
        pallets.push_back(p);
    }
    return pallets;
}

std::vector<PalletObservation> floor_observations(const std::vector<DockPose>& poses)
{
    std::vector<PalletObservation> observations;
    for (const DockPose& pose : poses) {
        if (pose.verdict != DockVerdict::pallet) continue;
        observations.push_back({pose.centre_floor, pose.yaw_deg, {}});
    }
    return observations;
}

std::vector<PalletObservation> vehicle_observations(const CameraMount& mount, const std::vector<DockPose>& poses)
{
    std::vector<PalletObservation> observations;
    for (const DockPose& pose : poses) {
        if (pose.verdict != DockVerdict::pallet) continue;
        const VehiclePallet pallet = vehicle_pallet(mount, pose);
        observations.push_back({pallet.centre, pallet.yaw_deg, {}});
    }
    return observations;
}
