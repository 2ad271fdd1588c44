// Pallets followed from frame to frame: each detected pallet keeps an id, its pose is smoothed by
// a constant-velocity Kalman filter per coordinate, a pallet missed for a few frames is held (its
// uncertainty growing with the time since it was seen) and then dropped.
//
// The tracker works in any frame with z up and yaw counter-clockwise about z seen from above: the
// floor frame (DockPose's centre_floor and yaw_deg) or the vehicle frame (vehicle_frame.hpp).
// Its state is a plain value that the caller keeps and hands back with each frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "analysis/dock_pose.hpp"
#include "common/camera_mount.hpp"

// One pallet as a frame measured it.
struct PalletObservation {
    Eigen::Vector3d centre = Eigen::Vector3d::Constant(NAN);  // the face centre, mm
    double yaw_deg = NAN;                                      // the face's yaw
    std::string type;                                          // its pallet type; empty if unknown
};

struct TrackerSettings {
    double position_sigma_mm = 10.0;          // a measured centre's error per axis (one sigma)
    double yaw_sigma_deg = 1.0;               // a measured yaw's error
    // The filters' process noise: white acceleration of the centre in the floor plane, of its
    // height, and of the yaw. A vehicle at 2 m/s that starts turning at 30 degrees/s past a
    // pallet 4 m ahead leaves the centre less than two frames' motion behind and the yaw about
    // one frame's turn; on the rendered approaches (pallet_eval) 1 m/s^2 keeps the smoothed
    // centre within 15 mm of the truth and its jitter a quarter of the raw centre's, where 2 m/s^2
    // would leave a third.
    double acceleration_sigma_mm_s2 = 1000.0;
    double height_acceleration_sigma_mm_s2 = 500.0;
    double yaw_acceleration_sigma_deg_s2 = 100.0;
    double new_speed_sigma_mm_s = 2500.0;     // a new track's velocity is unknown up to this
    double new_yaw_rate_sigma_deg_s = 60.0;
    // An observation may join a track when its centre lies within gate_sigmas of the predicted
    // one in the floor plane (Mahalanobis, both axes), or within gate_min_mm of it.
    double gate_sigmas = 4.0;
    double gate_min_mm = 300.0;
    int confirm_frames = 3;        // a track is confirmed once seen in this many frames
    int max_missed_frames = 15;    // a confirmed track not seen for more frames is dropped
    int tentative_missed_frames = 2;  // so is an unconfirmed one after this many
};

// A constant-velocity Kalman filter of one coordinate: its value and rate (per second) and their
// covariance.
struct AxisFilter {
    double value = 0.0;
    double rate = 0.0;
    double var_value = 0.0;
    double cov = 0.0;
    double var_rate = 0.0;
};

struct PalletTrack {
    int track_id = 0;
    std::string type;
    std::uint64_t first_frame = 0;
    std::uint64_t last_seen_frame = 0;
    int frames_seen = 0;
    bool confirmed = false;
    int observation = -1;  // the current frame's observation that updated it; -1 for none
    AxisFilter x, y, z, yaw;
};

struct TrackerState {
    std::vector<PalletTrack> tracks;  // by id
    int next_track_id = 1;
    bool started = false;
    std::uint64_t frame_index = 0;    // of the last frame handed in
    double time_s = 0.0;
};

// The tracks after one more frame: every track predicted to time_s, the observations assigned to
// tracks by least total cost among the pairs within the gate (the squared Mahalanobis distance of
// centre and yaw; a type that differs from the track's, both known, never joins), assigned tracks
// updated, the rest held or dropped as the settings say, and each unassigned observation a new
// track. Frame indices count frames (a gap in them counts as missed frames); time_s is in seconds
// and a time that does not advance predicts nothing.
TrackerState track_pallets(TrackerState state, std::uint64_t frame_index, double time_s,
                           const std::vector<PalletObservation>& observations,
                           const TrackerSettings& settings = {});

// What a track says about its pallet, in the observations' frame.
struct TrackedPallet {
    int track_id = 0;
    std::string type;
    int frames_seen = 0;                 // frames in which an observation joined it
    std::uint64_t age_frames = 0;        // frames since it was first seen (0 in that frame)
    std::uint64_t frames_since_seen = 0; // 0 when this frame's observation joined it
    bool confirmed = false;
    int observation = -1;                // this frame's observation that joined it; -1 for none
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();     // smoothed, mm
    Eigen::Vector3d centre_sd = Eigen::Vector3d::Zero();  // its standard deviation per axis
    Eigen::Vector3d velocity = Eigen::Vector3d::Zero();   // mm/s
    double yaw_deg = 0.0;                // smoothed, in (-180, 180]
    double yaw_sd_deg = 0.0;
    double yaw_rate_deg_s = 0.0;
};

// Every track of the state, by id.
std::vector<TrackedPallet> tracked_pallets(const TrackerState& state);

// The pallet verdicts of a frame's poses as observations in the floor frame (centre_floor and
// yaw_deg), in their order.
std::vector<PalletObservation> floor_observations(const std::vector<DockPose>& poses);

// The same in the vehicle frame (vehicle_frame.hpp's vehicle_pallet).
std::vector<PalletObservation> vehicle_observations(const CameraMount& mount,
                                                    const std::vector<DockPose>& poses);
