#include "tools/eval_stats.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

double centre_distance(const DockComparison& d)
{
    return d.centre_error.norm();
}

}  // namespace

std::string number(double value, int decimals)
{
    if (!std::isfinite(value)) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string cell(double value, int decimals)
{
    const std::string text = number(value, decimals);
    return text.empty() ? "-" : text;
}

std::string plot_number(double value)
{
    return std::isfinite(value) ? number(value, 3) : "NaN";
}

std::string percent(std::size_t part, std::size_t whole)
{
    return whole == 0 ? "-" : cell(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1);
}

std::string short_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

double quantile(std::vector<double> values, double q)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
                 values.end());
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const double rank = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    const double t = rank - static_cast<double>(below);
    return values[below] + t * (values[above] - values[below]);
}

Trend trend(const std::vector<double>& x, const std::vector<double>& y)
{
    Trend t;
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        ++t.count;
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        syy += y[i] * y[i];
        sxy += x[i] * y[i];
    }
    if (t.count < 2) return t;
    const double n = static_cast<double>(t.count);
    const double vx = sxx - sx * sx / n;
    const double vy = syy - sy * sy / n;
    const double cxy = sxy - sx * sy / n;
    if (vx > 0.0) t.slope = cxy / vx;
    if (vx > 0.0 && vy > 0.0) t.correlation = cxy / std::sqrt(vx * vy);
    return t;
}

std::vector<const SceneResult*> all_of(const std::vector<SceneResult>& results)
{
    std::vector<const SceneResult*> all;
    for (const SceneResult& r : results) all.push_back(&r);
    return all;
}

std::map<double, std::vector<const SceneResult*>> scenes_by(const std::vector<SceneResult>& results,
                                                             double SceneParams::*parameter)
{
    std::map<double, std::vector<const SceneResult*>> bins;
    for (const SceneResult& r : results) bins[r.params.*parameter].push_back(&r);
    return bins;
}

BinSummary summarise(const std::vector<const SceneResult*>& scenes, double key)
{
    BinSummary b;
    b.key = key;
    b.scenes = scenes.size();
    std::vector<double> centre[3];
    std::vector<double> normal;
    for (const SceneResult* r : scenes) {
        const SceneComparison& c = r->comparison;
        if (c.outcome == PalletOutcome::no_contour) ++b.no_contour;
        if (c.outcome == PalletOutcome::no_pallet) ++b.no_pallet;
        if (c.outcome != PalletOutcome::pallet_found) continue;
        ++b.found;
        if (!c.centre_on_face) ++b.centre_misses;
        if (c.reported_centre.isZero(0.0)) ++b.zero_centres;
        for (int k = 0; k < 3; ++k) centre[k].push_back(std::abs(c.centre_error(k)));
        normal.push_back(c.normal_error_deg);
    }
    for (int k = 0; k < 3; ++k) {
        b.centre_abs_p50[k] = quantile(centre[k], 0.5);
        b.centre_abs_p95[k] = quantile(centre[k], 0.95);
    }
    b.normal_p50 = quantile(normal, 0.5);
    b.normal_p95 = quantile(normal, 0.95);
    return b;
}

DockBin summarise_dock(const std::vector<const SceneResult*>& scenes, double key)
{
    DockBin b;
    b.key = key;
    b.scenes = scenes.size();
    std::vector<double> centre[3], floor[3], yaw, pocket, width, confidence;
    for (const SceneResult* r : scenes) {
        const DockComparison& d = r->dock;
        if (d.verdict != DockVerdict::pallet) continue;
        ++b.pallets;
        b.false_pallets += false_pallet(*r);
        for (int k = 0; k < 3; ++k) {
            centre[k].push_back(std::abs(d.centre_error(k)));
            floor[k].push_back(std::abs(d.centre_error_floor(k)));
        }
        yaw.push_back(std::abs(d.yaw_error_deg));
        pocket.push_back(d.pocket_error_mm[0]);
        pocket.push_back(d.pocket_error_mm[1]);
        width.push_back(std::abs(d.width_error_mm));
        confidence.push_back(d.confidence);
    }
    for (int k = 0; k < 3; ++k) {
        b.centre_p50[k] = quantile(centre[k], 0.5);
        b.centre_p95[k] = quantile(centre[k], 0.95);
        b.floor_p50[k] = quantile(floor[k], 0.5);
        b.floor_p95[k] = quantile(floor[k], 0.95);
    }
    b.yaw_p50 = quantile(yaw, 0.5);
    b.yaw_p95 = quantile(yaw, 0.95);
    b.pocket_p50 = quantile(pocket, 0.5);
    b.pocket_p95 = quantile(pocket, 0.95);
    b.width_p50 = quantile(width, 0.5);
    b.confidence_p50 = quantile(confidence, 0.5);
    return b;
}

bool false_pallet(const SceneResult& r)
{
    const DockComparison& d = r.dock;
    if (d.verdict != DockVerdict::pallet) return false;
    return r.params.empty_index >= 0 || !(centre_distance(d) <= 50.0) ||
           !(std::abs(d.yaw_error_deg) <= 5.0);
}

bool in_working_mount(const SceneParams& p)
{
    return p.empty_index < 0 && p.height_mm == 200.0 && p.pitch_deg >= 4.0 && p.pitch_deg <= 8.0 &&
           std::abs(p.lateral_mm) <= 250.0 && std::abs(p.yaw_deg) <= 20.0;
}

bool in_working_envelope(const SceneParams& p)
{
    return in_working_mount(p) && p.noise_level <= 1.0 && p.distance_mm >= 1000.0 &&
           p.distance_mm <= 2000.0;
}

bool fixed_analysis_took_floor(const SceneResult& r)
{
    return r.comparison.outcome == PalletOutcome::pallet_found && r.dock.contour_floor_share >= 0.5;
}

std::vector<ConfidenceBin> confidence_bins(const std::vector<SceneResult>& results)
{
    const double edges[] = {0.0, 0.2, 0.4, 0.6, 0.8, 0.9, 1.0};
    std::vector<ConfidenceBin> bins;
    for (std::size_t i = 0; i + 1 < std::size(edges); ++i) {
        ConfidenceBin b;
        b.lo = edges[i];
        b.hi = edges[i + 1];
        std::vector<double> centre, yaw;
        for (const SceneResult& r : results) {
            const DockComparison& d = r.dock;
            const bool last = i + 2 == std::size(edges);  // the top bin holds 1 itself
            if (d.verdict != DockVerdict::pallet || d.confidence < b.lo ||
                (last ? d.confidence > b.hi : d.confidence >= b.hi)) {
                continue;
            }
            ++b.count;
            centre.push_back(centre_distance(d));
            yaw.push_back(std::abs(d.yaw_error_deg));
        }
        b.centre_p50 = quantile(centre, 0.5);
        b.centre_p95 = quantile(centre, 0.95);
        b.yaw_p50 = quantile(yaw, 0.5);
        b.yaw_p95 = quantile(yaw, 0.95);
        bins.push_back(b);
    }
    return bins;
}
