// One analysed frame as a JSON record.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "analysis/frame_analysis.hpp"

// "no_contour", "no_pallet" or "pallet_found".
std::string outcome_name(PalletOutcome outcome);

// The record of one frame. Keys that the outcome does not define are null: bounding_rect
// except for no_pallet and pallet_found; boxes, face_point_count, centre_point, rotation,
// yaw_deg, pitch_deg, roll_deg, euler_rad and euler_deg except for pallet_found. Every
// non-finite number is null too. rotation is R row by row: rotation[r][c] = R(r, c).
nlohmann::ordered_json frame_record(const std::string& source, std::uint64_t index,
                            const FrameAnalysis& analysis, double analysis_ms);

// The record as one line with its line feed; bytes of the source name that are not UTF-8
// become U+FFFD.
std::string record_line(const nlohmann::ordered_json& record);
