#include "analysis/dock_pose.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

#include <Eigen/Eigenvalues>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "common/portable_math.hpp"

namespace {

// splitmix64: the random samples of both robust fits follow from the seed alone.
std::uint64_t next_random(std::uint64_t& state)
{
    state += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::size_t random_index(std::uint64_t& state, std::size_t count)
{
    return static_cast<std::size_t>(next_random(state) % count);  // bias below 1e-15
}

// Camera-frame direction of a pixel with unit z-depth: depth d gives the point d times it.
// Multiplied by the inverse focal lengths: no division in the loops that call it.
Eigen::Vector3d pixel_direction(double v, double u)
{
    const double inverse_fx = 1.0 / camera_model.fx;  // folded at compile time
    const double inverse_fy = 1.0 / camera_model.fy;
    return {(u - camera_model.cx) * inverse_fx, (v - camera_model.cy) * inverse_fy, 1.0};
}

// The floor frame: origin below the camera, Z up, Y forward, X right (see the header).
struct FloorFrame {
    Eigen::Vector3d x;
    Eigen::Vector3d y;
    Eigen::Vector3d n;
    double height;  // camera above the floor
};

FloorFrame floor_frame_of(const Eigen::Vector3d& normal, double height)
{
    // The optical axis laid onto the floor; the mount assumption keeps it far from the normal.
    const Eigen::Vector3d axis(0.0, 0.0, 1.0);
    const Eigen::Vector3d forward = (axis - axis.dot(normal) * normal).normalized();
    return {forward.cross(normal), forward, normal, height};
}

Eigen::Vector3d floor_of(const FloorFrame& f, const Eigen::Vector3d& p)
{
    return {f.x.dot(p), f.y.dot(p), f.n.dot(p) + f.height};
}

Eigen::Vector3d camera_of(const FloorFrame& f, const Eigen::Vector3d& q)
{
    return q.x() * f.x + q.y() * f.y + (q.z() - f.height) * f.n;
}

// The q-quantile (0..1, the nearest rank below) of the values, which it reorders; NaN for none.
double quantile_of(std::vector<double>& values, double q)
{
    if (values.empty()) return NAN;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

double median_of(std::vector<double> values)
{
    return quantile_of(values, 0.5);
}

// 1.4826 times the median absolute deviation from the median: the spread of normal values.
double robust_spread(const std::vector<double>& values)
{
    const double middle = median_of(values);
    std::vector<double> deviations;
    deviations.reserve(values.size());
    for (const double value : values) deviations.push_back(std::abs(value - middle));
    return 1.4826 * median_of(std::move(deviations));
}

struct Plane {
    Eigen::Vector3d n;  // unit, pointing up (camera y is down)
    double height;      // n . p + height is the height of p above the plane
};

double plane_distance(const Plane& plane, const Eigen::Vector3d& p)
{
    return plane.n.x() * p.x() + plane.n.y() * p.y() + plane.n.z() * p.z() + plane.height;
}

// Measured pixels of rows 300..479, every eighth row and tenth column: the floor from the camera's
// feet to a few metres ahead, the pallet's own pixels among them. Pixels without depth never enter.
void floor_candidates(const cv::Mat& depth, std::vector<Eigen::Vector3d>& points)
{
    points.clear();
    for (int v = 300; v < depth_rows; v += 8) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        for (int u = 5; u < depth_cols; u += 10) {
            if (row[u] != 0) points.push_back(static_cast<double>(row[u]) * pixel_direction(v, u));
        }
    }
}

// A floor for a camera that looks roughly level from 50 mm to 2 m above it: the normal within
// 30 degrees of the camera's up (-y).
bool plausible_floor(const Plane& plane)
{
    const double cos_30_deg = 0.8660254037844386;
    return -plane.n.y() >= cos_30_deg && plane.height > 50.0 && plane.height < 2000.0;
}

// The plane through three points, oriented up; false when they span no plane or no floor.
bool plane_through(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                   Plane& plane)
{
    Eigen::Vector3d n = (b - a).cross(c - a);
    const double length = n.norm();
    if (!(length > 1e-9)) return false;
    n /= length;
    if (n.y() > 0.0) n = -n;
    plane = {n, -n.dot(a)};
    return plausible_floor(plane);
}

// Least squares through the points within `band` mm of the plane: the least eigenvector of their
// scatter, whose moments are summed in point order about the first point (so that no large
// coordinates cancel). Returns the inlier count (0 when fewer than three) and their RMS distance
// from the new plane.
std::size_t refine_plane(const std::vector<Eigen::Vector3d>& points, double band, Plane& plane,
                         double& rms)
{
    const Eigen::Vector3d origin = points.front();
    double s[3] = {0.0, 0.0, 0.0};
    double m[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // xx, xy, xz, yy, yz, zz
    std::size_t count = 0;
    for (const Eigen::Vector3d& p : points) {
        if (!(std::abs(plane_distance(plane, p)) < band)) continue;
        const double x = p.x() - origin.x(), y = p.y() - origin.y(), z = p.z() - origin.z();
        s[0] += x;
        s[1] += y;
        s[2] += z;
        m[0] += x * x;
        m[1] += x * y;
        m[2] += x * z;
        m[3] += y * y;
        m[4] += y * z;
        m[5] += z * z;
        ++count;
    }
    if (count < 3) return 0;
    const double n = static_cast<double>(count);
    const Eigen::Vector3d mean(s[0] / n, s[1] / n, s[2] / n);
    Eigen::Matrix3d scatter;
    scatter << m[0] - s[0] * mean.x(), m[1] - s[0] * mean.y(), m[2] - s[0] * mean.z(),
        m[1] - s[1] * mean.x(), m[3] - s[1] * mean.y(), m[4] - s[1] * mean.z(),
        m[2] - s[2] * mean.x(), m[4] - s[2] * mean.y(), m[5] - s[2] * mean.z();
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> solver(scatter);
    Eigen::Vector3d normal = solver.eigenvectors().col(0);
    if (normal.y() > 0.0) normal = -normal;
    plane = {normal, -normal.dot(mean + origin)};
    rms = std::sqrt(std::max(solver.eigenvalues()(0), 0.0) / n);
    return count;
}

// RANSAC over three-point samples, each scored by the candidates within 10 mm (a floor point at
// 3 m has about 1 mm of height noise; a pallet stands 144 mm high), then two least-squares
// rounds on the inliers.
DockFloor fit_floor(const cv::Mat& depth, std::vector<Eigen::Vector3d>& points,
                    std::uint64_t& random, Plane& plane)
{
    DockFloor floor;
    floor_candidates(depth, points);
    if (points.size() < 300) return floor;
    const std::size_t stride = std::max<std::size_t>(1, points.size() / 300);
    const double band = 10.0;
    std::size_t best_score = 0;
    for (int trial = 0; trial < 24; ++trial) {
        Plane candidate{};
        if (!plane_through(points[random_index(random, points.size())],
                           points[random_index(random, points.size())],
                           points[random_index(random, points.size())], candidate)) {
            continue;
        }
        std::size_t score = 0;
        for (std::size_t i = 0; i < points.size(); i += stride) {  // no branch: half miss
            score += std::abs(plane_distance(candidate, points[i])) < band;
        }
        if (score > best_score) {
            best_score = score;
            plane = candidate;
        }
    }
    if (best_score == 0) return floor;
    double rms = NAN;
    std::size_t inliers = 0;
    for (int round = 0; round < 2; ++round) {
        inliers = refine_plane(points, band, plane, rms);
        if (inliers == 0) return floor;
    }
    if (inliers < 150 || !plausible_floor(plane)) return floor;
    floor.found = true;
    floor.normal = plane.n;
    floor.camera_height_mm = plane.height;
    const double up = std::clamp(plane.n.z(), -1.0, 1.0);
    floor.camera_tilt_deg = degrees(portable_atan2(up, std::sqrt(1.0 - up * up)));
    floor.camera_roll_deg = degrees(portable_atan2(-plane.n.x(), -plane.n.y()));
    floor.residual_mm = rms;
    floor.inliers = inliers;
    return floor;
}

// The part of the floor plane, and the image rows and columns, where the face is sought.
struct SearchWindow {
    double x_lo, x_hi, y_lo, y_hi;
    cv::Rect pixels;
};

// Floor-frame points of the filled contour's pixels (every other row and column) at 25..170 mm,
// the face and the deck top, into scratch.seed_x and seed_y. Returns how many pixels of that grid
// have a depth.
std::size_t seed_points(const cv::Mat& depth, const Contour& contour, const FloorFrame& f,
                        DockScratch& scratch)
{
    scratch.seed_x.clear();
    scratch.seed_y.clear();
    if (contour.empty()) return 0;
    const cv::Rect rect = cv::boundingRect(contour) & cv::Rect(0, 0, depth_cols, depth_rows);
    if (rect.empty()) return 0;
    scratch.contour_mask.assign(static_cast<std::size_t>(rect.area()), 0);
    cv::Mat inside(rect.size(), CV_8UC1, scratch.contour_mask.data());
    cv::drawContours(inside, std::vector<Contour>{contour}, 0, cv::Scalar(255), cv::FILLED,
                     cv::LINE_8, cv::noArray(), INT_MAX, -rect.tl());
    std::size_t measured = 0;
    for (int v = rect.y; v < rect.y + rect.height; v += 2) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        const std::uint8_t* in = inside.ptr<std::uint8_t>(v - rect.y);
        for (int u = rect.x; u < rect.x + rect.width; u += 2) {
            if (in[u - rect.x] == 0 || row[u] == 0) continue;
            ++measured;
            const Eigen::Vector3d q = floor_of(f, static_cast<double>(row[u]) * pixel_direction(v, u));
            if (q.z() >= 25.0 && q.z() <= 170.0) {
                scratch.seed_x.push_back(q.x());
                scratch.seed_y.push_back(q.y());
            }
        }
    }
    return measured;
}

// A quantile of at most 1000 of the values, evenly spread through them.
double sampled_quantile(const std::vector<double>& values, double q, std::vector<double>& sample)
{
    const std::size_t stride = std::max<std::size_t>(1, values.size() / 1000);
    sample.clear();
    for (std::size_t i = 0; i < values.size(); i += stride) sample.push_back(values[i]);
    return quantile_of(sample, q);
}

// Around the seed: 500 mm nearer and 450 mm farther than nearly all of it (a face turned by 20
// degrees and seen in part ends at most 410 mm nearer or farther; a seed on the deck top starts at
// the face), 1300 mm to either side (a face cut off by the fixed lateral band is measured whole);
// the pixels that can see that box from 20 to 170 mm high.
SearchWindow search_window(DockScratch& scratch, const FloorFrame& f)
{
    std::vector<double>& sample = scratch.values;
    SearchWindow w{sampled_quantile(scratch.seed_x, 0.02, sample) - 1300.0,
                   sampled_quantile(scratch.seed_x, 0.98, sample) + 1300.0,
                   sampled_quantile(scratch.seed_y, 0.02, sample) - 500.0,
                   sampled_quantile(scratch.seed_y, 0.98, sample) + 450.0, cv::Rect()};
    double u_lo = depth_cols, u_hi = -1.0, v_lo = depth_rows, v_hi = -1.0;
    for (int corner = 0; corner < 8; ++corner) {
        const Eigen::Vector3d q((corner & 1) ? w.x_hi : w.x_lo, (corner & 2) ? w.y_hi : w.y_lo,
                                (corner & 4) ? 170.0 : 20.0);
        const Eigen::Vector3d p = camera_of(f, q);
        if (!(p.z() > 1.0)) {  // behind the camera: its rows and columns are unbounded
            u_lo = v_lo = -1.0;
            u_hi = depth_cols;
            v_hi = depth_rows;
            continue;
        }
        const double u = camera_model.cx + camera_model.fx * p.x() / p.z();
        const double v = camera_model.cy + camera_model.fy * p.y() / p.z();
        u_lo = std::min(u_lo, u);
        u_hi = std::max(u_hi, u);
        v_lo = std::min(v_lo, v);
        v_hi = std::max(v_hi, v);
    }
    const auto clamp_to = [](double value, int limit) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(limit)));
    };
    const int u0 = clamp_to(std::floor(u_lo) - 2.0, depth_cols);
    const int u1 = clamp_to(std::ceil(u_hi) + 3.0, depth_cols);
    const int v0 = clamp_to(std::floor(v_lo) - 2.0, depth_rows);
    const int v1 = clamp_to(std::ceil(v_hi) + 3.0, depth_rows);
    w.pixels = cv::Rect(u0, v0, std::max(0, u1 - u0), std::max(0, v1 - v0));
    return w;
}

// Every measured pixel of the window at 25..170 mm above the floor, row by row, each row from left
// to right: those up to 130 mm (blocks and boards, neither the floor nor the deck top) into band,
// the higher ones into upper. Every fourth pixel of a row is looked at first: the row is scanned
// whole only from four pixels before the first of them at those heights to four after the last
// (a row without one, floor only, could hold no more than three pixels of the face).
void window_points(const cv::Mat& depth, const SearchWindow& w, const FloorFrame& f,
                   std::vector<DockPoint>& band, std::vector<DockPoint>& upper)
{
    band.clear();
    upper.clear();
    const int u0 = w.pixels.x;
    const int u1 = w.pixels.x + w.pixels.width;
    const double inverse_fx = 1.0 / camera_model.fx;
    const double hx = f.n.x() * inverse_fx, xx = f.x.x() * inverse_fx, yx = f.y.x() * inverse_fx;
    for (int v = w.pixels.y; v < w.pixels.y + w.pixels.height; ++v) {
        const double b = (v - camera_model.cy) / camera_model.fy;
        // Per unit depth: height, lateral and forward coordinate at column 0, and their slopes.
        const double h0 = f.n.y() * b + f.n.z() - hx * camera_model.cx;
        const double x0 = f.x.y() * b + f.x.z() - xx * camera_model.cx;
        const double y0 = f.y.y() * b + f.y.z() - yx * camera_model.cx;
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        int first = -1, last = -1;
        for (int u = u0; u < u1; u += 4) {
            const double h = row[u] * (hx * u + h0) + f.height;
            if (row[u] != 0 && h >= 25.0 && h <= 170.0) {
                if (first < 0) first = u;
                last = u;
            }
        }
        if (first < 0) continue;
        for (int u = std::max(u0, first - 3); u < std::min(u1, last + 4); ++u) {
            if (row[u] == 0) continue;
            const double d = row[u];
            const double h = d * (hx * u + h0) + f.height;
            if (h < 25.0 || h > 170.0) continue;
            const double x = d * (xx * u + x0);
            const double y = d * (yx * u + y0);
            if (x < w.x_lo || x > w.x_hi || y < w.y_lo || y > w.y_hi) continue;
            // Field by field into place: a whole point built aside and copied in would be read
            // back before its parts had been written, which stalls every store.
            DockPoint& p = (h <= 130.0 ? band : upper).emplace_back();
            p.x = static_cast<float>(x);
            p.y = static_cast<float>(y);
            p.h = static_cast<float>(h);
            p.u = static_cast<std::int16_t>(u);
            p.v = static_cast<std::int16_t>(v);
        }
    }
}

// m . (x, y) = c with m a unit normal pointing away from the camera (c > 0): r = m . p - c is
// > 0 behind the line and < 0 in front of it.
struct Line {
    double mx, my, c;
};

double residual(const Line& line, const DockPoint& p)
{
    return line.mx * static_cast<double>(p.x) + line.my * static_cast<double>(p.y) - line.c;
}

double along(const Line& line, const DockPoint& p)  // to the right along the face
{
    return line.my * static_cast<double>(p.x) - line.mx * static_cast<double>(p.y);
}

Eigen::Vector3d point_on_line(const Line& line, double t, double height)
{
    return {line.c * line.mx + t * line.my, line.c * line.my - t * line.mx, height};
}

bool line_through(const DockPoint& a, const DockPoint& b, Line& line)
{
    const double dx = static_cast<double>(b.x) - a.x;
    const double dy = static_cast<double>(b.y) - a.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    if (length < 150.0) return false;  // too short a base for a direction
    line = {-dy / length, dx / length, 0.0};
    line.c = line.mx * a.x + line.my * a.y;
    if (line.c < 0.0) line = {-line.mx, -line.my, -line.c};
    // A face the camera sees: its normal within 70 degrees of the line of sight.
    const double sight = std::sqrt(static_cast<double>(a.x) * a.x + static_cast<double>(a.y) * a.y);
    return sight > 0.0 && line.c / sight >= 0.3420201433256687;
}

// The nearest well-supported vertical plane: 32 two-point samples, each scored over at most 400
// points by those within 20 mm of its line less those more than 20 mm in front of it (a line
// through the blocks seen through the fork openings has the face in front of it). With half the
// band on the face all 32 miss it in one frame of ten thousand, with 70 % (a pallet square on)
// in one of two thousand million.
bool sample_face_line(const std::vector<DockPoint>& band, std::uint64_t& random, Line& best)
{
    if (band.size() < 20) return false;
    const std::size_t stride = std::max<std::size_t>(1, band.size() / 400);
    const double tau = 20.0;
    long best_score = 0;
    for (int trial = 0; trial < 32; ++trial) {
        Line line{};
        if (!line_through(band[random_index(random, band.size())],
                          band[random_index(random, band.size())], line)) {
            continue;
        }
        long score = 0;
        for (std::size_t i = 0; i < band.size(); i += stride) {
            const double r = residual(line, band[i]);
            score += (std::abs(r) < tau) - (r < -tau);
        }
        if (score > best_score) {
            best_score = score;
            best = line;
        }
    }
    return best_score >= 10;
}

// Robust scale of the residuals within `limit` of the line, over at most 1000 points spread
// through the list: 1.4826 times their median magnitude, 1 mm at least (depths are whole mm).
double residual_scale(const std::vector<DockPoint>& band, const Line& line, double limit,
                      std::vector<double>& magnitudes)
{
    const std::size_t stride = std::max<std::size_t>(1, band.size() / 1000);
    magnitudes.clear();
    for (std::size_t i = 0; i < band.size(); i += stride) {
        const double r = std::abs(residual(line, band[i]));
        if (r < limit) magnitudes.push_back(r);
    }
    if (magnitudes.empty()) return limit;
    return std::max(1.4826 * quantile_of(magnitudes, 0.5), 1.0);
}

// The unit eigenvector of the larger eigenvalue of [[a, b], [b, c]] (a scatter), from the
// better conditioned of its two forms; zero for a scatter of zero.
Eigen::Vector2d major_axis(double a, double b, double c)
{
    const double half = 0.5 * (a - c);
    const double larger = 0.5 * (a + c) + std::sqrt(half * half + b * b);
    const Eigen::Vector2d one(larger - c, b);
    const Eigen::Vector2d other(b, larger - a);
    const Eigen::Vector2d& v = one.squaredNorm() >= other.squaredNorm() ? one : other;
    const double length = std::sqrt(v.squaredNorm());
    return length > 0.0 ? Eigen::Vector2d(v / length) : Eigen::Vector2d::Zero();
}

// Iteratively reweighted least squares with Tukey's biweight from the sampled line: the weighted
// scatter's major axis is the face, its minor axis the normal. The three rounds use every fourth,
// second and every point. Moments are summed in point order about a point of the starting line,
// so that no large coordinates cancel.
Line refine_face_line(const std::vector<DockPoint>& band, Line line, double& scale,
                      std::vector<double>& values)
{
    scale = residual_scale(band, line, 20.0, values);
    const double x0 = line.c * line.mx;
    const double y0 = line.c * line.my;
    for (int round = 0; round < 3; ++round) {
        const std::size_t stride = std::size_t{4} >> round;
        const double inverse_cutoff = 1.0 / (4.685 * scale);
        double sw = 0.0, sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0, syy = 0.0;
        for (std::size_t i = 0; i < band.size(); i += stride) {
            const DockPoint& p = band[i];
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
        if (round < 2) scale = residual_scale(band, line, 4.0 * scale, values);
    }
    return line;
}

// What the face's measurement reads: the band points, the line and its inliers (indices into
// the band, in its row-major order, with their places along the line).
struct Face {
    const std::vector<DockPoint>& band;
    const std::vector<std::uint32_t>& inliers;
    const std::vector<double>& along;
    Line line;
    double inlier_band;
    const DockPoint& point(std::size_t k) const { return band[inliers[k]]; }
};

// Where the ray through the point's row, half a column outwards (towards larger `along` when
// outward > 0), meets the face line: on average the face ends half a pixel beyond the last pixel
// that sees it.
double half_pixel_beyond(const Line& line, const DockPoint& p, double t, const FloorFrame& f,
                         double outward)
{
    double best = t;
    for (const double step : {-0.5, 0.5}) {
        const Eigen::Vector3d ray = pixel_direction(p.v, p.u + step);
        const double rx = f.x.dot(ray);
        const double ry = f.y.dot(ray);
        const double facing = line.mx * rx + line.my * ry;
        if (!(facing > 1e-9)) continue;
        const double s = line.c / facing;
        const double beyond = (line.my * rx - line.mx * ry) * s;
        if ((beyond - best) * outward > 0.0) best = beyond;
    }
    return best;
}

// The longest run of places along the line without a gap of 60 mm (three empty 20 mm bins), and
// the indices of its outermost ones; the face among the points on its line.
struct Extent {
    double left = NAN, right = NAN;
    std::size_t left_index = 0, right_index = 0;
};

Extent run_of(const std::vector<double>& ts)
{
    const double lo = *std::min_element(ts.begin(), ts.end());
    const double hi = *std::max_element(ts.begin(), ts.end());
    const double per_bin = 1.0 / 20.0;  // bins of 20 mm
    std::vector<int> counts(static_cast<std::size_t>((hi - lo) * per_bin) + 1, 0);
    for (const double t : ts) ++counts[static_cast<std::size_t>((t - lo) * per_bin)];
    std::size_t best_first = 0, best_last = 0, best_count = 0;
    std::size_t first = 0, last = 0, count = 0, empty = 0;
    const auto close_run = [&] {
        if (count > best_count) {  // the first of equally full runs stays
            best_count = count;
            best_first = first;
            best_last = last;
        }
        count = 0;
    };
    for (std::size_t b = 0; b < counts.size(); ++b) {
        if (counts[b] == 0) {
            if (++empty == 3) close_run();
            continue;
        }
        if (count == 0) first = b;
        count += static_cast<std::size_t>(counts[b]);
        last = b;
        empty = 0;
    }
    close_run();
    Extent extent{INFINITY, -INFINITY, 0, 0};
    for (std::size_t i = 0; i < ts.size(); ++i) {
        const auto b = static_cast<std::size_t>((ts[i] - lo) * per_bin);
        if (b < best_first || b > best_last) continue;
        if (ts[i] < extent.left) {
            extent.left = ts[i];
            extent.left_index = i;
        }
        if (ts[i] > extent.right) {
            extent.right = ts[i];
            extent.right_index = i;
        }
    }
    return extent;
}

bool at_image_border(const DockPoint& p)
{
    return p.u <= 1 || p.u >= depth_cols - 2;
}

// The inliers within the extent, row by row, each row left to right (the inliers are
// row-major): row r holds index[start[r]] .. index[start[r + 1] - 1].
struct Rows {
    const std::vector<std::uint32_t>& index;
    const std::vector<std::uint32_t>& start;
    std::size_t count() const { return start.size() - 1; }
};

Rows rows_within(const Face& face, const Extent& extent, DockScratch& scratch)
{
    scratch.row_index.clear();
    scratch.row_start.clear();
    int row_v = -1;
    for (std::size_t k = 0; k < face.inliers.size(); ++k) {
        if (face.along[k] < extent.left || face.along[k] > extent.right) continue;
        if (face.point(k).v != row_v) {
            row_v = face.point(k).v;
            scratch.row_start.push_back(static_cast<std::uint32_t>(scratch.row_index.size()));
        }
        scratch.row_index.push_back(static_cast<std::uint32_t>(k));
    }
    scratch.row_start.push_back(static_cast<std::uint32_t>(scratch.row_index.size()));
    return {scratch.row_index, scratch.row_start};
}

// Whether the pixel shows the face plane: a row that leaves the height band ends there without
// reaching the face's end.
bool on_face_plane(const cv::Mat& depth, const FloorFrame& f, const Face& face, int v, int u)
{
    if (u < 0 || u >= depth_cols) return false;
    const std::uint16_t d = depth.at<std::uint16_t>(v, u);
    if (d == 0) return false;
    const Eigen::Vector3d q = floor_of(f, static_cast<double>(d) * pixel_direction(v, u));
    return std::abs(face.line.mx * q.x() + face.line.my * q.y() - face.line.c) < face.inlier_band;
}

// Every row's estimate of either end of the face.
struct RowEdges {
    std::vector<double> left, right;
};

// In each image row that reaches an end of the face (its outermost inlier within a few pixels of
// the extent's, and followed by a pixel off the face plane), that inlier moved half a pixel
// outwards. Rows that end short of it end at a fork opening or at a gap between the deck boards,
// or leave the height band. Each row meets the edge at another phase of its pixel grid, so the
// rows' median is unbiased where neither the last pixel (half a pixel short) nor the extreme over
// all rows (pushed out by the noise) would be.
RowEdges row_edges(const cv::Mat& depth, const Face& face, const Rows& rows, const Extent& extent,
                   const FloorFrame& f)
{
    // Four pixels at the face's distance, and the noise: far less than an end block's 145 mm.
    const double reach = std::max(4.0 * face.line.c / camera_model.fx, 15.0) + face.inlier_band;
    RowEdges edges;
    for (std::size_t r = 0; r < rows.count(); ++r) {
        const std::size_t first = rows.index[rows.start[r]];
        const std::size_t last = rows.index[rows.start[r + 1] - 1];
        const DockPoint& p = face.point(first);
        const DockPoint& q = face.point(last);
        if (face.along[first] < extent.left + reach && !at_image_border(p) &&
            !on_face_plane(depth, f, face, p.v, p.u - 1)) {
            edges.left.push_back(half_pixel_beyond(face.line, p, face.along[first], f, -1.0));
        }
        if (face.along[last] > extent.right - reach && !at_image_border(q) &&
            !on_face_plane(depth, f, face, q.v, q.u + 1)) {
            edges.right.push_back(half_pixel_beyond(face.line, q, face.along[last], f, 1.0));
        }
    }
    return edges;
}

// One opening between two blocks: its ends along the face, and how many rows saw it.
struct Gap {
    double lo, hi;
    std::size_t rows;
};

// Gaps of single rows whose middles lie within 40 mm of each other's are one opening; an opening
// needs three rows and a fifth of the rows of the best-seen one (a run of dropouts is none).
// Its ends are the medians of its rows' ends.
std::vector<Gap> merge_gaps(std::vector<Gap> gaps)
{
    std::stable_sort(gaps.begin(), gaps.end(),
                     [](const Gap& a, const Gap& b) { return a.lo + a.hi < b.lo + b.hi; });
    std::vector<std::pair<std::size_t, std::size_t>> groups;
    std::size_t most = 0;
    for (std::size_t start = 0; start < gaps.size();) {
        std::size_t end = start + 1;
        while (end < gaps.size() &&
               (gaps[end].lo + gaps[end].hi) - (gaps[end - 1].lo + gaps[end - 1].hi) < 80.0) {
            ++end;
        }
        groups.emplace_back(start, end);
        most = std::max(most, end - start);
        start = end;
    }
    std::vector<Gap> openings;
    for (const auto& [start, end] : groups) {
        if (end - start < 3 || 5 * (end - start) < most) continue;
        std::vector<double> los, his;
        for (std::size_t k = start; k < end; ++k) {
            los.push_back(gaps[k].lo);
            his.push_back(gaps[k].hi);
        }
        openings.push_back({median_of(std::move(los)), median_of(std::move(his)), end - start});
    }
    return openings;
}

// The fork openings: in each row the gaps over 100 mm between neighbouring block fronts (30..90 mm
// up; a row's height changes monotonically along it, so such a gap is no band edge), their ends
// moved half a pixel into the gap.
std::vector<Gap> pocket_gaps(const Face& face, const Rows& rows, const FloorFrame& f)
{
    std::vector<Gap> gaps;
    for (std::size_t r = 0; r < rows.count(); ++r) {
        std::size_t previous = SIZE_MAX;
        for (std::size_t j = rows.start[r]; j < rows.start[r + 1]; ++j) {
            const std::size_t k = rows.index[j];
            const DockPoint& p = face.point(k);
            if (p.h < 30.0f || p.h > 90.0f) continue;
            if (previous != SIZE_MAX && face.along[k] - face.along[previous] > 100.0) {
                gaps.push_back({half_pixel_beyond(face.line, face.point(previous),
                                                  face.along[previous], f, 1.0),
                                half_pixel_beyond(face.line, p, face.along[k], f, -1.0), 1});
            }
            previous = k;
        }
    }
    return merge_gaps(std::move(gaps));
}

// The three largest values seen, largest first; -infinity where fewer were seen.
struct TopThree {
    double value[3] = {-INFINITY, -INFINITY, -INFINITY};
    void add(double x)
    {
        if (!(x > value[2])) return;
        value[2] = x;
        if (value[2] > value[1]) std::swap(value[1], value[2]);
        if (value[1] > value[0]) std::swap(value[0], value[1]);
    }
    // The third largest (the two above it may be noise), or the smallest seen; NaN for none.
    double third() const
    {
        for (int k = 2; k >= 0; --k) {
            if (std::isfinite(value[k])) return value[k];
        }
        return NAN;
    }
};

// Lean of the face from the vertical: the slope of the residual against the height over the
// inliers within the extent, in degrees; > 0 when the top lies farther away.
double face_tilt_deg(const Face& face, const Extent& extent)
{
    // One pass, heights about 75 mm (the middle of the band): the sums stay small.
    double n = 0.0, sh = 0.0, sr = 0.0, shh = 0.0, shr = 0.0;
    for (std::size_t k = 0; k < face.inliers.size(); ++k) {
        if (face.along[k] < extent.left || face.along[k] > extent.right) continue;
        const double h = face.point(k).h - 75.0;
        const double r = residual(face.line, face.point(k));
        n += 1.0;
        sh += h;
        sr += r;
        shh += h * h;
        shr += h * r;
    }
    const double spread = shh - sh * sh / n;
    return spread > 0.0 ? degrees(portable_atan2(shr - sh * sr / n, spread)) : NAN;
}

// The top of the face above the floor: the third highest point 100 mm up or more on the line
// within the extent, the deck boards' front ends included. On the line means within 15 mm at
// most: a load on the deck set back 25 mm stays off the face however noisy the sensor.
double face_top(const std::vector<DockPoint>& upper, const Face& face, const Extent& extent)
{
    const double band = std::min(face.inlier_band, 15.0);
    TopThree top;
    for (const std::vector<DockPoint>* points : {&face.band, &upper}) {
        for (const DockPoint& p : *points) {
            if (p.h < 100.0f) continue;
            const double t = along(face.line, p);
            if (std::abs(residual(face.line, p)) < band && t >= extent.left && t <= extent.right) {
                top.add(p.h);
            }
        }
    }
    return top.third();
}

// The top of an opening: the third lowest inlier at 60 mm and more above its middle part (the
// underside of the board across it).
double opening_top(const Face& face, const Rows& rows, const Gap& gap)
{
    TopThree lowest;  // of the negated heights
    for (const std::uint32_t k : rows.index) {
        const double t = face.along[k];
        const DockPoint& p = face.point(k);
        if (t > gap.lo + 20.0 && t < gap.hi - 20.0 && p.h >= 60.0f) lowest.add(-p.h);
    }
    return -lowest.third();
}

// The two openings of a block pallet's face: equally wide (within 40 mm), their middles 527.5 mm
// apart on the 1200 mm side or 327.5 mm on the 800 mm side (within 40 mm).
bool pallet_pockets(const std::vector<Gap>& gaps)
{
    if (gaps.size() != 2) return false;
    const double spacing = (gaps[1].lo + gaps[1].hi) / 2.0 - (gaps[0].lo + gaps[0].hi) / 2.0;
    const double width_difference = (gaps[1].hi - gaps[1].lo) - (gaps[0].hi - gaps[0].lo);
    return std::abs(width_difference) <= 40.0 &&
           std::min(std::abs(spacing - 527.5), std::abs(spacing - 327.5)) <= 40.0;
}

// One standard error (mm) of the centre along the face, from the spread of the rows' estimates of
// what it was taken from; a pixel's footprint divided by the square root of 12 at least.
double centre_uncertainty(const RowEdges& edges, bool from_edges, const std::vector<Gap>& gaps,
                          double pixel_mm)
{
    const double quantisation = pixel_mm / std::sqrt(12.0);
    const auto standard_error = [quantisation](const std::vector<double>& values) {
        const double spread = std::max(robust_spread(values), quantisation);
        return spread / std::sqrt(static_cast<double>(std::max<std::size_t>(values.size(), 1)));
    };
    if (from_edges) {
        const double left = standard_error(edges.left);
        const double right = standard_error(edges.right);
        return 0.5 * std::sqrt(left * left + right * right);
    }
    double sum = 0.0;  // the middle between the pockets: the mean of their four ends
    for (const Gap& gap : gaps) sum += 2.0 * quantisation * quantisation / static_cast<double>(gap.rows);
    return 0.25 * std::sqrt(sum);
}

// Edges, width, centre and pockets; returns the centre's uncertainty along the face (mm). An end
// at the image border is not measured; with the other end seen and both pockets whole, the centre
// is the middle between the pockets (the face is symmetric about it).
double measure_extent(const cv::Mat& depth, const std::vector<DockPoint>& upper, const Face& face,
                      const Extent& extent, const FloorFrame& f, DockScratch& scratch,
                      DockPose& pose)
{
    const Rows rows = rows_within(face, extent, scratch);
    const RowEdges edges = row_edges(depth, face, rows, extent, f);
    double left = median_of(edges.left);
    double right = median_of(edges.right);
    if (at_image_border(face.point(extent.left_index))) left = NAN;
    if (at_image_border(face.point(extent.right_index))) right = NAN;
    pose.face_height_mm = face_top(upper, face, extent);
    const double centre_height = pose.face_height_mm / 2.0;
    const std::vector<Gap> gaps = pocket_gaps(face, rows, f);

    double middle = (left + right) / 2.0;
    const bool from_pockets = std::isnan(left) != std::isnan(right) && pallet_pockets(gaps);
    if (from_pockets) middle = (gaps[0].lo + gaps[0].hi + gaps[1].lo + gaps[1].hi) / 4.0;
    const Line& line = face.line;
    pose.width_mm = right - left;
    pose.left_edge_floor = point_on_line(line, left, centre_height);
    pose.right_edge_floor = point_on_line(line, right, centre_height);
    pose.centre_floor = point_on_line(line, middle, centre_height);
    pose.left_edge_camera = camera_of(f, pose.left_edge_floor);
    pose.right_edge_camera = camera_of(f, pose.right_edge_floor);
    pose.centre_camera = camera_of(f, pose.centre_floor);
    for (const Gap& gap : gaps) {
        DockPocket pocket;
        pocket.offset_mm = (gap.lo + gap.hi) / 2.0 - middle;
        pocket.width_mm = gap.hi - gap.lo;
        pocket.centre_floor =
            point_on_line(line, (gap.lo + gap.hi) / 2.0, opening_top(face, rows, gap) / 2.0);
        pocket.centre_camera = camera_of(f, pocket.centre_floor);
        pose.pockets.push_back(pocket);
    }
    const double pixel_mm = line.c / camera_model.fx;  // a pixel's footprint at the face
    return centre_uncertainty(edges, !from_pockets, gaps, pixel_mm);
}

// The verdict on a measured face and, for a pallet, the confidence: the product of how well the
// face's shape matches a block pallet's and how small the centre's uncertainty is.
void judge(DockPose& pose, double uncertainty_mm)
{
    if (!(std::abs(pose.face_tilt_deg) <= 5.0)) {
        pose.reason = DockReason::face_tilted;
        return;
    }
    if (!std::isfinite(pose.centre_floor.x())) {
        pose.reason = DockReason::face_cut_off;
        return;
    }
    // With both ends seen, the width; with one, twice that end's distance from the centre.
    const double seen = std::isfinite(pose.width_mm)
                            ? pose.width_mm
                            : 2.0 * (std::isfinite(pose.left_edge_floor.x())
                                         ? (pose.centre_floor - pose.left_edge_floor).norm()
                                         : (pose.right_edge_floor - pose.centre_floor).norm());
    const double width_off = std::min(std::abs(seen - 1200.0), std::abs(seen - 800.0));
    if (!(width_off <= 80.0)) {
        pose.reason = DockReason::wrong_width;
        return;
    }
    if (pose.pockets.size() != 2) {
        pose.reason = DockReason::wrong_pockets;
        return;
    }
    pose.verdict = DockVerdict::pallet;
    pose.reason = DockReason::none;

    const bool long_side = std::abs(seen - 1200.0) < std::abs(seen - 800.0);
    const double pocket_offset = long_side ? 263.75 : 163.75;
    const double pocket_width = long_side ? 382.5 : 182.5;
    double pocket_off = 0.0;
    for (std::size_t k = 0; k < 2; ++k) {
        const double expected = k == 0 ? -pocket_offset : pocket_offset;
        pocket_off = std::max(pocket_off, std::abs(pose.pockets[k].offset_mm - expected));
        pocket_off = std::max(pocket_off, std::abs(pose.pockets[k].width_mm - pocket_width));
    }
    // Rational factors, no library exponential: the same bits on every processor.
    const auto factor = [](double x, double scale) { return 1.0 / (1.0 + (x / scale) * (x / scale)); };
    pose.confidence = factor(width_off, 30.0) * factor(pocket_off, 30.0) *
                      factor(pose.face_tilt_deg, 2.0) / (1.0 + uncertainty_mm / 5.0);
}

// The face line, its inliers and everything measured from them.
void measure_face(const cv::Mat& depth, const FloorFrame& f, std::uint64_t& random,
                  DockScratch& scratch, DockPose& pose)
{
    const std::vector<DockPoint>& band = scratch.band;
    pose.face_points = band.size();
    Line line{};
    if (!sample_face_line(band, random, line)) return;
    // The refinement sees every other point of the sampled line's longest run and 150 mm beyond
    // its ends: a box beside the pallet that the line's extension crosses would widen its scale.
    scratch.along.clear();
    for (std::size_t i = 0; i < band.size(); i += 2) {
        if (std::abs(residual(line, band[i])) < 20.0) scratch.along.push_back(along(line, band[i]));
    }
    if (scratch.along.empty()) return;
    const Extent run = run_of(scratch.along);
    scratch.near.clear();
    for (std::size_t i = 0; i < band.size(); i += 2) {
        const double t = along(line, band[i]);
        if (t >= run.left - 150.0 && t <= run.right + 150.0) scratch.near.push_back(band[i]);
    }
    double scale = NAN;
    line = refine_face_line(scratch.near, line, scale, scratch.values);
    const double inlier_band = std::max(3.0 * scale, 4.0);
    scratch.inliers.clear();
    scratch.along.clear();
    for (std::size_t i = 0; i < band.size(); ++i) {
        if (std::abs(residual(line, band[i])) < inlier_band) {
            scratch.inliers.push_back(static_cast<std::uint32_t>(i));
            scratch.along.push_back(along(line, band[i]));
        }
    }
    pose.face_inliers = scratch.inliers.size();
    if (scratch.inliers.size() < 150) return;
    const Face face{band, scratch.inliers, scratch.along, line, inlier_band};
    const Extent extent = run_of(face.along);
    pose.face_found = true;
    pose.face_residual_mm = scale;
    pose.yaw_deg = degrees(portable_atan2(-line.mx, line.my));
    pose.face_distance_mm = line.c;
    pose.face_normal_camera = -(line.mx * f.x + line.my * f.y);
    pose.face_tilt_deg = face_tilt_deg(face, extent);
    judge(pose, measure_extent(depth, scratch.upper, face, extent, f, scratch, pose));
}

}  // namespace

const char* dock_verdict_name(DockVerdict verdict)
{
    return verdict == DockVerdict::pallet ? "pallet" : "no_pallet";
}

const char* dock_reason_name(DockReason reason)
{
    switch (reason) {
    case DockReason::none: return "none";
    case DockReason::no_floor: return "no_floor";
    case DockReason::no_seed: return "no_seed";
    case DockReason::no_face: return "no_face";
    case DockReason::face_tilted: return "face_tilted";
    case DockReason::face_cut_off: return "face_cut_off";
    case DockReason::wrong_width: return "wrong_width";
    case DockReason::wrong_pockets: return "wrong_pockets";
    }
    return "unknown";
}

DockPose measure_dock_pose(const cv::Mat& depth, const FrameAnalysis& analysis,
                           DockScratch& scratch, std::uint64_t seed)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
    DockPose pose;
    std::uint64_t random = seed;
    Plane plane{};
    pose.floor = fit_floor(depth, scratch.floor_points, random, plane);
    if (!pose.floor.found) return pose;
    const FloorFrame f = floor_frame_of(plane.n, plane.height);

    pose.reason = DockReason::no_seed;
    if (analysis.outcome == PalletOutcome::no_contour) return pose;
    const std::size_t measured = seed_points(depth, analysis.pose.face_contour, f, scratch);
    // A contour on the floor (after a tilted fixed floor fit) has next to none at pallet heights.
    const std::size_t seed_count = scratch.seed_x.size();
    if (seed_count < 30 || 20 * seed_count < measured) return pose;

    pose.reason = DockReason::no_face;
    window_points(depth, search_window(scratch, f), f, scratch.band, scratch.upper);
    measure_face(depth, f, random, scratch, pose);
    return pose;
}

DockPose measure_dock_pose(const cv::Mat& depth, const FrameAnalysis& analysis, std::uint64_t seed)
{
    DockScratch scratch;
    return measure_dock_pose(depth, analysis, scratch, seed);
}
