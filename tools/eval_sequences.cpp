#include "tools/eval_sequences.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "analysis/detector/detect_pallets.hpp"
#include "analysis/pallet_tracker.hpp"
#include "analysis/vehicle_frame.hpp"
#include "sim/render.hpp"
#include "tools/eval_plots.hpp"
#include "tools/eval_stats.hpp"

namespace {

constexpr double match_radius_mm = 300.0;  // a detection this near the truth (floor plane) is it
constexpr double range_near_mm = 1000.0;
constexpr double range_far_mm = 3000.0;

// The detected pallet nearest the truth in the floor plane, within match_radius_mm; -1 for none.
int nearest_detection(const std::vector<VehiclePallet>& detected, const Eigen::Vector3d& truth)
{
    int best = -1;
    double best_distance = match_radius_mm;
    for (std::size_t i = 0; i < detected.size(); ++i) {
        const double distance = (detected[i].centre - truth).head<2>().norm();
        if (distance <= best_distance) {  // false for NaN
            best_distance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}

const TrackedPallet* track_with_id(const std::vector<TrackedPallet>& tracks, int id)
{
    for (const TrackedPallet& t : tracks) {
        if (t.track_id == id) return &t;
    }
    return nullptr;
}

// The frame's sample of one truth pallet; last_track carries the pallet's track from frame to
// frame, so that a held track still gives the smoothed estimate.
SequenceSample sample_of(const sim::PalletInView& truth, double camera_x_mm, const std::vector<VehiclePallet>& detected,
                         const std::vector<TrackedPallet>& tracks, int& last_track)
{
    SequenceSample s;
    s.in_view = truth.centre_in_view;
    const double ahead = truth.centre_vehicle.x() - camera_x_mm;
    s.in_range = s.in_view && ahead >= range_near_mm && ahead <= range_far_mm;
    s.truth = truth.centre_vehicle;
    s.truth_yaw_deg = truth.yaw_vehicle_deg;
    const int j = nearest_detection(detected, truth.centre_vehicle);
    const TrackedPallet* track = nullptr;
    if (j >= 0) {
        s.raw = detected[static_cast<std::size_t>(j)].centre;
        s.raw_yaw_deg = detected[static_cast<std::size_t>(j)].yaw_deg;
        for (const TrackedPallet& t : tracks) {
            if (t.observation == j) track = &t;
        }
    }
    if (track == nullptr && last_track != 0) track = track_with_id(tracks, last_track);
    last_track = track != nullptr ? track->track_id : 0;
    if (track != nullptr) {
        s.track_id = track->track_id;
        s.smoothed = track->centre;
        s.smoothed_yaw_deg = track->yaw_deg;
    }
    return s;
}

ErrorQuantiles error_quantiles(const std::vector<Eigen::Vector3d>& errors)
{
    ErrorQuantiles q;
    q.count = errors.size();
    for (int axis = 0; axis < 4; ++axis) {
        std::vector<double> values;
        for (const Eigen::Vector3d& e : errors) values.push_back(axis < 3 ? std::abs(e(axis)) : e.norm());
        q.p50[axis] = quantile(values, 0.5);
        q.p95[axis] = quantile(values, 0.95);
    }
    return q;
}

// The sample standard deviation of the values (NaN for fewer than two).
double spread_of(const std::vector<double>& values)
{
    if (values.size() < 2) return NAN;
    double mean = 0.0;
    for (const double v : values) mean += v;
    mean /= static_cast<double>(values.size());
    double sum = 0.0;
    for (const double v : values) sum += (v - mean) * (v - mean);
    return std::sqrt(sum / static_cast<double>(values.size() - 1));
}

// The figures of one estimate, its centre and yaw read from each sample by the two members.
EstimateFigures estimate_figures(const std::vector<std::vector<SequenceSample>>& pallets,
                                 Eigen::Vector3d SequenceSample::*centre, double SequenceSample::*yaw)
{
    std::vector<Eigen::Vector3d> errors;
    std::vector<double> yaw_errors;
    EstimateFigures f;
    std::vector<double> changes[3];
    const auto measured = [&](const SequenceSample& s) { return s.in_range && (s.*centre).allFinite(); };
    for (const std::vector<SequenceSample>& samples : pallets) {
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const SequenceSample& s = samples[k];
            if (!measured(s)) continue;
            const Eigen::Vector3d e = s.*centre - s.truth;
            errors.push_back(e);
            yaw_errors.push_back(std::abs(wrapped_deg(s.*yaw - s.truth_yaw_deg)));
            if (k < 2 || !measured(samples[k - 1]) || !measured(samples[k - 2])) continue;
            const Eigen::Vector3d e1 = samples[k - 1].*centre - samples[k - 1].truth;
            const Eigen::Vector3d e2 = samples[k - 2].*centre - samples[k - 2].truth;
            const Eigen::Vector3d second_difference = e - 2.0 * e1 + e2;
            for (int axis = 0; axis < 3; ++axis) changes[axis].push_back(second_difference(axis));
        }
    }
    f.centre = error_quantiles(errors);
    f.yaw_p50 = quantile(yaw_errors, 0.5);
    f.yaw_p95 = quantile(yaw_errors, 0.95);
    double variance = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        f.jitter[axis] = spread_of(changes[axis]);
        variance += f.jitter[axis] * f.jitter[axis];
    }
    f.jitter[3] = std::sqrt(variance);
    return f;
}

// The least-squares lag of the smoothed centre behind the truth, in frames.
double lag_frames_of(const std::vector<std::vector<SequenceSample>>& pallets)
{
    constexpr double min_motion_mm = 100.0 / 30.0;  // per frame: 100 mm/s at 30 frames a second
    double error_along = 0.0;
    double motion_squared = 0.0;
    for (const std::vector<SequenceSample>& samples : pallets) {
        for (std::size_t k = 1; k + 1 < samples.size(); ++k) {
            const SequenceSample& s = samples[k];
            if (!s.in_range || !s.smoothed.allFinite()) continue;
            const Eigen::Vector3d motion = (samples[k + 1].truth - samples[k - 1].truth) / 2.0;  // per frame
            if (motion.norm() < min_motion_mm) continue;
            error_along += (s.smoothed - s.truth).dot(motion);
            motion_squared += motion.squaredNorm();
        }
    }
    return motion_squared > 0.0 ? -error_along / motion_squared : NAN;
}

// Id switches and lost tracks of one pallet's samples.
void count_track_changes(const std::vector<SequenceSample>& samples, SequenceMetrics& m)
{
    int previous = 0;  // the pallet's track in the frame before; 0 for none
    for (const SequenceSample& s : samples) {
        // A new id after frames without a track (the pallet out of view, its track dropped) is
        // no switch: the loss was counted if the pallet was in view.
        if (s.track_id != 0 && previous != 0 && s.track_id != previous) ++m.id_switches;
        if (s.track_id == 0 && previous != 0 && s.in_view) ++m.lost_tracks;
        previous = s.track_id;
    }
}

}  // namespace

SequenceMetrics sequence_metrics(const std::vector<std::vector<SequenceSample>>& pallets)
{
    SequenceMetrics m;
    for (const std::vector<SequenceSample>& samples : pallets) {
        for (const SequenceSample& s : samples) {
            if (!s.in_range) continue;
            ++m.frames_in_range;
            m.detected += s.raw.allFinite();
            m.tracked += s.smoothed.allFinite();
        }
        count_track_changes(samples, m);
    }
    m.raw = estimate_figures(pallets, &SequenceSample::raw, &SequenceSample::raw_yaw_deg);
    m.smoothed = estimate_figures(pallets, &SequenceSample::smoothed, &SequenceSample::smoothed_yaw_deg);
    m.lag_frames = lag_frames_of(pallets);
    return m;
}

SequenceRun run_sequence(const sim::ApproachSequence& approach, const TrackerSettings& settings)
{
    SequenceRun run;
    run.name = approach.name;
    run.seed = approach.seed;
    run.frame_rate = approach.frame_rate;
    run.pallets.resize(approach.pallets.size());
    std::vector<int> last_track(approach.pallets.size(), 0);
    DetectorWorkspace workspace;
    TrackerState tracker;
    const std::uint64_t frames = sequence_frame_count(approach);
    for (std::uint64_t k = 0; k < frames; ++k) {
        const sim::SequenceFrame f = sim::sequence_frame(approach, k);
        const sim::Frame frame = sim::render(f.scene, f.seed);
        const Detection detection = detect_pallets(frame.depth, builtin_pallet_types(), DetectorParams{}, workspace);
        std::vector<VehiclePallet> detected;
        std::vector<PalletObservation> observations;
        for (const DockPose& pose : detection.pallets) {
            detected.push_back(vehicle_pallet(approach.mount, pose));
            observations.push_back({detected.back().centre, detected.back().yaw_deg, pose.type});
        }
        tracker = track_pallets(tracker, k, f.time_s, observations, settings);
        const std::vector<TrackedPallet> tracks = tracked_pallets(tracker);
        for (std::size_t i = 0; i < approach.pallets.size(); ++i)
            run.pallets[i].push_back(sample_of(f.pallets[i], approach.mount.x_mm, detected, tracks, last_track[i]));
    }
    return run;
}

std::vector<CalibrationCase> calibration_cases()
{
    // The pallet 1.3 m ahead of the camera, square to the vehicle.
    const auto with_target = [](const std::string& name, const CameraMount& mount, double lateral_mm) {
        return CalibrationCase{name, mount, PalletTarget{mount.x_mm + 1300.0, lateral_mm}};
    };
    return {with_target("sequences' mount", {-300.0, 0.0, 200.0, 0.0, -6.0, 0.0}, 0.0),
            with_target("two_pallets' mount", {-300.0, 150.0, 200.0, 0.0, -6.0, -2.0}, 0.0),
            with_target("rolled, turned left", {-350.0, 120.0, 230.0, 1.2, -7.5, 3.0}, 0.0),
            with_target("high, steep, rolled right", {-250.0, -80.0, 320.0, -0.8, -10.0, -4.0}, 150.0)};
}

CalibrationCheck run_calibration(const CalibrationCase& known, std::uint64_t seed, int frames)
{
    DetectorWorkspace workspace;
    CalibrationFrames floor_frames;
    const sim::Scene floor = sim::calibration_floor_scene(known.mount);
    for (int k = 0; k < frames; ++k)
        add_calibration_frame(floor_frames, sim::render(floor, seed + static_cast<std::uint64_t>(k)).depth, nullptr,
                              workspace);
    CalibrationFrames all = floor_frames;
    const sim::Scene pallet = sim::calibration_pallet_scene(known.mount, known.target.x_mm, known.target.y_mm);
    for (int k = 0; k < frames; ++k) {
        const std::uint64_t s = seed + 1000 + static_cast<std::uint64_t>(k);
        add_calibration_frame(all, sim::render(pallet, s).depth, &known.target, workspace);
    }
    // The floor frames counted again with the target: they give the floor, no pallet.
    CalibrationCheck check;
    check.known = known;
    check.floor_only = calibrate_mount(floor_frames, nullptr, known.mount);
    check.with_pallet = calibrate_mount(all, &known.target, known.mount);
    return check;
}

SequenceEval evaluate_sequences(int repeats, std::uint64_t base_seed, int threads)
{
    std::vector<sim::ApproachSequence> approaches;
    for (int r = 0; r < repeats; ++r) {
        for (sim::ApproachSequence approach : sim::approach_sequences()) {
            approach.seed += 1000 * (static_cast<std::uint64_t>(r) + base_seed - 1);
            approaches.push_back(approach);
        }
    }
    const std::vector<CalibrationCase> cases = calibration_cases();
    SequenceEval eval;
    eval.runs.resize(approaches.size());
    eval.calibrations.resize(cases.size());
    std::atomic<std::size_t> next{0};
    const std::size_t jobs = approaches.size() + cases.size();
    const auto work = [&] {
        for (std::size_t i = next++; i < jobs; i = next++) {
            if (i < cases.size()) eval.calibrations[i] = run_calibration(cases[i], 7001 + 100 * i + base_seed);
            else eval.runs[i - cases.size()] = run_sequence(approaches[i - cases.size()]);
        }
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < std::max(1, threads); ++t) workers.emplace_back(work);
    for (std::thread& worker : workers) worker.join();

    std::vector<std::vector<SequenceSample>> every;
    for (const SequenceRun& run : eval.runs) {
        eval.metrics.push_back(sequence_metrics(run.pallets));
        every.insert(every.end(), run.pallets.begin(), run.pallets.end());
    }
    eval.overall = sequence_metrics(every);
    return eval;
}

namespace {

std::string figures_row(const std::string& lead, const std::string& estimate, std::size_t frames,
                        const EstimateFigures& f)
{
    std::ostringstream row;
    row << "| " << lead << " | " << estimate << " | " << frames;
    for (const double v : f.centre.p50) row << " | " << cell(v, 1);
    for (const double v : f.centre.p95) row << " | " << cell(v, 1);
    row << " | " << cell(f.yaw_p50, 3) << " | " << cell(f.yaw_p95, 3);
    for (const double v : f.jitter) row << " | " << cell(v, 2);
    row << " |\n";
    return row.str();
}

std::string tracks_row(const std::string& lead, const SequenceMetrics& m)
{
    std::ostringstream row;
    row << "| " << lead << " | " << m.frames_in_range << " | " << percent(m.detected, m.frames_in_range) << " | "
        << percent(m.tracked, m.frames_in_range) << " | " << cell(m.lag_frames, 2) << " | " << m.id_switches
        << " | " << m.lost_tracks << " |\n";
    return row.str();
}

std::string run_name(const SequenceRun& run)
{
    return run.name + " (seed " + std::to_string(run.seed) + ")";
}

// The calibration's value minus the known one, when it calibrated.
double calibration_error(const MountCalibration& c, double CameraMount::*value, const CameraMount& known)
{
    return c.status == CalibrationStatus::calibrated ? c.mount.*value - known.*value : NAN;
}

std::string calibration_row(const CalibrationCheck& c)
{
    const CameraMount& k = c.known.mount;
    std::ostringstream row;
    row << "| " << c.known.name << " (" << short_number(k.x_mm) << ", " << short_number(k.y_mm) << ", "
        << short_number(k.z_mm) << "; roll " << short_number(k.roll_deg) << ", pitch " << short_number(k.pitch_deg)
        << ", yaw " << short_number(k.yaw_deg) << ") | " << c.floor_only.floor.kept << " | "
        << cell(calibration_error(c.floor_only, &CameraMount::z_mm, k), 2) << " | "
        << cell(calibration_error(c.floor_only, &CameraMount::pitch_deg, k), 4) << " | "
        << cell(calibration_error(c.floor_only, &CameraMount::roll_deg, k), 4) << " | " << c.with_pallet.pallet.kept
        << " | " << cell(calibration_error(c.with_pallet, &CameraMount::yaw_deg, k), 4) << " | "
        << cell(calibration_error(c.with_pallet, &CameraMount::x_mm, k), 2) << " | "
        << cell(calibration_error(c.with_pallet, &CameraMount::y_mm, k), 2) << " |\n";
    return row.str();
}

std::size_t runs_without_switch(const SequenceEval& eval)
{
    std::size_t count = 0;
    for (const SequenceMetrics& m : eval.metrics) count += m.id_switches == 0;
    return count;
}

}  // namespace

std::string sequence_summary(const SequenceEval& eval)
{
    std::ostringstream md;
    md << "\n## Approach sequences: the vehicle frame and the tracks\n\n"
       << eval.runs.size() << " sequences (sim/sequences.hpp's catalogue; seeds per sequence: "
       << (eval.runs.size() / std::max<std::size_t>(1, sim::approach_sequences().size()))
       << "): every frame rendered, detected, turned into the vehicle frame with the sequence's mount "
          "and tracked with the tracker's default settings. Errors cover the frames in which a pallet's face "
          "centre is in view 1 to 3 m ahead of the camera: |error| in mm per vehicle axis (x forward, y left, "
          "z up) and of the distance (norm), median and 95th percentile; yaw |error| in degrees; jitter: the "
          "standard deviation of the error's change from one frame to the next, per axis and 3-D (white noise "
          "of sigma per axis gives 1.41 sigma). A smoothed estimate is the track the frame's detection joined, "
          "or the pallet's held track.\n\n"
       << "| sequence | estimate | frames | p50 x | p50 y | p50 z | p50 norm | p95 x | p95 y | p95 z | p95 norm | "
          "yaw p50 | yaw p95 | jitter x | jitter y | jitter z | jitter 3-D |\n"
       << "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (std::size_t i = 0; i < eval.runs.size(); ++i) {
        const SequenceMetrics& m = eval.metrics[i];
        md << figures_row(run_name(eval.runs[i]), "raw", m.detected, m.raw)
           << figures_row(run_name(eval.runs[i]), "smoothed", m.tracked, m.smoothed);
    }
    md << figures_row("all", "raw", eval.overall.detected, eval.overall.raw)
       << figures_row("all", "smoothed", eval.overall.tracked, eval.overall.smoothed);

    md << "\nTracks, over the same frames. Lag: the least-squares delay of the smoothed centre behind the "
          "truth, in frames, from the error along the truth's motion in the vehicle frame (frames where the "
          "pallet moves 100 mm/s at least); > 0 behind. An id switch: a pallet's track in one frame is another "
          "than in the frame before; a lost track: the pallet's track dropped while its centre is in view.\n\n"
       << "| sequence | frames in range | detected | tracked | lag, frames | id switches | lost tracks |\n"
       << "|---|---:|---:|---:|---:|---:|---:|\n";
    for (std::size_t i = 0; i < eval.runs.size(); ++i) md << tracks_row(run_name(eval.runs[i]), eval.metrics[i]);
    md << tracks_row("all", eval.overall);
    md << "\nSequences without an id switch: " << runs_without_switch(eval) << " of " << eval.runs.size() << ".\n";

    md << "\n### Mount calibration against the known mount\n\n"
       << "30 rendered frames of open floor give the height, pitch and roll; with 30 frames of a pallet "
          "placed square 1.3 m ahead of the camera, the yaw, x and y. Errors: calibrated minus known (mm, "
          "degrees).\n\n"
       << "| known mount (x, y, z; roll, pitch, yaw) | floor frames used | height | pitch | roll | pallet "
          "frames used | yaw | x | y |\n"
       << "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const CalibrationCheck& c : eval.calibrations) md << calibration_row(c);
    return md.str();
}

std::string sequence_headline(const SequenceEval& eval)
{
    const SequenceMetrics& m = eval.overall;
    char text[512];
    std::snprintf(text, sizeof text,
                  "sequences (%zu), 1-3 m: centre |error| p50/p95 mm raw %.1f/%.1f, smoothed %.1f/%.1f; "
                  "jitter raw %.2f, smoothed %.2f mm; lag %.2f frames; id switches %zu, lost tracks %zu\n",
                  eval.runs.size(), m.raw.centre.p50[3], m.raw.centre.p95[3], m.smoothed.centre.p50[3],
                  m.smoothed.centre.p95[3], m.raw.jitter[3], m.smoothed.jitter[3], m.lag_frames, m.id_switches,
                  m.lost_tracks);
    std::string lines = text;
    double worst[6] = {0, 0, 0, 0, 0, 0};
    for (const CalibrationCheck& c : eval.calibrations) {
        const CameraMount& k = c.known.mount;
        const double errors[6] = {calibration_error(c.floor_only, &CameraMount::z_mm, k),
                                  calibration_error(c.floor_only, &CameraMount::pitch_deg, k),
                                  calibration_error(c.floor_only, &CameraMount::roll_deg, k),
                                  calibration_error(c.with_pallet, &CameraMount::yaw_deg, k),
                                  calibration_error(c.with_pallet, &CameraMount::x_mm, k),
                                  calibration_error(c.with_pallet, &CameraMount::y_mm, k)};
        for (int i = 0; i < 6; ++i) worst[i] = std::isfinite(errors[i]) ? std::max(worst[i], std::abs(errors[i])) : NAN;
    }
    std::snprintf(text, sizeof text,
                  "calibration (%zu mounts), largest |error|: height %.2f mm, pitch %.4f, roll %.4f, yaw %.4f degrees, "
                  "x %.2f, y %.2f mm\n",
                  eval.calibrations.size(), worst[0], worst[1], worst[2], worst[3], worst[4], worst[5]);
    return lines + text;
}

bool write_sequence_plots(const std::string& dir, const SequenceEval& eval, std::vector<std::string>& written,
                          std::string& reason)
{
    if (!gnuplot_available()) {
        reason = "gnuplot is not installed";
        return false;
    }
    std::ofstream script(dir + "/sequences.gp");
    script << "set terminal pngcairo size 900,700 font 'sans,10'\n"
           << "set datafile missing 'NaN'\n"
           << "set grid\n"
           << "set key outside right\n";
    std::vector<std::string> names;
    for (const SequenceRun& run : eval.runs) {
        if (std::find(names.begin(), names.end(), run.name) != names.end() || run.pallets.empty()) continue;
        names.push_back(run.name);
        Plot plot;
        plot.png = "sequence_" + run.name + ".png";
        plot.title = "Sequence " + run.name + " (seed " + std::to_string(run.seed) +
                     "): centre error of the target pallet, vehicle frame";
        plot.xlabel = "frame";
        plot.data = "sequence_" + run.name + ".dat";
        plot.columns = {"frame", "raw_x", "smoothed_x", "raw_y", "smoothed_y"};
        plot.panels = {{"x error (forward), mm", PlotScale::linear, {{"raw_x", 1, 1, "raw"}, {"smoothed_x", 2, 1, "smoothed"}}},
                       {"y error (left), mm", PlotScale::linear, {{"raw_y", 1, 1, "raw"}, {"smoothed_y", 2, 1, "smoothed"}}}};
        std::ofstream data(dir + "/" + plot.data);
        data << "# frame raw_x smoothed_x raw_y smoothed_y (target pallet, every frame in view)\n";
        const std::vector<SequenceSample>& samples = run.pallets.front();
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const SequenceSample& s = samples[k];
            if (!s.in_view) {
                if (k > 0 && samples[k - 1].in_view) data << '\n';  // a gap in the lines
                continue;
            }
            const Eigen::Vector3d raw = s.raw - s.truth;
            const Eigen::Vector3d smoothed = s.smoothed - s.truth;
            data << k << ' ' << plot_number(raw.x()) << ' ' << plot_number(smoothed.x()) << ' '
                 << plot_number(raw.y()) << ' ' << plot_number(smoothed.y()) << '\n';
        }
        data.close();
        if (!data) throw std::runtime_error("cannot write " + dir + "/" + plot.data);
        script << plot_script(plot);
        written.push_back(plot.png);
    }
    script.close();
    if (!script) throw std::runtime_error("cannot write " + dir + "/sequences.gp");
    for (const std::string& png : written) std::remove((dir + "/" + png).c_str());
    return run_gnuplot(dir, "sequences.gp", reason);
}

SequenceFiles write_sequence_outputs(const std::string& dir, const SequenceEval& eval, bool append)
{
    SequenceFiles files;
    files.summary = dir + "/summary.md";
    std::ofstream summary(files.summary, append ? std::ios::app : std::ios::trunc);
    summary << (append ? "" : "# pallet_eval: approach sequences and mount calibrations\n") << sequence_summary(eval);
    summary.close();
    if (!summary) throw std::runtime_error("cannot write " + files.summary);
    std::vector<std::string> plots;
    if (write_sequence_plots(dir, eval, plots, files.plots_skipped)) files.plots = plots;
    return files;
}
