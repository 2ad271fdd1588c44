#include "analysis/detector/detect_pallets.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <utility>

#include "analysis/detector/angles.hpp"
#include "analysis/detector/face_extent.hpp"
#include "analysis/detector/floor_fit.hpp"
#include "analysis/detector/short_sort.hpp"
#include "analysis/detector/verdict.hpp"
#include "common/portable_math.hpp"

namespace {

// One candidate measured: its face and verdict, or why it holds none.
// Into a pose fresh from reset_pose.
void measure_candidate(const cv::Mat& depth, const FaceCandidate& candidate, const FloorFrame& f,
                       const std::vector<PalletType>& types, const DetectorParams& params, std::uint64_t& random,
                       DetectorWorkspace& ws, DockPose& pose)
{
    pose.reason = DockReason::no_face;
    FaceFit& fit = ws.fit;
    FaceCandidate seen = candidate;
    double floor_height = 0.0;
    // A face that reaches the window's end may go on beyond it (the scan broke it up, or saw only
    // its blocks on one side of an opening, the board across it being above the scan): once more
    // with the window around all of it, its top's points included.
    for (int pass = 0; pass < 2; ++pass) {
        const FaceWindow window = window_of(seen, f, params);
        floor_height = local_floor_height(depth, window, f, params, ws.values);
        window_points(depth, window, f, floor_height, params, ws.band, ws.upper);
        pose.face_points = ws.band.size();
        if (!fit_face_line(ws.band, ws.upper, seen, f, params, random, ws.line, fit)) return;
        const double reach = params.window_margin_mm / 2.0;
        if (fit.reach_left > window.t_lo + reach && fit.reach_right < window.t_hi - reach) break;
        seen.left = std::min(seen.left, fit.reach_left);
        seen.right = std::max(seen.right, fit.reach_right);
    }
    const Line& line = fit.line;
    pose.face_found = true;
    pose.face_inliers = fit.inliers.size();
    pose.face_residual_mm = fit.scale;
    pose.yaw_deg = degrees(portable_atan2(-line.mx, line.my));
    pose.face_distance_mm = line.c;
    pose.face_normal_camera = -(line.mx * f.x + line.my * f.y);
    rows_of(ws.band, fit, ws.rows);
    face_ends(depth, ws.band, fit, ws.rows, f, ws.values, ws.ends);
    std::vector<Opening>& openings = ws.openings;
    find_openings(ws.band, ws.upper, fit, f, params, ws.opening_scratch, openings);
    openings.erase(std::remove_if(openings.begin(), openings.end(),
                                  [&](const Opening& o) { return opening_occluded(depth, fit, f, o); }),
                   openings.end());
    double lean_error = NAN;
    ws.spans.clear();
    for (const Opening& o : openings) ws.spans.push_back({o.lo, o.hi});
    pose.face_tilt_deg = face_lean_deg(ws.band, fit, ws.spans, lean_error);
    top_heights(ws.band, ws.upper, fit, ws.heights);
    const MeasuredFaceParts parts{ws.band, ws.upper, fit, ws.ends, openings, ws.heights, pose.face_tilt_deg,
                                  lean_error, face_bottom(ws.band, fit, ws.values), floor_height};
    judge_face(parts, types, params, f, ws.verdict, pose);
}

double floor_distance(const DockPose& pose)
{
    return pose.centre_floor.head<2>().norm();
}

// How squarely the face turns to the camera: the cosine between its normal and the line of sight
// to its centre.
double facing(const DockPose& pose)
{
    return pose.face_distance_mm / floor_distance(pose);
}

// The ends of a face in the floor plane. An end that was not measured (cut off, or lost in the
// corner where the pallet's other face meets it) lies across the centre from the measured one, or,
// with neither measured, half the matched type's width to either side of the centre.
// NaN for ends that cannot be placed.
std::array<Eigen::Vector2d, 2> ends_of(const DockPose& pose, const std::vector<PalletType>& types)
{
    const Eigen::Vector2d centre = pose.centre_floor.head<2>();
    const bool left = pose.left_edge_floor.allFinite();
    const bool right = pose.right_edge_floor.allFinite();
    if (left && right) return {pose.left_edge_floor.head<2>(), pose.right_edge_floor.head<2>()};
    if (left || right) {
        const Eigen::Vector2d end = (left ? pose.left_edge_floor : pose.right_edge_floor).head<2>();
        return {end, 2.0 * centre - end};
    }
    const PalletType* type = find_pallet_type(types, pose.type);
    if (type == nullptr || !centre.allFinite()) return {Eigen::Vector2d::Constant(NAN), Eigen::Vector2d::Constant(NAN)};
    const SinCos yaw = portable_sincos_deg(pose.yaw_deg);
    const Eigen::Vector2d along(yaw.cos, yaw.sin);  // left to right; floor X right, Y ahead
    return {centre - 0.5 * type->width_mm * along, centre + 0.5 * type->width_mm * along};
}

// Two faces of one pallet: square to each other, an end of one near an end of the other.
bool one_pallet(const DockPose& a, const DockPose& b, const std::vector<PalletType>& types,
                const DetectorParams& params)
{
    const double cos_between = std::abs(a.face_normal_camera.dot(b.face_normal_camera));
    if (cos_between > cos_deg(90.0 - params.corner_angle_deg)) return false;
    for (const Eigen::Vector2d& p : ends_of(a, types)) {
        for (const Eigen::Vector2d& q : ends_of(b, types)) {
            if ((p - q).norm() < params.corner_mm) return true;
        }
    }
    return false;
}

// The same face found from two candidates: centres close, lines parallel.
bool same_face(const DockPose& a, const DockPose& b)
{
    return (a.centre_floor - b.centre_floor).head<2>().norm() < 150.0 &&
           a.face_normal_camera.dot(b.face_normal_camera) > cos_deg(10.0);
}

// Of two measurements of one face, whether `a` is the better: a matched type before an unknown
// one, then the more points on the face (a candidate that saw only part of it holds fewer).
bool better_measured(const DockPose& a, const DockPose& b)
{
    const bool a_typed = a.verdict == DockVerdict::pallet;
    const bool b_typed = b.verdict == DockVerdict::pallet;
    if (a_typed != b_typed) return a_typed;
    return a.face_inliers > b.face_inliers;
}

// A pose as a default one, its lists' buffers kept.
void reset_pose(DockPose& pose)
{
    std::vector<DockPocket> pockets = std::move(pose.pockets);
    std::string type = std::move(pose.type);
    pose = DockPose{};
    pockets.clear();
    type.clear();
    pose.pockets = std::move(pockets);
    pose.type = std::move(type);
}

// The list sized to n: poses it gives up go to `spare`, and those it needs come from there first,
// so that their buffers outlive a frame with fewer.
void resize_poses(std::vector<DockPose>& poses, std::size_t n, std::vector<DockPose>& spare)
{
    while (poses.size() > n) {
        spare.push_back(std::move(poses.back()));
        poses.pop_back();
    }
    while (poses.size() < n) {
        if (spare.empty()) {
            poses.emplace_back();
        } else {
            poses.push_back(std::move(spare.back()));
            spare.pop_back();
        }
    }
}

// How far off the forward axis a pose lies, seen from above: |x / y|; infinite when not placed.
double off_axis(const DockPose& p)
{
    const Eigen::Vector3d& c = p.centre_floor;
    return std::isfinite(c.x()) && c.y() > 0.0 ? std::abs(c.x() / c.y()) : INFINITY;
}

}  // namespace

void detect_pallets(const cv::Mat& depth, const std::vector<PalletType>& types, const DetectorParams& params,
                    DetectorWorkspace& ws, Detection& detection)
{
    CV_Assert(depth.type() == CV_16UC1 && depth.rows == depth_rows && depth.cols == depth_cols);
    detection.explained = params.explain;
    detection.candidates = 0;
    detection.reason = DockReason::no_floor;
    std::uint64_t random = params.seed;
    FloorFrame f;
    detection.floor = fit_floor(depth, params, ws.floor_points, random, f);
    ws.found.clear();
    ws.rejected.clear();
    std::size_t used = 0;  // poses measured and kept
    if (detection.floor.found) {
        detection.reason = DockReason::no_face;
        std::vector<FaceCandidate>& candidates = ws.candidates;
        find_candidates(depth, f, params, ws.scan, candidates);
        for (std::size_t next = 0; next < candidates.size() && next < 2 * params.max_candidates; ++next) {
            const FaceCandidate candidate = candidates[next];
            if (ws.poses.size() == used) ws.poses.emplace_back();
            DockPose& pose = ws.poses[used];
            reset_pose(pose);
            measure_candidate(depth, candidate, f, types, params, random, ws, pose);
            pose.floor = detection.floor;
            ++detection.candidates;
            // What of the candidate lies beyond its face, on the same line, is a candidate of its
            // own: two pallets side by side with a narrow gap scan as one straight run. Only a
            // stretch shorter than the candidate is one: a face found beyond the candidate's ends
            // (its window reaches past them) would give the candidate back, again and again.
            if (pose.face_found) {
                const double gap = params.run_gap_mm;
                const double length = candidate.right - candidate.left;
                for (auto [lo, hi] : {std::pair{candidate.left, ws.fit.left - gap},
                                      std::pair{ws.fit.right + gap, candidate.right}}) {
                    lo = std::max(lo, candidate.left);
                    hi = std::min(hi, candidate.right);
                    if (hi - lo < params.scan_min_length_mm || hi - lo > length - 1.0) continue;
                    FaceCandidate rest = candidate;
                    rest.left = lo;
                    rest.right = hi;
                    candidates.push_back(rest);
                }
            }
            if (pose.verdict != DockVerdict::no_pallet) {
                ws.found.push_back(used++);
            } else if (params.explain || pose.face_found) {
                ws.rejected.push_back(used++);
            }
        }
    }
    // Nearest first; then a face found twice gives way to its better measurement, and the second
    // face of a pallet to the one turned more squarely to the camera.
    const std::vector<DockPose>& poses = ws.poses;
    std::vector<std::size_t>& found = ws.found;
    stable_sort_short(found.begin(), found.end(), [&](std::size_t a, std::size_t b) {
        return floor_distance(poses[a]) < floor_distance(poses[b]);
    });
    std::vector<char>& dropped = ws.dropped;
    dropped.assign(found.size(), 0);
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (std::size_t j = i + 1; j < found.size() && dropped[i] == 0; ++j) {
            if (dropped[j] != 0) continue;
            const DockPose& a = poses[found[i]];
            const DockPose& b = poses[found[j]];
            if (same_face(a, b)) {
                dropped[better_measured(b, a) ? i : j] = 1;
            } else if (one_pallet(a, b, types, params)) {
                dropped[facing(a) >= facing(b) ? j : i] = 1;
            }
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (dropped[i] == 0 && kept < params.max_pallets) found[kept++] = found[i];
    }
    found.resize(kept);
    resize_poses(detection.pallets, kept, ws.spare);
    for (std::size_t i = 0; i < kept; ++i) detection.pallets[i] = poses[found[i]];
    if (kept > 0) detection.reason = DockReason::none;
    // Without explain only the reason of the candidate nearest the axis is kept, for dock_of.
    std::vector<std::size_t>& rejected = ws.rejected;
    if (!params.explain && rejected.size() > 1) {
        std::size_t nearest = 0;
        for (std::size_t i = 1; i < rejected.size(); ++i) {
            if (off_axis(poses[rejected[i]]) < off_axis(poses[rejected[nearest]])) nearest = i;
        }
        rejected.assign(1, rejected[nearest]);
    }
    resize_poses(detection.rejected, rejected.size(), ws.spare);
    for (std::size_t i = 0; i < rejected.size(); ++i) detection.rejected[i] = poses[rejected[i]];
}

Detection detect_pallets(const cv::Mat& depth, const std::vector<PalletType>& types, const DetectorParams& params,
                         DetectorWorkspace& workspace)
{
    Detection detection;
    detect_pallets(depth, types, params, workspace, detection);
    return detection;
}

Detection detect_pallets(const cv::Mat& depth)
{
    DetectorWorkspace workspace;
    return detect_pallets(depth, builtin_pallet_types(), DetectorParams{}, workspace);
}

void dock_of(const Detection& detection, DockPose& dock)
{
    // The first of the poses least off the axis; null for none.
    const auto nearest_axis = [](const std::vector<DockPose>& poses) {
        const DockPose* best = nullptr;
        for (const DockPose& p : poses) {
            if (best == nullptr || off_axis(p) < off_axis(*best)) best = &p;
        }
        return best;
    };
    if (const DockPose* pallet = nearest_axis(detection.pallets)) {
        dock = *pallet;
        return;
    }
    if (const DockPose* rejected = nearest_axis(detection.rejected)) {
        dock = *rejected;
    } else {
        reset_pose(dock);
        dock.reason = detection.reason;
    }
    dock.floor = detection.floor;
}

DockPose dock_of(const Detection& detection)
{
    DockPose dock;
    dock_of(detection, dock);
    return dock;
}
