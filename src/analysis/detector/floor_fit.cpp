#include "analysis/detector/floor_fit.hpp"

#include <algorithm>
#include <cmath>

#include <Eigen/Eigenvalues>

#include "analysis/detector/angles.hpp"
#include "common/portable_math.hpp"
#include "common/random.hpp"

namespace {

struct Plane {
    Eigen::Vector3d n;  // unit, pointing up (camera y is down)
    double height;      // n . p + height is the height of p above the plane
};

double plane_distance(const Plane& plane, const Eigen::Vector3d& p)
{
    return plane.n.x() * p.x() + plane.n.y() * p.y() + plane.n.z() * p.z() + plane.height;
}

bool plausible_floor(const Plane& plane, const DetectorParams& params)
{
    const double cos_limit = cos_deg(params.floor_max_tilt_deg);
    return -plane.n.y() >= cos_limit && plane.height > params.floor_min_height_mm &&
           plane.height < params.floor_max_height_mm;
}

// The plane through three points, oriented up; false when they span no plane or no floor.
bool plane_through(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                   const DetectorParams& params, Plane& plane)
{
    Eigen::Vector3d n = (b - a).cross(c - a);
    const double length = n.norm();
    if (!(length > 1e-9)) return false;
    n /= length;
    if (n.y() > 0.0) n = -n;
    plane = {n, -n.dot(a)};
    return plausible_floor(plane, params);
}

// The measured pixels of a grid over the image, camera frame, row by row: `columns` per row
// (NaN where a pixel has no depth, so that a sample's neighbours are found by index).
std::size_t grid_points(const cv::Mat& depth, const DetectorParams& params, std::vector<Eigen::Vector3d>& points)
{
    points.clear();
    std::size_t columns = 0;
    for (int v = params.floor_row_step / 2; v < depth_rows; v += params.floor_row_step) {
        const std::uint16_t* row = depth.ptr<std::uint16_t>(v);
        columns = 0;
        for (int u = params.floor_column_step / 2; u < depth_cols; u += params.floor_column_step, ++columns) {
            points.push_back(row[u] == 0 ? Eigen::Vector3d::Constant(NAN)
                                         : Eigen::Vector3d(static_cast<double>(row[u]) * pixel_direction(v, u)));
        }
    }
    return columns;
}

// A measured grid point within `reach` rows and columns of point `at`; false when the one drawn has
// no depth.
bool nearby(const std::vector<Eigen::Vector3d>& points, std::size_t columns, std::size_t at, int reach,
            std::uint64_t& random, std::size_t& found)
{
    const auto rows = static_cast<long>(points.size() / columns);
    const long r = static_cast<long>(at / columns) + static_cast<long>(random_below(random, 2 * reach + 1)) - reach;
    const long c = static_cast<long>(at % columns) + static_cast<long>(random_below(random, 2 * reach + 1)) - reach;
    if (r < 0 || r >= rows || c < 0 || c >= static_cast<long>(columns)) return false;
    found = static_cast<std::size_t>(r) * columns + static_cast<std::size_t>(c);
    return std::isfinite(points[found].z());
}

// Tukey's weight of a point at distance d from a plane: (1 - (d / band)^2)^2 within the band, else
// 0 (as for a point without depth, whose NaN fails the test).
double weight(double d, double band)
{
    const double x = d / band;
    const double a = 1.0 - x * x;
    return std::abs(d) < band ? a * a : 0.0;
}

// The support of the plane: the sum of the weights of every stride-th point. A plane that lies
// close to many points scores more than one that merely holds them within the band: a floor seen
// over a short strip and a low board at its end both fit in a band tilted a few degrees, but
// only the floor runs through its points.
double support(const std::vector<Eigen::Vector3d>& points, const Plane& plane, double band, std::size_t stride)
{
    double score = 0.0;
    for (std::size_t i = 0; i < points.size(); i += stride) score += weight(plane_distance(plane, points[i]), band);
    return score;
}

// Weighted least squares through the points within `band` of the plane, each weighted by its
// Tukey weight: the least eigenvector of their weighted scatter, whose moments are summed in point
// order about the first inlier (so that no large coordinates cancel). Returns the inlier count (0
// when fewer than three) and their weighted RMS distance from the new plane.
std::size_t refine_plane(const std::vector<Eigen::Vector3d>& points, double band, Plane& plane, double& rms)
{
    bool have_origin = false;
    Eigen::Vector3d origin = Eigen::Vector3d::Zero();
    double s[3] = {0.0, 0.0, 0.0};
    double m[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};  // xx, xy, xz, yy, yz, zz
    std::size_t count = 0;
    double n = 0.0;
    for (const Eigen::Vector3d& p : points) {
        const double w = weight(plane_distance(plane, p), band);
        if (!(w > 0.0)) continue;
        if (!have_origin) {
            origin = p;
            have_origin = true;
        }
        const double x = p.x() - origin.x(), y = p.y() - origin.y(), z = p.z() - origin.z();
        s[0] += w * x;
        s[1] += w * y;
        s[2] += w * z;
        m[0] += w * x * x;
        m[1] += w * x * y;
        m[2] += w * x * z;
        m[3] += w * y * y;
        m[4] += w * y * z;
        m[5] += w * z * z;
        n += w;
        ++count;
    }
    if (count < 3) return 0;
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

// The best plane of `trials` seeded samples, or false when none is a plausible floor.
bool best_plane(const std::vector<Eigen::Vector3d>& points, std::size_t columns, const DetectorParams& params,
                int trials, std::uint64_t& random, Plane& best, double& best_score)
{
    const std::size_t stride = std::max<std::size_t>(1, points.size() / 800);
    best_score = 0.0;
    for (int trial = 0; trial < trials; ++trial) {
        const std::size_t a = static_cast<std::size_t>(random_below(random, points.size()));
        std::size_t b = 0, c = 0;
        if (!std::isfinite(points[a].z()) || !nearby(points, columns, a, 12, random, b) ||
            !nearby(points, columns, a, 12, random, c)) {
            continue;
        }
        Plane candidate{};
        if (!plane_through(points[a], points[b], points[c], params, candidate)) continue;
        const double score = support(points, candidate, params.floor_band_mm, stride);
        if (score > best_score) {
            best_score = score;
            best = candidate;
        }
    }
    return best_score > 0;
}

// Whether many points lie well below the plane: nothing is seen below a floor, so such a plane is
// a deck, a load's top or a step seen from close by.
bool points_below(const std::vector<Eigen::Vector3d>& points, const Plane& plane, double score,
                  const DetectorParams& params)
{
    const std::size_t stride = std::max<std::size_t>(1, points.size() / 800);
    std::size_t below = 0;
    for (std::size_t i = 0; i < points.size(); i += stride) {
        below += plane_distance(plane, points[i]) < -params.floor_lower_plane_mm;
    }
    return static_cast<double>(below) >= params.floor_lower_plane_share * score;
}

}  // namespace

DockFloor fit_floor(const cv::Mat& depth, const DetectorParams& params, std::vector<Eigen::Vector3d>& points,
                    std::uint64_t& random, FloorFrame& frame)
{
    DockFloor floor;
    const std::size_t columns = grid_points(depth, params, points);
    std::size_t measured = 0;
    for (const Eigen::Vector3d& p : points) measured += std::isfinite(p.z());
    if (measured < params.floor_min_inliers || columns == 0) return floor;
    Plane plane{};
    double score = 0.0;
    for (int pass = 0;; ++pass) {
        // Below a plane the points left are few, among many without depth, where a sample starts
        // in vain: sixteen times the samples there.
        const int trials = pass == 0 ? params.floor_trials : 16 * params.floor_trials;
        if (!best_plane(points, columns, params, trials, random, plane, score)) return floor;
        if (pass == 2 || !points_below(points, plane, score, params)) break;
        for (Eigen::Vector3d& p : points) {  // look again below it
            if (!(plane_distance(plane, p) < -params.floor_lower_plane_mm / 2.0)) p = Eigen::Vector3d::Constant(NAN);
        }
    }
    double rms = NAN;
    std::size_t inliers = 0;
    for (int round = 0; round < 3; ++round) {
        inliers = refine_plane(points, params.floor_band_mm, plane, rms);
        if (inliers == 0) return floor;
    }
    if (inliers < params.floor_min_inliers || !plausible_floor(plane, params)) return floor;
    floor.found = true;
    floor.normal = plane.n;
    floor.camera_height_mm = plane.height;
    const double up = std::clamp(plane.n.z(), -1.0, 1.0);
    floor.camera_tilt_deg = degrees(portable_atan2(up, std::sqrt(1.0 - up * up)));
    floor.camera_roll_deg = degrees(portable_atan2(-plane.n.x(), -plane.n.y()));
    floor.residual_mm = rms;
    floor.inliers = inliers;
    frame = floor_frame_of(plane.n, plane.height);
    return floor;
}
