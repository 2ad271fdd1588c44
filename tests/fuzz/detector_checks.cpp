#include "detector_checks.hpp"

#include <cmath>
#include <sstream>

#include "byte_reader.hpp"
#include "frame_generator.hpp"
#include "stage_inputs.hpp"

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

}  // namespace

cv::Mat generate_detector_frame(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return generate_depth_frame(data, size);
    const std::uint8_t kind = data[0];
    if (kind < 128) return generate_depth_frame(data + 1, size - 1);
    if (kind >= 200) return generate_band_frame(data + 1, size - 1);
    ByteReader in(data + 1, size - 1);
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
    for (std::vector<std::uint8_t> seed : frame_generator_seeds()) {
        seed.insert(seed.begin(), 0);
        seeds.push_back(seed);
    }
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
