// One analysed frame as a JSON record.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/dock_pose.hpp"
#include "analysis/frame_analysis.hpp"

// The record of one frame. Keys that the outcome does not define are null: bounding_rect
// except for no_pallet and pallet_found; boxes, face_point_count, centre_point, rotation,
// yaw_deg, pitch_deg, roll_deg, euler_rad and euler_deg except for pallet_found. Every
// non-finite number is null too. rotation is R row by row: rotation[r][c] = R(r, c). The last
// key, "dock", is dock_json of the dock measurement.
nlohmann::ordered_json frame_record(const std::string& source, std::uint64_t index,
                            const FrameAnalysis& analysis, double analysis_ms,
                            const DockPose& dock, double dock_ms);

// The dock measurement as one object, every key always present: verdict, reason (null for a
// pallet), confidence, floor, face, left_edge, right_edge, width_mm, height_mm, centre, pockets
// (null without a face) and measure_ms. A point is {"camera": [x, y, z], "floor": [X, Y, Z]};
// what was not measured is null.
nlohmann::ordered_json dock_json(const DockPose& dock, double dock_ms);

// The record as one line with its line feed; bytes of the source name that are not UTF-8
// become U+FFFD.
std::string record_line(const nlohmann::ordered_json& record);
