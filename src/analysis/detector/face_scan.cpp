#include "analysis/detector/face_scan.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/detector/short_sort.hpp"

namespace {

// The nearest point of every column within the height band, every scan_row_step-th row. The
// nearness is found in single precision, as an integer key that holds the squared range (in
// 16 mm^2) above the row, so that the loop has no branch and the compiler vectorises it; the
// point itself is then computed again in double. Into nearest_x, nearest_y and nearest_r2 (+inf
// for a column without a point).
void nearest_per_column(const cv::Mat& depth, const FloorFrame& f, const DetectorParams& params, ScanScratch& s)
{
    const auto columns = static_cast<std::size_t>(depth_cols);
    s.column_u.resize(columns);
    for (std::size_t u = 0; u < columns; ++u) s.column_u[u] = static_cast<float>(u);
    constexpr std::int32_t none = 0x7FFFFFFF;
    s.nearest_key.assign(columns, none);
    const float low = static_cast<float>(params.scan_low_mm - f.height);
    const float high = static_cast<float>(params.scan_high_mm - f.height);
    std::int32_t* __restrict best = s.nearest_key.data();
    const float* __restrict cu = s.column_u.data();
    for (int v = params.scan_row_step / 2; v < depth_rows; v += params.scan_row_step) {
        const RowFloorCoefficients k = row_floor_coefficients(f, v);
        const auto x0 = static_cast<float>(k.x0), xu = static_cast<float>(k.xu);
        const auto y0 = static_cast<float>(k.y0), yu = static_cast<float>(k.yu);
        const auto h0 = static_cast<float>(k.h0), hu = static_cast<float>(k.hu);
        const std::uint16_t* __restrict row = depth.ptr<std::uint16_t>(v);
        for (std::size_t u = 0; u < columns; ++u) {
            const float d = static_cast<float>(row[u]);
            const float h = d * (hu * cu[u] + h0);  // above the floor, less the camera's height
            const float x = d * (xu * cu[u] + x0);
            const float y = d * (yu * cu[u] + y0);
            const float r2 = std::min((x * x + y * y) * 0.0625f, 4194303.0f);  // 22 bits
            const std::int32_t key = (static_cast<std::int32_t>(r2) << 9) | v;
            const bool in_band = (d > 0.0f) & (h >= low) & (h <= high);  // & not &&: no branch
            best[u] = std::min(best[u], in_band ? key : none);
        }
    }
    s.nearest_x.assign(columns, 0.0);
    s.nearest_y.assign(columns, 0.0);
    s.nearest_r2.assign(columns, std::numeric_limits<double>::infinity());
    for (std::size_t u = 0; u < columns; ++u) {
        if (best[u] == none) continue;
        const int v = best[u] & 511;
        const double d = depth.at<std::uint16_t>(v, static_cast<int>(u));
        const Eigen::Vector3d q = floor_of(f, d * pixel_direction(v, static_cast<double>(u)));
        s.nearest_x[u] = q.x();
        s.nearest_y[u] = q.y();
        s.nearest_r2[u] = q.x() * q.x() + q.y() * q.y();
    }
}

double jump_limit(const DetectorParams& p, double range)
{
    return p.scan_jump_mm + p.scan_jump_per_mm * range;
}

double bend_limit(const DetectorParams& p, double range)
{
    return p.scan_bend_mm + p.scan_bend_per_mm * range;
}

// Chains of neighbouring columns' points, left to right.
void chain_points(const DetectorParams& params, ScanScratch& s)
{
    s.points.clear();
    s.point_column.clear();
    s.chains.clear();
    int last_column = -1;
    std::size_t first = 0;
    for (int u = 0; u < depth_cols; ++u) {
        const auto k = static_cast<std::size_t>(u);
        if (!std::isfinite(s.nearest_r2[k])) continue;
        const Eigen::Vector3d p(s.nearest_x[k], s.nearest_y[k], std::sqrt(s.nearest_r2[k]));
        if (!s.points.empty()) {
            const Eigen::Vector3d& q = s.points.back();
            const int skipped = u - last_column - 1;
            const double step = (p.head<2>() - q.head<2>()).norm();
            if (skipped > params.scan_max_skip || step > jump_limit(params, p.z()) * (1 + skipped)) {
                s.chains.emplace_back(first, s.points.size());
                first = s.points.size();
            }
        }
        s.points.push_back(p);
        s.point_column.push_back(u);
        last_column = u;
    }
    if (!s.points.empty()) s.chains.emplace_back(first, s.points.size());
}

// The jitter of the points [first, last) about a smooth curve: from the robust spread of the
// ranges' second differences (whose variance is six times a point's). A far noisy face makes its
// columns' nearest points scatter by more than any fixed limit allows.
double jitter(ScanScratch& s, std::size_t first, std::size_t last)
{
    if (last - first < 5) return 0.0;
    s.values.clear();
    for (std::size_t i = first + 1; i + 1 < last; ++i) {
        s.values.push_back(std::abs(s.points[i - 1].z() - 2.0 * s.points[i].z() + s.points[i + 1].z()));
    }
    const auto middle = s.values.begin() + static_cast<std::ptrdiff_t>(s.values.size() / 2);
    std::nth_element(s.values.begin(), middle, s.values.end());
    return 1.4826 * *middle / std::sqrt(6.0);
}

// The chain split where it bends: recursively at the point farthest from the chord between its
// ends, while that lies beyond the bend limit, or four times the chain's jitter where that is more.
void split_chain(const DetectorParams& params, ScanScratch& s, std::size_t first, std::size_t last)
{
    const double noise = 4.0 * jitter(s, first, last);
    std::vector<std::pair<std::size_t, std::size_t>>& pending = s.pending;
    std::vector<std::pair<std::size_t, std::size_t>>& done = s.done;
    pending.assign(1, {first, last});
    done.clear();
    while (!pending.empty()) {
        const auto [a, b] = pending.back();
        pending.pop_back();
        const Eigen::Vector2d p = s.points[a].head<2>();
        const Eigen::Vector2d q = s.points[b - 1].head<2>();
        const Eigen::Vector2d chord = q - p;
        const double length = chord.norm();
        std::size_t worst = a;
        double worst_excess = 0.0;
        if (length > 0.0) {
            for (std::size_t i = a + 1; i + 1 < b; ++i) {
                const Eigen::Vector2d d = s.points[i].head<2>() - p;
                const double off = std::abs(chord.x() * d.y() - chord.y() * d.x()) / length;
                const double excess = off - std::max(bend_limit(params, s.points[i].z()), noise);
                if (excess > worst_excess) {
                    worst_excess = excess;
                    worst = i;
                }
            }
        }
        if (worst == a) {
            done.emplace_back(a, b);
        } else {
            pending.emplace_back(worst, b);  // the bend point starts the right part
            pending.emplace_back(a, worst);
        }
    }
    std::sort(done.begin(), done.end());
    for (const auto& run : done) s.runs.push_back(run);
}

// The total least squares line through points [first, last), and their extent along it.
bool fit_run(const ScanScratch& s, std::size_t first, std::size_t last, FaceCandidate& out)
{
    const Eigen::Vector2d origin = s.points[first].head<2>();
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, syy = 0.0;
    for (std::size_t i = first; i < last; ++i) {
        const Eigen::Vector2d d = s.points[i].head<2>() - origin;
        sx += d.x();
        sy += d.y();
        sxx += d.x() * d.x();
        sxy += d.x() * d.y();
        syy += d.y() * d.y();
    }
    const double n = static_cast<double>(last - first);
    const double mx = sx / n, my = sy / n;
    const Eigen::Vector2d axis = major_axis(sxx - sx * mx, sxy - sx * my, syy - sy * my);
    if (!line_along(axis, mx + origin.x(), my + origin.y(), out.line)) return false;
    out.left = std::numeric_limits<double>::infinity();
    out.right = -out.left;
    for (std::size_t i = first; i < last; ++i) {
        const double t = along(out.line, s.points[i].x(), s.points[i].y());
        out.left = std::min(out.left, t);
        out.right = std::max(out.right, t);
    }
    const Eigen::Vector3d middle = point_on_line(out.line, (out.left + out.right) / 2.0, 0.0);
    out.range = middle.head<2>().norm();
    out.columns = s.point_column[last - 1] - s.point_column[first] + 1;
    return true;
}

// Whether the points [first, last) lie on one line: all but a tenth of them (the odd pixel in front
// of a face that broke its run) within twice the bend limit (or four jitters) of their fit, no gap between
// neighbours along it over scan_merge_gap_mm, and none between two of them far behind it (seen
// through the gap between two faces that stand in line, as pallets side by side do).
bool one_line(ScanScratch& s, std::size_t first, std::size_t last, const FaceCandidate& fit,
              const DetectorParams& params)
{
    const double noise = 4.0 * jitter(s, first, last);
    double previous = -std::numeric_limits<double>::infinity();
    std::size_t off = 0;
    bool through = false;  // a point far behind the line since the last one on it
    for (std::size_t i = first; i < last; ++i) {
        const Eigen::Vector3d& p = s.points[i];
        const double r = residual(fit.line, p.x(), p.y());
        const double tolerance = 2.0 * std::max(bend_limit(params, p.z()), noise);
        if (std::abs(r) > tolerance) {
            ++off;
            through = through || (std::isfinite(previous) && r > std::max(tolerance, jump_limit(params, p.z())));
            continue;
        }
        if (through) return false;
        const double t = along(fit.line, p.x(), p.y());
        if (std::isfinite(previous) && std::abs(t - previous) > params.scan_merge_gap_mm) return false;
        previous = t;
    }
    return 10 * off <= last - first;
}

}  // namespace

void find_candidates(const cv::Mat& depth, const FloorFrame& floor, const DetectorParams& params,
                     ScanScratch& scratch, std::vector<FaceCandidate>& kept)
{
    nearest_per_column(depth, floor, params, scratch);
    chain_points(params, scratch);
    scratch.runs.clear();
    for (const auto& [first, last] : scratch.chains) {
        split_chain(params, scratch, first, last);
    }
    // Runs joined where they continue each other's line (a face that noise, a hole or a pixel in
    // front of it broke up); then those too short to be a face dropped.
    std::vector<FaceCandidate>& candidates = scratch.joined;
    std::vector<std::pair<std::size_t, std::size_t>>& spans = scratch.spans;  // the points of each candidate
    candidates.clear();
    spans.clear();
    for (const auto& [first, last] : scratch.runs) {
        FaceCandidate run;
        if (last - first < 2 || !fit_run(scratch, first, last, run)) continue;
        if (!candidates.empty()) {
            FaceCandidate joined;
            if (fit_run(scratch, spans.back().first, last, joined) &&
                one_line(scratch, spans.back().first, last, joined, params)) {
                candidates.back() = joined;
                spans.back().second = last;
                continue;
            }
        }
        candidates.push_back(run);
        spans.emplace_back(first, last);
    }
    kept.clear();
    for (const FaceCandidate& c : candidates) {
        const double length = c.right - c.left;
        const Eigen::Vector3d middle = point_on_line(c.line, (c.left + c.right) / 2.0, 0.0);
        const double facing = c.line.c / middle.head<2>().norm();  // cosine to the line of sight
        if (length >= params.scan_min_length_mm && length <= params.scan_max_length_mm &&
            c.columns >= params.scan_min_columns && facing >= params.face_min_facing_cos) {
            kept.push_back(c);
        }
    }
    stable_sort_short(kept.begin(), kept.end(),
                      [](const FaceCandidate& a, const FaceCandidate& b) { return a.range < b.range; });
    if (kept.size() > params.max_candidates) kept.resize(params.max_candidates);
}
