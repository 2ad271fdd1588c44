// One analysed frame as a JSON record.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/dock_pose.hpp"
#include "analysis/frame_analysis.hpp"
#include "analysis/pallet_tracker.hpp"
#include "analysis/vehicle_frame.hpp"

// The record of one frame. Keys that the outcome does not define are null: bounding_rect
// except for no_pallet and pallet_found; boxes, face_point_count, centre_point, rotation,
// yaw_deg, pitch_deg, roll_deg, euler_rad and euler_deg except for pallet_found. Every
// non-finite number is null too. rotation is R row by row: rotation[r][c] = R(r, c). Then
// "dock", dock_json of the detector's pallet nearest the optical axis (dock_of), and "pallets",
// every pallet the detector found, nearest first, each as dock_json; with the detector's explain
// parameter "rejected" too, the other candidates with the check that failed.
nlohmann::ordered_json frame_record(const std::string& source, std::uint64_t index,
                            const FrameAnalysis& analysis, double analysis_ms,
                            const Detection& detection, double detect_ms);

// One measured face as one object, every key always present: verdict, type (the pallet type's
// name; null without one), reason (null for a pallet or an unknown type), confidence, floor, face,
// left_edge, right_edge, width_mm, height_mm, centre, pockets (null without a face) and
// measure_ms (of the whole detector). A point is {"camera": [x, y, z], "floor": [X, Y, Z]};
// what was not measured is null.
nlohmann::ordered_json dock_json(const DockPose& dock, double dock_ms);

// The vehicle frame's keys added to one object of dock_json: a "vehicle" point beside "camera"
// and "floor" in centre, left_edge, right_edge and each pocket's centre (where those are
// measured), and "vehicle_yaw_deg" after the object's other keys.
void add_vehicle_keys(nlohmann::ordered_json& pallet, const VehiclePallet& vehicle);

// A track's keys added to one object of dock_json: "track_id", "frames_seen" and "smoothed":
// {"centre": {FRAME: [x, y, z]}, "centre_sd_mm": {FRAME: [...]}, "yaw_deg", "yaw_sd_deg"}, FRAME
// the tracker's frame ("vehicle" or "floor").
void add_track_keys(nlohmann::ordered_json& pallet, const TrackedPallet& track, const std::string& frame);

// A track that no pallet of the frame joined: "track_id", "frames_seen", "frames_since_seen" and
// "smoothed" (predicted to the frame's time).
nlohmann::ordered_json held_track_json(const TrackedPallet& track, const std::string& frame);

// The record as one line with its line feed; bytes of the source name that are not UTF-8
// become U+FFFD.
std::string record_line(const nlohmann::ordered_json& record);
