#include "analysis/detector/face_line.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/detector/angles.hpp"
#include "analysis/detector/face_extent.hpp"
#include "analysis/detector/robust_stats.hpp"
#include "common/random.hpp"

namespace {

bool line_through(const FacePoint& a, const FacePoint& b, double min_facing, Line& line)
{
    const double dx = static_cast<double>(b.x) - a.x;
    const double dy = static_cast<double>(b.y) - a.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length < 150.0) return false;  // too short a base for a direction
    line = {-dy / length, dx / length, 0.0};
    line.c = line.mx * a.x + line.my * a.y;
    if (line.c < 0.0) line = {-line.mx, -line.my, -line.c};
    // A face the camera sees: its normal near enough to the line of sight.
    const double sight = std::sqrt(static_cast<double>(a.x) * a.x + static_cast<double>(a.y) * a.y);
    return sight > 0.0 && line.c / sight >= min_facing;
}

// The nearest well-supported vertical plane turned within 20 degrees of the candidate's line (the
// other face of a pallet seen from its corner is turned by 90): 32 two-point samples, each scored
// over at most 400 points by those within 20 mm of its line less those more than 20 mm in front
// of it, each point within weighing 1 - (r / 20 mm)^2: a line through the face beats one that
// merely holds it near its edge. With half the points on the face all 32 miss it in one frame of
// ten thousand.
bool sample_face_line(const std::vector<FacePoint>& band, const Line& near, double min_facing, std::uint64_t& random,
                      Line& best)
{
    const double cos_turn = cos_deg(20.0);  // the candidate's direction holds to a few degrees
    if (band.size() < 20) return false;
    const std::size_t stride = std::max<std::size_t>(1, band.size() / 400);
    const double tau = 20.0;
    const auto score_of = [&](const Line& line) {
        double score = 0.0;
        for (std::size_t i = 0; i < band.size(); i += stride) {
            const double x = residual(line, band[i]) / tau;
            score += x < -1.0 ? -1.0 : std::max(1.0 - x * x, 0.0);  // no branch taken
        }
        return score;
    };
    // The candidate's own line competes too: on a face seen at a grazing angle, with long block
    // sides behind it, few pairs of samples span the face alone.
    best = near;
    double best_score = score_of(near);
    for (int trial = 0; trial < 32; ++trial) {
        Line line{};
        if (!line_through(band[random_below(random, band.size())], band[random_below(random, band.size())],
                          min_facing, line) ||
            line.mx * near.mx + line.my * near.my < cos_turn) {
            continue;
        }
        const double score = score_of(line);
        if (score > best_score) {
            best_score = score;
            best = line;
        }
    }
    return best_score >= 10;
}

// Robust scale of the residuals within `limit` in front of the line, over at most 1000 points
// spread through the list: 1.4826 times their median magnitude, 1 mm at least (depths are whole
// mm). In front only: nothing but the face's own noise lies in front of the nearest face, while
// block sides seen through the openings of a turned face add residuals of every size behind it.
double residual_scale(const std::vector<FacePoint>& band, const Line& line, double limit, std::vector<double>& magnitudes)
{
    const std::size_t stride = std::max<std::size_t>(1, band.size() / 1000);
    magnitudes.clear();
    for (std::size_t i = 0; i < band.size(); i += stride) {
        const double r = residual(line, band[i]);
        if (r <= 0.0 && r > -limit) magnitudes.push_back(-r);
    }
    if (magnitudes.empty()) return limit;
    return std::max(1.4826 * quantile_of(magnitudes, 0.5), 1.0);
}

// Iteratively reweighted least squares with Tukey's biweight from the sampled line: the weighted
// scatter's major axis is the face, its minor axis the normal. The five rounds use every fourth,
// second and then every point; the scale follows the line after every round. Moments are summed in point order about a point of the starting line,
// so that no large coordinates cancel.
Line refine_face_line(const std::vector<FacePoint>& band, Line line, double& scale, std::vector<double>& values)
{
    scale = residual_scale(band, line, 20.0, values);
    const double x0 = line.c * line.mx;
    const double y0 = line.c * line.my;
    for (int round = 0; round < 5; ++round) {
        const std::size_t stride = std::size_t{4} >> std::min(round, 2);
        const double inverse_cutoff = 1.0 / (4.685 * scale);
        double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, syy = 0.0;
        for (std::size_t i = 0; i < band.size(); i += stride) {
            const FacePoint& p = band[i];
            const double r = residual(line, p) * inverse_cutoff;
            const double a = std::max(1.0 - r * r, 0.0);  // no branch: a far point weighs 0
            const double w = a * a;
            const double dx = p.x - x0;
            const double dy = p.y - y0;
            sw += w;
            sx += w * dx;
            sy += w * dy;
            sxx += w * dx * dx;
            sxy += w * dx * dy;
            syy += w * dy * dy;
        }
        if (!(sw > 0.0)) break;
        const double mx = sx / sw;
        const double my = sy / sw;
        const Eigen::Vector2d axis = major_axis(sxx - sx * mx, sxy - sx * my, syy - sy * my);
        if (!(axis.squaredNorm() > 0.0)) break;
        Line next{-axis.y(), axis.x(), 0.0};
        if (next.mx * line.mx + next.my * line.my < 0.0) next = {-next.mx, -next.my, 0.0};
        next.c = next.mx * (mx + x0) + next.my * (my + y0);
        line = next;
        scale = residual_scale(band, line, std::max(4.0 * scale, 8.0), values);
    }
    return line;
}

// The runs of places along the line without a gap of `gap` mm (counted in 20 mm bins): the one
// that overlaps [lo, hi] most, or, overlapping none, the fullest; as the range of its places.
std::pair<double, double> chosen_run(const std::vector<double>& ts, double gap, double lo, double hi,
                                     std::vector<int>& counts)
{
    const double first_t = *std::min_element(ts.begin(), ts.end());
    const double last_t = *std::max_element(ts.begin(), ts.end());
    const double per_bin = 1.0 / 20.0;
    counts.assign(static_cast<std::size_t>((last_t - first_t) * per_bin) + 1, 0);
    for (const double t : ts) ++counts[static_cast<std::size_t>((t - first_t) * per_bin)];
    const auto empty_bins = static_cast<std::size_t>(std::max(1.0, gap * per_bin));
    double best_overlap = -1.0;
    std::size_t best_count = 0;
    std::pair<std::size_t, std::size_t> best{0, 0};
    std::size_t start = 0, end = 0, count = 0, empty = 0;
    const auto close_run = [&] {
        if (count == 0) return;
        const double run_lo = first_t + static_cast<double>(start) * 20.0;
        const double run_hi = first_t + static_cast<double>(end + 1) * 20.0;
        const double overlap = std::max(0.0, std::min(hi, run_hi) - std::max(lo, run_lo));
        if (overlap > best_overlap || (overlap == best_overlap && count > best_count)) {
            best_overlap = overlap;
            best_count = count;
            best = {start, end};
        }
        count = 0;
    };
    for (std::size_t b = 0; b < counts.size(); ++b) {
        if (counts[b] == 0) {
            if (++empty == empty_bins) close_run();
            continue;
        }
        if (count == 0) start = b;
        count += static_cast<std::size_t>(counts[b]);
        end = b;
        empty = 0;
    }
    close_run();
    return {first_t + static_cast<double>(best.first) * 20.0, first_t + static_cast<double>(best.second + 1) * 20.0};
}

// Where the face stands at its top, relative to the line: the straight-line fit of the inliers'
// residuals against their height, read at the height below which 95 % of them lie. Light that
// bounces off the floor first reads long near the floor, and less the higher up: the face's base
// seems to stand behind its top. A vertical face's top is where the face is.
double offset_at_top(const std::vector<FacePoint>& points, const Line& line, double band, std::vector<double>& heights,
                     double& mean_residual, double& slope_per_mm)
{
    mean_residual = 0.0;
    slope_per_mm = 0.0;
    double n = 0.0, sh = 0.0, sr = 0.0, shh = 0.0, shr = 0.0;
    heights.clear();
    for (const FacePoint& p : points) {
        const double r = residual(line, p);
        if (!(std::abs(r) < band)) continue;
        const double h = p.h - 75.0;  // about the band's middle: the sums stay small
        n += 1.0;
        sh += h;
        sr += r;
        shh += h * h;
        shr += h * r;
        heights.push_back(p.h);
    }
    const double spread = shh - sh * sh / n;
    if (n < 3.0 || !(spread > 0.0)) return 0.0;
    const double slope = (shr - sh * sr / n) / spread;
    const double top = quantile_of(heights, 0.95) - 75.0;
    slope_per_mm = slope;
    mean_residual = sr / n - slope * (sh / n);  // at 75 mm
    return sr / n + slope * (top - sh / n);
}

// How many points on the line a face at `range` needs.
std::size_t min_inliers(const DetectorParams& params, double range)
{
    const double scale = std::min(1.0, params.face_min_inliers_range_mm / range);
    return std::max<std::size_t>(40, static_cast<std::size_t>(static_cast<double>(params.face_min_inliers) * scale * scale));
}

}  // namespace

bool fit_face_line(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper,
                   const FaceCandidate& candidate, const FloorFrame& f, const DetectorParams& params,
                   std::uint64_t& random, FaceLineScratch& scratch, FaceFit& fit)
{
    Line line{};
    if (!sample_face_line(band, candidate.line, params.face_min_facing_cos, random, line)) return false;
    // The refinement sees every other point of the sampled line's run over the candidate and
    // 150 mm beyond its ends: a box beside the pallet that the line's extension crosses would
    // widen its scale.
    scratch.values.clear();
    for (std::size_t i = 0; i < band.size(); i += 2) {
        if (std::abs(residual(line, band[i])) < 20.0) scratch.values.push_back(along(line, band[i]));
    }
    if (scratch.values.empty()) return false;
    const auto run = chosen_run(scratch.values, params.run_gap_mm, candidate.left, candidate.right, scratch.bins);
    // The candidate's extent too: at long range a sampled line through the nearest block alone can
    // miss the others by more than the run's band, and the refinement must see them to turn to them.
    const double near_lo = std::min(run.first, candidate.left) - 150.0;
    const double near_hi = std::max(run.second, candidate.right) + 150.0;
    scratch.near.clear();
    for (std::size_t i = 0; i < band.size(); i += 2) {
        const double t = along(line, band[i]);
        if (t >= near_lo && t <= near_hi) scratch.near.push_back(band[i]);
    }
    fit.line = refine_face_line(scratch.near, line, fit.scale, scratch.values);
    fit.inlier_band = std::max(3.0 * fit.scale, 4.0);
    double at_75 = 0.0;
    const double shift = offset_at_top(scratch.near, fit.line, fit.inlier_band, scratch.values, at_75, fit.trend_slope);
    fit.line.c += shift;
    fit.trend_at_75 = at_75 - shift;
    fit.inliers.clear();
    fit.along.clear();
    scratch.values.clear();
    // Where the face goes on: its points on the line, less those well behind it (one and a half
    // scales, 10 mm at least). A pixel whose footprint crosses an end mixes the face with what lies
    // behind, and a gap between two pallets side by side, far away and narrow, fills with such
    // pixels: they must not join the two.
    const double mixed = std::max(1.5 * fit.scale, 10.0);
    std::size_t on_line = 0;
    // Each band point's place, NaN off the line: the face's run below reads them again.
    scratch.along.resize(band.size());
    for (std::size_t i = 0; i < band.size(); ++i) {
        double& t = scratch.along[i];
        t = NAN;
        if (!(std::abs(residual(fit.line, band[i])) < fit.inlier_band)) continue;
        t = ray_along(fit.line, f, band[i].v, band[i].u);
        if (std::isfinite(t)) {
            ++on_line;
            if (behind_face(fit, band[i]) < mixed) scratch.values.push_back(t);
        }
    }
    const std::size_t needed = min_inliers(params, fit.line.c);
    if (on_line < needed) return false;
    // The face goes on where only its top does: above the openings of a face whose bottom board
    // and blocks leave gaps in the band.
    for (const FacePoint& p : upper) {
        const double t = ray_along(fit.line, f, p.v, p.u);
        if (std::abs(residual(fit.line, p)) < fit.inlier_band && behind_face(fit, p) < mixed && std::isfinite(t)) {
            scratch.values.push_back(t);
        }
    }
    const auto face = chosen_run(scratch.values, params.run_gap_mm, candidate.left, candidate.right, scratch.bins);
    fit.reach_left = face.first;
    fit.reach_right = face.second;
    fit.left = std::numeric_limits<double>::infinity();
    fit.right = -fit.left;
    for (std::size_t i = 0; i < band.size(); ++i) {
        const double t = scratch.along[i];
        if (!(t >= face.first && t < face.second)) continue;
        if (t < fit.left) {
            fit.left = t;
            fit.left_index = fit.inliers.size();
        }
        if (t > fit.right) {
            fit.right = t;
            fit.right_index = fit.inliers.size();
        }
        fit.inliers.push_back(static_cast<std::uint32_t>(i));
        fit.along.push_back(t);
    }
    return fit.inliers.size() >= needed;
}
