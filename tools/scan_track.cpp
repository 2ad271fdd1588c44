#include "tools/scan_track.hpp"

#include <cmath>
#include <string>
#include <vector>

#include "analysis/vehicle_frame.hpp"
#include "tools/scan_json.hpp"

using json = nlohmann::ordered_json;

namespace {

// One observation per pallet of the detection, in its order, so that a track's observation
// index is the pallet's index in the record.
std::vector<PalletObservation> observations_of(const Detection& detection,
                                               const std::vector<VehiclePallet>& vehicle)
{
    std::vector<PalletObservation> observations;
    for (std::size_t i = 0; i < detection.pallets.size(); ++i) {
        const DockPose& pose = detection.pallets[i];
        if (vehicle.empty()) observations.push_back({pose.centre_floor, pose.yaw_deg, pose.type});
        else observations.push_back({vehicle[i].centre, vehicle[i].yaw_deg, pose.type});
    }
    return observations;
}

void add_tracks(RecordStep& step, const Detection& detection, const std::vector<VehiclePallet>& vehicle,
                std::uint64_t index, double time_s, json& record)
{
    step.tracker = track_pallets(step.tracker, index, time_s, observations_of(detection, vehicle), step.settings);
    const std::string frame = step.mount ? "vehicle" : "floor";
    json& pallets = record["pallets"];
    json held = json::array();
    for (const TrackedPallet& track : tracked_pallets(step.tracker)) {
        if (track.observation >= 0 && static_cast<std::size_t>(track.observation) < pallets.size()) {
            add_track_keys(pallets[static_cast<std::size_t>(track.observation)], track, frame);
        } else if (track.observation < 0 && track.confirmed) {
            held.push_back(held_track_json(track, frame));
        }
    }
    record["tracks_held"] = held;
}

}  // namespace

bool record_step_active(const RecordStep& step)
{
    return step.mount.has_value() || step.track;
}

void apply_record_step(RecordStep& step, const Detection& detection, std::uint64_t index,
                       std::optional<double> time_s, json& record)
{
    if (!record_step_active(step)) return;
    std::vector<VehiclePallet> vehicle;
    if (step.mount) {
        for (const DockPose& pose : detection.pallets) vehicle.push_back(vehicle_pallet(*step.mount, pose));
        json& pallets = record["pallets"];
        for (std::size_t i = 0; i < vehicle.size() && i < pallets.size(); ++i) add_vehicle_keys(pallets[i], vehicle[i]);
        add_vehicle_keys(record["dock"], vehicle_pallet(*step.mount, dock_of(detection)));
    }
    if (step.track) {
        const double t = time_s ? *time_s : static_cast<double>(index - 1) / nominal_frame_rate;
        add_tracks(step, detection, vehicle, index, t, record);
    }
}
