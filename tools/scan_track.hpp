// The step pallet_scan applies to each record just before it is written, in input order: the
// pallets in the vehicle frame (--mount) and followed from frame to frame (--track, --camera).
#pragma once

#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/pallet_tracker.hpp"
#include "common/camera_mount.hpp"

// The camera's nominal frame rate: the time between frames that carry no timestamp.
inline constexpr double nominal_frame_rate = 30.0;

struct RecordStep {
    std::optional<CameraMount> mount;  // the vehicle frame's keys, and tracks in that frame
    bool track = false;                // tracks (in the floor frame without a mount)
    TrackerSettings settings;
    TrackerState tracker;              // carried from record to record
};

// True when the step changes records at all.
bool record_step_active(const RecordStep& step);

// Adds the step's keys to the record of the frame whose detection it is (frame_record's, index
// from 1): with a mount, the vehicle frame's keys to "dock" and to each of "pallets"
// (add_vehicle_keys); with tracking, each pallet's track keys (add_track_keys) and "tracks_held",
// the confirmed tracks no pallet of this frame joined. The frame's time is time_s (seconds, from
// the frame's timestamp) or, without one, (index - 1) / nominal_frame_rate. Records must come in
// input order; a record without the step's keys leaves the record as it was, byte for byte.
void apply_record_step(RecordStep& step, const Detection& detection, std::uint64_t index,
                       std::optional<double> time_s, nlohmann::ordered_json& record);
