#include "detector_checks.hpp"

#include <cmath>
#include <sstream>

#include "byte_reader.hpp"
#include "frame_generator.hpp"
#include "sim/render.hpp"
#include "sim/sensor_presets.hpp"
#include "stage_inputs.hpp"
#include "tools/eval_detect_scenes.hpp"

namespace {

bool finite(const Eigen::Vector3d& p)
{
    return p.allFinite();
}

bool not_measured(const Eigen::Vector3d& p)
{
    return std::isnan(p.x()) && std::isnan(p.y()) && std::isnan(p.z());
}

// Appends "name" to `wrong` unless ok.
void expect(std::ostringstream& wrong, bool ok, const char* name)
{
    if (!ok) wrong << ' ' << name;
}

void check_floor(std::ostringstream& wrong, const DockFloor& floor)
{
    expect(wrong, floor.found, "floor.found");
    expect(wrong, finite(floor.normal) && std::abs(floor.normal.norm() - 1.0) < 1e-6, "floor.normal");
    expect(wrong, std::isfinite(floor.camera_height_mm), "floor.camera_height_mm");
    expect(wrong, std::isfinite(floor.camera_tilt_deg), "floor.camera_tilt_deg");
    expect(wrong, std::isfinite(floor.camera_roll_deg), "floor.camera_roll_deg");
    expect(wrong, std::isfinite(floor.residual_mm), "floor.residual_mm");
}

void check_pallet(std::ostringstream& wrong, const DockPose& pallet)
{
    check_floor(wrong, pallet.floor);
    expect(wrong, pallet.verdict == DockVerdict::pallet || pallet.verdict == DockVerdict::unknown_type, "verdict");
    expect(wrong, pallet.reason == DockReason::none, "reason");
    expect(wrong, (pallet.verdict == DockVerdict::pallet) == !pallet.type.empty(), "type");
    expect(wrong, pallet.face_found && pallet.face_inliers <= pallet.face_points, "face_found");
    expect(wrong, std::isfinite(pallet.face_residual_mm), "face_residual_mm");
    expect(wrong, std::isfinite(pallet.face_tilt_deg), "face_tilt_deg");
    expect(wrong, std::isfinite(pallet.yaw_deg), "yaw_deg");
    expect(wrong, std::isfinite(pallet.face_distance_mm), "face_distance_mm");
    expect(wrong, finite(pallet.face_normal_camera), "face_normal_camera");
    const bool left = finite(pallet.left_edge_camera) && finite(pallet.left_edge_floor);
    const bool right = finite(pallet.right_edge_camera) && finite(pallet.right_edge_floor);
    expect(wrong, left || (not_measured(pallet.left_edge_camera) && not_measured(pallet.left_edge_floor)),
           "left_edge");
    expect(wrong, right || (not_measured(pallet.right_edge_camera) && not_measured(pallet.right_edge_floor)),
           "right_edge");
    expect(wrong, left && right ? std::isfinite(pallet.width_mm) : std::isnan(pallet.width_mm), "width_mm");
    expect(wrong, std::isfinite(pallet.face_height_mm), "face_height_mm");
    expect(wrong, finite(pallet.centre_camera) && finite(pallet.centre_floor), "centre");
    for (const DockPocket& pocket : pallet.pockets) {
        expect(wrong, std::isfinite(pocket.offset_mm) && std::isfinite(pocket.width_mm), "pocket");
        expect(wrong, finite(pocket.centre_camera) && finite(pocket.centre_floor), "pocket centre");
    }
    expect(wrong, pallet.confidence > 0.0 && pallet.confidence <= 1.0, "confidence");
}

// Frames of the detector's evaluation scenes, rendered once: every pallet model alone, loaded,
// before a backdrop, side by side and cut off by the image edge, scenes without a pallet and the
// working mount, every other one filmed by the time-of-flight sensor model. Editing these instead
// of rendering a scene for each input (the frames target does that) makes an input several times
// cheaper.
const std::vector<cv::Mat>& base_frames()
{
    static const std::vector<cv::Mat> frames = [] {
        std::vector<DetectScene> scenes = detector_scene_set(1, 56);
        for (DetectScene& scene : working_mount_scenes(1, 8)) scenes.push_back(std::move(scene));
        const sim::SensorPreset legacy = sim::sensor_preset("legacy"), tof = sim::sensor_preset("tof");
        std::vector<cv::Mat> rendered;
        for (std::size_t k = 0; k < scenes.size(); ++k)
            rendered.push_back(
                sim::render(sim::with_sensor(scenes[k].scene, k % 2 == 0 ? legacy : tof), scenes[k].seed).depth);
        return rendered;
    }();
    return frames;
}

}  // namespace

cv::Mat generate_detector_frame(const std::uint8_t* data, std::size_t size)
{
    const std::uint8_t kind = size > 0 ? data[0] : 0;
    if (size > 0) {
        ++data;
        --size;
    }
    if (kind >= 200) return generate_band_frame(data, size);
    ByteReader in(data, size);
    if (kind < 128) {
        const std::vector<cv::Mat>& bases = base_frames();
        cv::Mat depth = bases[static_cast<std::size_t>(in.index(static_cast<int>(bases.size())))].clone();
        apply_depth_edits(in, depth, 16);
        return depth;
    }
    const double height = in.between(20.0, 2500.0), pitch = in.between(-60.0, 80.0);
    const double roll = in.between(-90.0, 90.0);
    cv::Mat depth = floor_plane(height, pitch, roll, in.word());
    apply_depth_edits(in, depth, 16);
    return depth;
}

std::string detection_problem(const Detection& detection)
{
    std::ostringstream wrong;
    for (std::size_t k = 0; k < detection.pallets.size(); ++k) {
        std::ostringstream fields;
        check_pallet(fields, detection.pallets[k]);
        if (!fields.str().empty()) wrong << "pallet " << k << ":" << fields.str() << "; ";
    }
    if (!detection.pallets.empty()) {
        std::ostringstream fields;
        check_floor(fields, detection.floor);
        if (!fields.str().empty()) wrong << "detection floor:" << fields.str() << "; ";
    }
    const DockPose dock = dock_of(detection);
    if (detection.pallets.empty() ? dock.verdict != DockVerdict::no_pallet || dock.reason == DockReason::none
                                  : dock.verdict == DockVerdict::no_pallet)
        wrong << "dock_of: verdict " << dock_verdict_name(dock.verdict) << ", reason "
              << dock_reason_name(dock.reason) << " with " << detection.pallets.size() << " pallets; ";
    return wrong.str();
}

std::vector<std::vector<std::uint8_t>> detector_frame_seeds()
{
    std::vector<std::vector<std::uint8_t>> seeds;
    // Each base frame as it is, then a few with edits: a hole over the middle, the lower half at
    // one depth, scattered extreme pixels, everything 1000 mm farther.
    for (int base = 0; base < static_cast<int>(base_frames().size()); ++base)
        seeds.push_back({0, static_cast<std::uint8_t>(base)});
    seeds.push_back({0, 3, 0, 0, 1, 0, 140, 0, 220, 0, 200, 0, 200});
    seeds.push_back({0, 5, 0, 0, 0, 0, 240, 0, 0, 0, 240, 2, 127, 7});
    seeds.push_back({0, 7, 0, 0, 3, 1, 255, 3, 2, 255});
    seeds.push_back({0, 9, 0, 0, 6, 11, 184});
    for (std::vector<std::uint8_t> seed : band_frame_seeds()) {
        seed.insert(seed.begin(), 200);
        seeds.push_back(seed);
    }
    // A floor 195 mm below: 6 degrees up, then rolled 50 degrees; 2.5 m below, looking 60 degrees
    // down; looking 80 degrees up; rolled onto its side; 6 degrees up with edits.
    seeds.push_back({128, 18, 120, 128, 0, 0});
    seeds.push_back({128, 18, 120, 200, 0, 0});
    seeds.push_back({128, 255, 0, 128, 0, 0});
    seeds.push_back({128, 18, 255, 128, 0, 0});
    seeds.push_back({128, 18, 120, 0, 0, 0});
    seeds.push_back({128, 18, 120, 128, 0, 0, 0, 0, 0, 1, 0, 100, 0, 100, 0, 200, 9, 1, 0, 100, 0, 50, 0, 80});
    return seeds;
}
