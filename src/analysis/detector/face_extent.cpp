#include "analysis/detector/face_extent.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

#include "analysis/detector/robust_stats.hpp"
#include "common/portable_math.hpp"

void rows_of(const std::vector<FacePoint>& band, const FaceFit& fit, FaceRows& rows)
{
    rows.index.clear();
    rows.start.clear();
    int row_v = -1;
    for (std::size_t k = 0; k < fit.inliers.size(); ++k) {
        const FacePoint& p = band[fit.inliers[k]];
        if (p.v != row_v) {
            row_v = p.v;
            rows.start.push_back(static_cast<std::uint32_t>(rows.index.size()));
        }
        rows.index.push_back(static_cast<std::uint32_t>(k));
    }
    rows.start.push_back(static_cast<std::uint32_t>(rows.index.size()));
}

double ray_along(const Line& line, const FloorFrame& f, double v, double u)
{
    const Eigen::Vector3d ray = pixel_direction(v, u);
    const double rx = f.x.dot(ray);
    const double ry = f.y.dot(ray);
    const double facing = line.mx * rx + line.my * ry;
    if (!(facing > 1e-9)) return NAN;
    return (line.my * rx - line.mx * ry) * (line.c / facing);
}

double half_pixel_beyond(const Line& line, const FacePoint& p, double t, const FloorFrame& f, double outward)
{
    double best = t;
    for (const double step : {-0.5, 0.5}) {
        const double beyond = ray_along(line, f, p.v, p.u + step);
        if ((beyond - best) * outward > 0.0) best = beyond;  // NaN never
    }
    return best;
}

bool at_image_border(const FacePoint& p)
{
    return p.u <= 1 || p.u >= depth_cols - 2;
}

namespace {

// Whether the pixel shows the face plane: a row that leaves the height band ends there without
// reaching the face's end.
bool on_face_plane(const cv::Mat& depth, const FloorFrame& f, const FaceFit& fit, int v, int u)
{
    if (u < 0 || u >= depth_cols) return false;
    const std::uint16_t d = depth.at<std::uint16_t>(v, u);
    if (d == 0) return false;
    const Eigen::Vector3d q = floor_of(f, static_cast<double>(d) * pixel_direction(v, u));
    return std::abs(residual(fit.line, q.x(), q.y())) < fit.inlier_band;
}

}  // namespace

double side_edge(const std::vector<FacePoint>& band, const FaceFit& fit, double edge, double solid,
                 std::vector<double>& values)
{
    // The side faces the camera (at the floor frame's origin, place 0 along the line) only when
    // the camera lies beyond it: a side of a part to the left faces right, and so on.
    if (!std::isfinite(edge) || !(solid < 0.0 ? edge < 0.0 : edge > 0.0)) return edge;
    // The side's points that pass for the face's lie within one and a half scales of the line, and
    // a ray that grazes the face by tan a = |edge| / distance carries such a point that far times
    // tan a beyond the edge: no more than that is taken back. A range read long (light that
    // bounced inside an opening) moves the side's points into the part, and must not move the
    // edge farther.
    const double most = 1.5 * fit.scale * std::abs(edge) / fit.line.c + 1.0;
    const double lo = solid < 0.0 ? edge - 60.0 : edge - 20.0;
    const double hi = solid < 0.0 ? edge + 20.0 : edge + 60.0;
    // Well behind the face: light that bounced off the floor makes the face's own lower pixels read
    // a few mm long, and they must not pass for the side's.
    const double nearest = std::max(3.0 * fit.scale, 20.0);
    values.clear();
    for (const FacePoint& p : band) {
        if (p.h < 30.0f || p.h > 100.0f) continue;  // block heights: no deck top seen from above
        const double r = behind_face(fit, p);
        if (r < nearest || r > 200.0) continue;
        const double t = along(fit.line, p);
        if (t >= lo && t <= hi) values.push_back(t);
    }
    if (values.size() < 10) return edge;
    return std::clamp(quantile_of(values, 0.5), edge - most, edge + most);
}

void face_ends(const cv::Mat& depth, const std::vector<FacePoint>& band, const FaceFit& fit, const FaceRows& rows,
               const FloorFrame& f, std::vector<double>& values, FaceEnds& ends)
{
    // Four pixels at the face's distance, and the noise: far less than an end block's width. Rows
    // that end short of it end at a fork opening or a gap between deck boards, or leave the
    // height band. Each row meets the end at another phase of its pixel grid, so the rows' median
    // is unbiased where neither the last pixel (half a pixel short) nor the extreme over all rows
    // (pushed out by the noise) would be.
    // A row's outermost pixel may mix the face with what lies behind it (its footprint crosses the
    // end): up to two that read behind the face by more than one and a half scales are passed over.
    const double reach = std::max(4.0 * fit.line.c / camera_model.fx, 15.0) + fit.inlier_band;
    const double mixed = 1.5 * fit.scale;
    ends.left_rows.clear();
    ends.right_rows.clear();
    for (std::size_t r = 0; r < rows.count(); ++r) {
        std::size_t a = rows.start[r], b = rows.start[r + 1] - 1;
        for (int skip = 0; skip < 2 && a < b && behind_face(fit, band[fit.inliers[rows.index[a]]]) > mixed; ++skip) ++a;
        for (int skip = 0; skip < 2 && b > a && behind_face(fit, band[fit.inliers[rows.index[b]]]) > mixed; ++skip) --b;
        const std::size_t first = rows.index[a];
        const std::size_t last = rows.index[b];
        const FacePoint& p = band[fit.inliers[first]];
        const FacePoint& q = band[fit.inliers[last]];
        if (fit.along[first] < fit.left + reach && !at_image_border(p) && !on_face_plane(depth, f, fit, p.v, p.u - 1)) {
            ends.left_rows.push_back(half_pixel_beyond(fit.line, p, fit.along[first], f, -1.0));
        }
        if (fit.along[last] > fit.right - reach && !at_image_border(q) && !on_face_plane(depth, f, fit, q.v, q.u + 1)) {
            ends.right_rows.push_back(half_pixel_beyond(fit.line, q, fit.along[last], f, 1.0));
        }
    }
    ends.left = side_edge(band, fit, median_of(ends.left_rows), 1.0, values);
    ends.right = side_edge(band, fit, median_of(ends.right_rows), -1.0, values);
    if (at_image_border(band[fit.inliers[fit.left_index]])) ends.left = NAN;
    if (at_image_border(band[fit.inliers[fit.right_index]])) ends.right = NAN;
}

double face_lean_deg(const std::vector<FacePoint>& band, const FaceFit& fit, double& standard_error_deg)
{
    return face_lean_deg(band, fit, {}, standard_error_deg);
}

double face_lean_deg(const std::vector<FacePoint>& band, const FaceFit& fit, const std::vector<Span>& openings,
                     double& standard_error_deg)
{
    // One pass, heights about 75 mm (the middle of the band): the sums stay small.
    double n = 0.0, sh = 0.0, sr = 0.0, shh = 0.0, shr = 0.0, srr = 0.0;
    for (std::size_t k = 0; k < fit.inliers.size(); ++k) {
        const std::uint32_t i = fit.inliers[k];
        const double t = fit.along[k];
        if (std::any_of(openings.begin(), openings.end(), [t](const Span& o) { return t > o.lo && t < o.hi; })) {
            continue;
        }
        const double h = band[i].h - 75.0;
        const double r = residual(fit.line, band[i]);
        n += 1.0;
        sh += h;
        sr += r;
        shh += h * h;
        shr += h * r;
        srr += r * r;
    }
    const double spread = shh - sh * sh / n;
    standard_error_deg = NAN;
    if (!(spread > 0.0) || n < 3.0) return NAN;
    const double slope = (shr - sh * sr / n) / spread;
    const double scatter = std::max(srr - sr * sr / n - slope * slope * spread, 0.0) / (n - 2.0);
    standard_error_deg = degrees(std::sqrt(scatter / spread));  // small: the angle is its tangent
    return degrees(portable_atan2(shr - sh * sr / n, spread));
}

void top_heights(const std::vector<FacePoint>& band, const std::vector<FacePoint>& upper, const FaceFit& fit,
                 std::vector<double>& heights)
{
    const double line_band = std::min(fit.inlier_band, 15.0);
    heights.clear();
    for (const std::vector<FacePoint>* points : {&band, &upper}) {
        for (const FacePoint& p : *points) {
            if (p.h < 100.0f) continue;
            const double t = along(fit.line, p);
            if (std::abs(residual(fit.line, p)) < line_band && t >= fit.left && t <= fit.right) heights.push_back(p.h);
        }
    }
}

double face_top(const std::vector<double>& heights, double cap)
{
    // The three highest at most `cap`, highest first, in one pass: a wall's window holds thousands
    // of heights, and a sort of them cost more than all the rest of its measurement.
    double top[3] = {-INFINITY, -INFINITY, -INFINITY};
    std::size_t count = 0;
    for (const double h : heights) {
        if (!(h <= cap)) continue;
        ++count;
        if (h > top[0]) {
            top[2] = top[1];
            top[1] = top[0];
            top[0] = h;
        } else if (h > top[1]) {
            top[2] = top[1];
            top[1] = h;
        } else if (h > top[2]) {
            top[2] = h;
        }
    }
    if (count == 0) return NAN;
    return top[std::min<std::size_t>(count, 3) - 1];
}

bool face_goes_on_above(const std::vector<FacePoint>& upper, const FaceFit& fit, double height, std::vector<int>& seen)
{
    const double line_band = std::min(fit.inlier_band, 15.0);
    const auto bins = static_cast<std::size_t>((fit.right - fit.left) / 40.0) + 1;
    seen.assign(bins, 0);
    for (const FacePoint& p : upper) {
        if (p.h <= height) continue;
        const double t = along(fit.line, p);
        if (std::abs(residual(fit.line, p)) < line_band && t >= fit.left && t <= fit.right) {
            seen[static_cast<std::size_t>((t - fit.left) / 40.0)] = 1;
        }
    }
    return 2 * static_cast<std::size_t>(std::count(seen.begin(), seen.end(), 1)) > bins;
}

double face_bottom(const std::vector<FacePoint>& band, const FaceFit& fit, std::vector<double>& values)
{
    // Light that bounced off the floor reads the face's base long, the more the nearer the face:
    // the base's points are taken against the face's trend, not its line.
    values.clear();
    for (const FacePoint& p : band) {
        if (std::abs(behind_face(fit, p)) >= fit.inlier_band) continue;
        const double t = along(fit.line, p);
        if (t >= fit.left && t <= fit.right) values.push_back(p.h);
    }
    return quantile_of(values, 0.05);
}
