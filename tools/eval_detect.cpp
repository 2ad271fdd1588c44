#include "tools/eval_detect.hpp"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "sim/intrinsics.hpp"
#include "tools/eval_pool.hpp"
#include "tools/eval_stats.hpp"

namespace {

double wrapped_deg(double deg)
{
    double d = std::fmod(deg, 360.0);
    if (d > 180.0) d -= 360.0;
    if (d <= -180.0) d += 360.0;
    return d;
}

bool in_image(const Eigen::Vector3d& p)
{
    if (!(p.z() > 0.0)) return false;
    const cv::Point2d px = sim::project(p);
    return px.x >= 0.0 && px.x < sim::depth_camera.width && px.y >= 0.0 && px.y < sim::depth_camera.height;
}

// The point's distance ahead of the camera, along the floor (the optical axis laid onto it).
double ahead_mm(const sim::Mount& mount, const Eigen::Vector3d& camera_point)
{
    return (sim::camera_to_floor(mount) * camera_point).y();
}

// A key that sorts by its leading number, then as text.
bool key_before(const std::string& a, const std::string& b)
{
    char* end_a = nullptr;
    char* end_b = nullptr;
    const double na = std::strtod(a.c_str(), &end_a);
    const double nb = std::strtod(b.c_str(), &end_b);
    const bool numbered = end_a != a.c_str() && end_b != b.c_str();
    if (numbered && na != nb) return na < nb;
    return a < b;
}

template <typename Item>
std::vector<std::pair<std::string, std::vector<const Item*>>> sorted_groups(
    std::map<std::string, std::vector<const Item*>> groups)
{
    std::vector<std::pair<std::string, std::vector<const Item*>>> sorted(groups.begin(), groups.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return key_before(a.first, b.first); });
    return sorted;
}

std::string reported_type_of(const DockPose& pose)
{
    return pose.verdict == DockVerdict::unknown_type ? "unknown_type" : pose.type;
}

double opening_error(const DockPose& pose, const sim::FaceTruth& face)
{
    std::vector<double> errors;
    for (const DockPocket& pocket : pose.pockets) {
        double nearest = NAN;
        for (const Eigen::Vector3d& opening : face.opening_centres) {
            const double d = (pocket.centre_camera - opening).norm();
            if (!(nearest <= d)) nearest = d;
        }
        errors.push_back(nearest);
    }
    return quantile(errors, 0.5);
}

void fill_truth(DetectPair& pair, const sim::Truth& truth, const sim::PalletTruth& pallet, const sim::FaceTruth& face)
{
    pair.model = pallet.placement.model;
    pair.true_type = face.type;
    pair.distance_mm = ahead_mm(truth.mount, face.centre);
    pair.yaw_deg = face.yaw_deg;
    pair.true_centre = face.centre;
    pair.true_height_mm = face.height_mm;
    pair.true_openings = face.opening_centres.size();
}

void fill_detection(DetectPair& pair, const DockPose& pose)
{
    pair.reported_type = reported_type_of(pose);
    pair.centre = pose.centre_camera;
    pair.detected_yaw_deg = pose.yaw_deg;
    pair.pockets = pose.pockets.size();
    pair.confidence = pose.confidence;
}

// The view of a pallet: that of its most squarely seen face; a pallet without one is out of view.
FaceView pallet_view(const sim::Truth& truth, const sim::PalletTruth& pallet)
{
    return pallet.faces.empty() ? FaceView::out_of_view : face_view(pallet.faces.front(), truth.floor_normal);
}

}  // namespace

std::vector<FaceMatch> match_detections(const std::vector<DockPose>& detections,
                                        const std::vector<std::vector<sim::FaceTruth>>& pallets, const MatchRule& rule)
{
    std::vector<FaceMatch> candidates;
    for (std::size_t d = 0; d < detections.size(); ++d) {
        for (std::size_t p = 0; p < pallets.size(); ++p) {
            for (std::size_t f = 0; f < pallets[p].size(); ++f) {
                const sim::FaceTruth& face = pallets[p][f];
                const double distance = (detections[d].centre_camera - face.centre).norm();
                const double yaw = wrapped_deg(detections[d].yaw_deg - face.yaw_deg);
                if (distance <= rule.centre_mm && std::abs(yaw) <= rule.yaw_deg) {
                    candidates.push_back({d, p, f, distance, yaw});
                }
            }
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const FaceMatch& a, const FaceMatch& b) {
        return a.centre_distance_mm < b.centre_distance_mm;
    });
    std::vector<bool> detection_used(detections.size(), false);
    std::vector<bool> pallet_used(pallets.size(), false);
    std::vector<FaceMatch> matches;
    for (const FaceMatch& m : candidates) {
        if (detection_used[m.detection] || pallet_used[m.pallet]) continue;
        detection_used[m.detection] = true;
        pallet_used[m.pallet] = true;
        matches.push_back(m);
    }
    return matches;
}

const char* face_view_name(FaceView view)
{
    switch (view) {
    case FaceView::in_view: return "in_view";
    case FaceView::cut_off: return "cut_off";
    case FaceView::out_of_view: return "out_of_view";
    }
    return "";
}

FaceView face_view(const sim::FaceTruth& face, const Eigen::Vector3d& floor_normal)
{
    if (!in_image(face.centre)) return FaceView::out_of_view;
    const Eigen::Vector3d along = floor_normal.cross(face.normal).normalized();
    for (const double a : {-0.5, 0.5}) {
        for (const double h : {-0.5, 0.5}) {
            if (!in_image(face.centre + a * face.width_mm * along + h * face.height_mm * floor_normal)) return FaceView::cut_off;
        }
    }
    return FaceView::in_view;
}

std::vector<DetectPair> pair_frame(const sim::Truth& truth, const std::vector<bool>& counted,
                                   const Detection& detection, const MatchRule& rule)
{
    std::vector<std::vector<sim::FaceTruth>> faces;
    for (const sim::PalletTruth& pallet : truth.pallets) faces.push_back(pallet.faces);
    const std::vector<FaceMatch> matches = match_detections(detection.pallets, faces, rule);
    std::vector<DetectPair> pairs;
    std::vector<bool> matched_detection(detection.pallets.size(), false);
    for (std::size_t p = 0; p < truth.pallets.size(); ++p) {
        const sim::PalletTruth& pallet = truth.pallets[p];
        DetectPair pair;
        pair.pallet = static_cast<int>(p);
        pair.counted = p >= counted.size() || counted[p];
        const auto match = std::find_if(matches.begin(), matches.end(), [p](const FaceMatch& m) { return m.pallet == p; });
        if (match != matches.end()) {
            const DockPose& pose = detection.pallets[match->detection];
            const sim::FaceTruth& face = pallet.faces[match->face];
            matched_detection[match->detection] = true;
            pair.face = static_cast<int>(match->face);
            pair.detection = static_cast<int>(match->detection);
            fill_truth(pair, truth, pallet, face);
            fill_detection(pair, pose);
            pair.centre_error = pose.centre_camera - face.centre;
            pair.yaw_error_deg = match->yaw_error_deg;
            pair.height_error_mm = pose.face_height_mm - face.height_mm;
            pair.opening_error_mm = opening_error(pose, face);
        } else if (!pallet.faces.empty()) {
            pair.face = 0;
            fill_truth(pair, truth, pallet, pallet.faces.front());
        } else {
            pair.model = pallet.placement.model;
        }
        pair.view = pallet_view(truth, pallet);
        pairs.push_back(pair);
    }
    for (std::size_t d = 0; d < detection.pallets.size(); ++d) {
        if (matched_detection[d]) continue;
        const DockPose& pose = detection.pallets[d];
        DetectPair pair;
        pair.detection = static_cast<int>(d);
        pair.counted = false;
        fill_detection(pair, pose);
        pair.distance_mm = pose.centre_floor.y();
        pair.yaw_deg = pose.yaw_deg;
        pairs.push_back(pair);
    }
    return pairs;
}

DetectFrame evaluate_detect_scene(const DetectScene& scene, std::size_t number, const sim::SensorPreset& preset,
                                  const std::vector<PalletType>& types, DetectorWorkspace& workspace)
{
    DetectFrame frame;
    frame.scene = number;
    frame.group = scene.group;
    frame.variant = scene.variant;
    frame.seed = scene.seed;
    frame.noise_level = scene.noise_level;
    frame.mount = scene.scene.mount;
    const sim::Frame rendered = sim::render(sim::with_sensor(scene.scene, preset), scene.seed);
    const Detection detection = detect_pallets(rendered.depth, types, DetectorParams{}, workspace);
    frame.detections = detection.pallets.size();
    frame.pairs = pair_frame(rendered.truth, scene.counted, detection);
    return frame;
}

std::vector<DetectFrame> run_detect_set(const std::vector<DetectScene>& scenes, const sim::SensorPreset& preset,
                                        const std::vector<PalletType>& types, int threads,
                                        const std::function<void(std::size_t, std::size_t)>& progress)
{
    std::vector<DetectFrame> frames(scenes.size());
    const auto make_runner = [&]() -> JobRunner {
        auto workspace = std::make_shared<DetectorWorkspace>();  // each worker its own
        return [&, workspace](std::size_t i) { frames[i] = evaluate_detect_scene(scenes[i], i, preset, types, *workspace); };
    };
    run_jobs(scenes.size(), threads, make_runner, progress);
    return frames;
}

DetectBin summarise_pairs(const std::string& key, const std::vector<const DetectPair*>& pairs,
                          const std::vector<const DetectFrame*>* frames)
{
    DetectBin b;
    b.key = key;
    std::vector<double> centre[3], yaw, opening, height;
    for (const DetectPair* p : pairs) {
        const bool matched = p->pallet >= 0 && p->detection >= 0;
        if (p->pallet < 0) {
            ++b.false_pallets;
            continue;
        }
        if (!p->counted || p->view == FaceView::out_of_view) continue;
        (p->view == FaceView::in_view ? b.faces_in_view : b.faces_cut_off) += 1;
        if (!matched) continue;
        (p->view == FaceView::in_view ? b.found_in_view : b.found_cut_off) += 1;
        ++b.found;
        b.type_right += p->reported_type == p->true_type;
        for (int k = 0; k < 3; ++k) centre[k].push_back(std::abs(p->centre_error(k)));
        yaw.push_back(std::abs(p->yaw_error_deg));
        opening.push_back(p->opening_error_mm);
        height.push_back(std::abs(p->height_error_mm));
    }
    if (frames != nullptr) {
        b.frames = frames->size();
        for (const DetectFrame* f : *frames) {
            const bool pallet_free = std::none_of(f->pairs.begin(), f->pairs.end(), [](const DetectPair& p) { return p.pallet >= 0; });
            if (!pallet_free) continue;
            ++b.pallet_free_frames;
            b.false_in_pallet_free += f->pairs.size();
        }
    }
    for (int k = 0; k < 3; ++k) {
        b.centre_p50[k] = quantile(centre[k], 0.5);
        b.centre_p95[k] = quantile(centre[k], 0.95);
    }
    b.yaw_p50 = quantile(yaw, 0.5);
    b.yaw_p95 = quantile(yaw, 0.95);
    b.opening_p50 = quantile(opening, 0.5);
    b.height_p50 = quantile(height, 0.5);
    b.height_p95 = quantile(height, 0.95);
    return b;
}

DetectBin summarise_frames(const std::string& key, const std::vector<DetectFrame>& frames)
{
    const std::vector<DetectBin> bins = bins_of_frames(frames, [&key](const DetectFrame&) { return key; });
    return bins.empty() ? summarise_pairs(key, {}, nullptr) : bins.front();
}

std::vector<DetectBin> bins_of_pairs(const std::vector<DetectFrame>& frames,
                                     const std::function<std::string(const DetectPair&)>& key)
{
    std::map<std::string, std::vector<const DetectPair*>> groups;
    for (const DetectFrame& f : frames) {
        for (const DetectPair& p : f.pairs) {
            const std::string k = key(p);
            if (!k.empty()) groups[k].push_back(&p);
        }
    }
    std::vector<DetectBin> bins;
    for (const auto& [k, pairs] : sorted_groups(groups)) bins.push_back(summarise_pairs(k, pairs, nullptr));
    return bins;
}

std::vector<DetectBin> bins_of_frames(const std::vector<DetectFrame>& frames,
                                      const std::function<std::string(const DetectFrame&)>& key)
{
    std::map<std::string, std::vector<const DetectFrame*>> groups;
    for (const DetectFrame& f : frames) groups[key(f)].push_back(&f);
    std::vector<DetectBin> bins;
    for (const auto& [k, members] : sorted_groups(groups)) {
        std::vector<const DetectPair*> pairs;
        for (const DetectFrame* f : members) {
            for (const DetectPair& p : f->pairs) pairs.push_back(&p);
        }
        bins.push_back(summarise_pairs(k, pairs, &members));
    }
    return bins;
}

std::string distance_bin(double distance_mm)
{
    if (!std::isfinite(distance_mm)) return "";
    if (distance_mm < 600.0) return "0-0.6 m";
    if (distance_mm < 1000.0) return "0.6-1 m";
    if (distance_mm < 2000.0) return "1-2 m";
    if (distance_mm < 3000.0) return "2-3 m";
    if (distance_mm < 4000.0) return "3-4 m";
    return "4+ m";
}

std::string yaw_bin(double yaw_deg)
{
    if (!std::isfinite(yaw_deg)) return "";
    const double a = std::abs(yaw_deg);
    if (a < 15.0) return "0-15";
    if (a < 30.0) return "15-30";
    if (a <= 45.0) return "30-45";
    return "45+";
}

std::string height_bin(double height_mm)
{
    if (height_mm < 100.0) return "60-100 mm";
    if (height_mm < 200.0) return "100-200 mm";
    if (height_mm < 300.0) return "200-300 mm";
    return "300-400 mm";
}

std::map<std::string, std::map<std::string, std::size_t>> type_confusion(const std::vector<DetectFrame>& frames)
{
    std::map<std::string, std::map<std::string, std::size_t>> table;
    for (const DetectFrame& f : frames) {
        for (const DetectPair& p : f.pairs) {
            if (p.pallet < 0 || !p.counted || p.view == FaceView::out_of_view) continue;
            const std::string truth = p.true_type.empty() ? "(no type)" : p.true_type;
            const std::string reported = p.detection < 0 ? "missed" : p.reported_type.empty() ? "(no type)" : p.reported_type;
            ++table[truth][reported];
        }
    }
    return table;
}
