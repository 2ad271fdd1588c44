// The approach sequences and the mount calibrations, measured against their truth: every frame of
// each sequence (sim/sequences.hpp) rendered, detected, turned into the vehicle frame with the
// sequence's mount and tracked; the calibration scenes' frames calibrated against the known mount.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "analysis/pallet_tracker.hpp"
#include "common/camera_mount.hpp"
#include "sim/sequences.hpp"
#include "tools/calibrate_mount.hpp"

// One truth pallet in one frame of a sequence: where it is and what the detector and the tracks
// made of it (vehicle frame, mm and degrees). NaN where nothing was measured.
struct SequenceSample {
    bool in_view = false;   // its face centre is inside the image
    bool in_range = false;  // and 1 to 3 m ahead of the camera (along the vehicle's x)
    Eigen::Vector3d truth = Eigen::Vector3d::Zero();
    double truth_yaw_deg = 0.0;
    Eigen::Vector3d raw = Eigen::Vector3d::Constant(NAN);       // the detected pallet nearest the
    double raw_yaw_deg = NAN;                                    // truth, within 300 mm
    int track_id = 0;       // the track that detection joined; 0 for none
    Eigen::Vector3d smoothed = Eigen::Vector3d::Constant(NAN);  // that track, or the pallet's last
    double smoothed_yaw_deg = NAN;                               // track while it is held
};

// One sequence as run: for each of its pallets the samples of every frame, in frame order.
struct SequenceRun {
    std::string name;
    std::uint64_t seed = 0;
    double frame_rate = 30.0;
    std::vector<std::vector<SequenceSample>> pallets;
};

// Renders and measures every frame of the sequence; pallets of the detection and tracks as
// pallet_scan --mount --track gives them.
SequenceRun run_sequence(const sim::ApproachSequence& approach, const TrackerSettings& settings = {});

// |error| quantiles per axis x, y, z and of the norm (index 3).
struct ErrorQuantiles {
    std::size_t count = 0;
    double p50[4] = {NAN, NAN, NAN, NAN};
    double p95[4] = {NAN, NAN, NAN, NAN};
};

// One estimate's (raw or smoothed) figures over the in-range samples.
struct EstimateFigures {
    ErrorQuantiles centre;
    double yaw_p50 = NAN;           // |yaw error|, degrees
    double yaw_p95 = NAN;
    // Frame-to-frame jitter: the standard deviation of the error's second difference over three
    // frames in a row (all in range and measured), per axis and as the root of the three
    // variances' sum (index 3). White noise of sigma per axis gives sqrt(6) sigma per axis; an
    // error that changes steadily (a lag that grows with the speed) gives none, one that
    // follows a sudden change of the truth's speed late does.
    double jitter[4] = {NAN, NAN, NAN, NAN};
};

struct SequenceMetrics {
    std::size_t frames_in_range = 0;     // samples in range, every pallet
    std::size_t detected = 0;            // of those, with a raw estimate
    std::size_t tracked = 0;             // with a smoothed one
    EstimateFigures raw, smoothed;
    // The smoothed centre's lag behind the truth: the least-squares delay d (in frames) of
    // error = -d * (truth's motion per frame), over in-range samples moving 100 mm/s at least in
    // the vehicle frame; > 0 behind.
    double lag_frames = NAN;
    std::size_t id_switches = 0;         // a pallet's track in one frame is another than in the
                                         // frame before, the earlier one not dropped in between
    std::size_t lost_tracks = 0;         // a pallet's track dropped while its centre was in view
};

// The figures of the samples of each pallet, each pallet's in frame order.
SequenceMetrics sequence_metrics(const std::vector<std::vector<SequenceSample>>& pallets);

// A calibration against a known mount: 30 floor frames, then with 30 frames of a pallet placed
// square ahead.
struct CalibrationCase {
    std::string name;
    CameraMount mount;
    PalletTarget target;
};

// The cases pallet_eval runs: the sequences' mounts and two more.
std::vector<CalibrationCase> calibration_cases();

struct CalibrationCheck {
    CalibrationCase known;
    MountCalibration floor_only;   // from the floor frames alone
    MountCalibration with_pallet;  // the floor and the pallet frames, with the target
};

// Renders the case's frames (seeds from `seed`) and calibrates.
CalibrationCheck run_calibration(const CalibrationCase& known, std::uint64_t seed, int frames = 30);

// Everything the eval measured of the sequences and calibrations.
struct SequenceEval {
    std::vector<SequenceRun> runs;
    std::vector<SequenceMetrics> metrics;  // per run
    SequenceMetrics overall;               // over every run's samples
    std::vector<CalibrationCheck> calibrations;
};

// The catalogue's sequences, each with `repeats` seeds (the catalogue's, then others), and the
// calibration cases, on `threads` workers; the result does not depend on their number.
SequenceEval evaluate_sequences(int repeats, std::uint64_t base_seed, int threads);

// The Markdown section of the summary: the figures per sequence and overall, the tracking, the
// calibrations.
std::string sequence_summary(const SequenceEval& eval);

// One line per figure for standard output.
std::string sequence_headline(const SequenceEval& eval);

// Writes one plot per catalogue sequence (its first seed) into dir: the raw and the smoothed
// centre error along x and y over the frames (sequence_NAME.png, its data sequence_NAME.dat and
// sequences.gp). False with the reason when gnuplot is missing or fails.
bool write_sequence_plots(const std::string& dir, const SequenceEval& eval, std::vector<std::string>& written,
                          std::string& reason);

struct SequenceFiles {
    std::string summary;
    std::vector<std::string> plots;  // empty when they were skipped
    std::string plots_skipped;       // why
};

// Writes sequence_summary into dir's summary.md (after what it holds when append, else as the
// whole file) and the plots. Throws std::runtime_error when a file cannot be written.
SequenceFiles write_sequence_outputs(const std::string& dir, const SequenceEval& eval, bool append);
