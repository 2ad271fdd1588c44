#include "tools/scan_json.hpp"

#include <cmath>

using json = nlohmann::ordered_json;

namespace {

json number(double value)
{
    return std::isfinite(value) ? json(value) : json(nullptr);
}

json point_json(double x, double y, double z)
{
    return json::array({number(x), number(y), number(z)});
}

json vector_json(const Eigen::Vector3d& v)
{
    return point_json(v(0), v(1), v(2));
}

json rotation_json(const Eigen::Matrix3d& R)
{
    json rows = json::array();
    for (int r = 0; r < 3; ++r) rows.push_back(point_json(R(r, 0), R(r, 1), R(r, 2)));
    return rows;
}

json rect_json(const cv::Rect& rect)
{
    return {{"x", rect.x}, {"y", rect.y}, {"width", rect.width}, {"height", rect.height}};
}

json boxes_json(const std::vector<BoxCorners>& boxes)
{
    json all = json::array();
    for (const BoxCorners& box : boxes) {
        json corners = json::array();
        for (const cv::Point2f& corner : box)
            corners.push_back(json::array({number(corner.x), number(corner.y)}));
        all.push_back(corners);
    }
    return all;
}

// Both frames of a point, or null when it was not measured.
json dock_point_json(const Eigen::Vector3d& camera, const Eigen::Vector3d& floor)
{
    if (!camera.allFinite() || !floor.allFinite()) return nullptr;
    return {{"camera", vector_json(camera)}, {"floor", vector_json(floor)}};
}

json dock_floor_json(const DockFloor& floor)
{
    json out;
    out["found"] = floor.found;
    out["normal"] = floor.found ? vector_json(floor.normal) : json(nullptr);
    out["camera_height_mm"] = number(floor.camera_height_mm);
    out["camera_tilt_deg"] = number(floor.camera_tilt_deg);
    out["camera_roll_deg"] = number(floor.camera_roll_deg);
    out["residual_mm"] = number(floor.residual_mm);
    out["inliers"] = floor.inliers;
    return out;
}

json dock_face_json(const DockPose& dock)
{
    const bool found = dock.face_found;
    json out;
    out["found"] = found;
    out["points"] = dock.face_points;
    out["inliers"] = dock.face_inliers;
    out["residual_mm"] = found ? number(dock.face_residual_mm) : json(nullptr);
    out["tilt_deg"] = found ? number(dock.face_tilt_deg) : json(nullptr);
    out["yaw_deg"] = found ? number(dock.yaw_deg) : json(nullptr);
    out["distance_mm"] = found ? number(dock.face_distance_mm) : json(nullptr);
    out["normal"] = found ? vector_json(dock.face_normal_camera) : json(nullptr);
    return out;
}

json dock_pockets_json(const DockPose& dock)
{
    if (!dock.face_found) return nullptr;
    json pockets = json::array();
    for (const DockPocket& pocket : dock.pockets) {
        json one;
        one["offset_mm"] = number(pocket.offset_mm);
        one["width_mm"] = number(pocket.width_mm);
        one["centre"] = dock_point_json(pocket.centre_camera, pocket.centre_floor);
        pockets.push_back(one);
    }
    return pockets;
}

// Adds "vehicle" to the point object at `key` of `object` (null when not measured).
void add_vehicle_point(json& object, const char* key, const Eigen::Vector3d& vehicle)
{
    json& point = object[key];
    if (point.is_object() && vehicle.allFinite()) point["vehicle"] = vector_json(vehicle);
}

json smoothed_json(const TrackedPallet& track, const std::string& frame)
{
    json out;
    out["centre"] = {{frame, vector_json(track.centre)}};
    out["centre_sd_mm"] = {{frame, vector_json(track.centre_sd)}};
    out["yaw_deg"] = number(track.yaw_deg);
    out["yaw_sd_deg"] = number(track.yaw_sd_deg);
    return out;
}

}  // namespace

void add_vehicle_keys(json& pallet, const VehiclePallet& vehicle)
{
    add_vehicle_point(pallet, "left_edge", vehicle.left_edge);
    add_vehicle_point(pallet, "right_edge", vehicle.right_edge);
    add_vehicle_point(pallet, "centre", vehicle.centre);
    json& pockets = pallet["pockets"];
    if (pockets.is_array()) {
        for (std::size_t i = 0; i < pockets.size() && i < vehicle.pocket_centres.size(); ++i)
            add_vehicle_point(pockets[i], "centre", vehicle.pocket_centres[i]);
    }
    pallet["vehicle_yaw_deg"] = number(vehicle.yaw_deg);
}

void add_track_keys(json& pallet, const TrackedPallet& track, const std::string& frame)
{
    pallet["track_id"] = track.track_id;
    pallet["frames_seen"] = track.frames_seen;
    pallet["smoothed"] = smoothed_json(track, frame);
}

json held_track_json(const TrackedPallet& track, const std::string& frame)
{
    json out;
    out["track_id"] = track.track_id;
    out["frames_seen"] = track.frames_seen;
    out["frames_since_seen"] = track.frames_since_seen;
    out["smoothed"] = smoothed_json(track, frame);
    return out;
}

json dock_json(const DockPose& dock, double dock_ms)
{
    json out;
    out["verdict"] = dock_verdict_name(dock.verdict);
    out["type"] = dock.type.empty() ? json(nullptr) : json(dock.type);
    out["reason"] = dock.reason == DockReason::none ? json(nullptr) : json(dock_reason_name(dock.reason));
    out["confidence"] = number(dock.confidence);
    out["floor"] = dock_floor_json(dock.floor);
    out["face"] = dock_face_json(dock);
    out["left_edge"] = dock_point_json(dock.left_edge_camera, dock.left_edge_floor);
    out["right_edge"] = dock_point_json(dock.right_edge_camera, dock.right_edge_floor);
    out["width_mm"] = number(dock.width_mm);
    out["height_mm"] = number(dock.face_height_mm);
    out["centre"] = dock_point_json(dock.centre_camera, dock.centre_floor);
    out["pockets"] = dock_pockets_json(dock);
    out["measure_ms"] = number(dock_ms);
    return out;
}

json frame_record(const std::string& source, std::uint64_t index, const FrameAnalysis& analysis,
                  double analysis_ms, const Detection& detection, double detect_ms)
{
    const PalletPose& pose = analysis.pose;
    const bool has_face = analysis.outcome != PalletOutcome::no_contour;
    const bool found = analysis.outcome == PalletOutcome::pallet_found;
    json record;  // ordered: the keys stay in this order in the output
    record["source"] = source;
    record["index"] = index;
    record["outcome"] = outcome_name(analysis.outcome);
    record["probe_depth"] = analysis.probe_depth;
    record["bounding_rect"] = has_face ? rect_json(pose.bounding_rect) : json(nullptr);
    record["boxes"] = found ? boxes_json(pose.boxes) : json(nullptr);
    record["face_point_count"] = found ? json(pose.face_point_count) : json(nullptr);
    const cv::Point3d& c = pose.centre_point;
    record["centre_point"] = found ? point_json(c.x, c.y, c.z) : json(nullptr);
    record["rotation"] = found ? rotation_json(pose.rotation) : json(nullptr);
    record["yaw_deg"] = found ? number(pose.angles.yaw_deg) : json(nullptr);
    record["pitch_deg"] = found ? number(pose.angles.pitch_deg) : json(nullptr);
    record["roll_deg"] = found ? number(pose.angles.roll_deg) : json(nullptr);
    record["euler_rad"] = found ? vector_json(pose.euler_rad) : json(nullptr);
    record["euler_deg"] = found ? vector_json(pose.euler_deg) : json(nullptr);
    record["analysis_ms"] = number(analysis_ms);
    record["dock"] = dock_json(dock_of(detection), detect_ms);
    json pallets = json::array();
    for (const DockPose& pallet : detection.pallets) pallets.push_back(dock_json(pallet, detect_ms));
    record["pallets"] = pallets;
    if (detection.explained) {
        json rejected = json::array();
        for (const DockPose& face : detection.rejected) rejected.push_back(dock_json(face, detect_ms));
        record["rejected"] = rejected;
    }
    return record;
}

std::string record_line(const json& record)
{
    return record.dump(-1, ' ', false, json::error_handler_t::replace) + '\n';
}
