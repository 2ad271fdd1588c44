#include "tools/calibrate_mount.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/detector/floor_fit.hpp"
#include "analysis/vehicle_frame.hpp"

DockFloor calibration_floor(const cv::Mat& depth, DetectorWorkspace& workspace)
{
    std::uint64_t random = DetectorParams{}.seed;
    FloorFrame frame;
    return fit_floor(depth, DetectorParams{}, workspace.floor_points, random, frame);
}

std::vector<DockPose> calibration_pallets(const cv::Mat& depth, DetectorWorkspace& workspace)
{
    return {dock_of(detect_pallets(depth, builtin_pallet_types(), DetectorParams{}, workspace))};
}

void add_calibration_frame(CalibrationFrames& frames, const cv::Mat& depth, const PalletTarget* target,
                           DetectorWorkspace& workspace)
{
    ++frames.frames;
    if (target == nullptr) {
        const DockFloor floor = calibration_floor(depth, workspace);
        if (floor.found) frames.floors.push_back({floor.camera_height_mm, -floor.camera_tilt_deg, floor.camera_roll_deg});
        return;
    }
    const std::vector<DockPose> poses = calibration_pallets(depth, workspace);
    const DockFloor& floor = poses.empty() ? DockFloor{} : poses.front().floor;
    if (!floor.found) return;
    frames.floors.push_back({floor.camera_height_mm, -floor.camera_tilt_deg, floor.camera_roll_deg});
    for (const DockPose& pose : poses) {
        if (pose.verdict != DockVerdict::pallet) continue;
        const CameraPlacement placement =
            camera_placement_from_face(pose.centre_floor, pose.yaw_deg, target->x_mm, target->y_mm);
        frames.pallets.push_back({placement.x_mm, placement.y_mm, placement.yaw_deg});
        break;
    }
}

namespace {

double median_of(std::vector<double> values)
{
    const std::size_t k = (values.size() - 1) / 2;  // the lower middle for an even count
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

Estimate estimate_of(const std::vector<double>& values)
{
    Estimate e;
    if (values.empty()) return e;
    double sum = 0.0;
    for (const double v : values) sum += v;
    const double n = static_cast<double>(values.size());
    e.mean = sum / n;
    if (values.size() < 2) return e;
    double squares = 0.0;
    for (const double v : values) squares += (v - e.mean) * (v - e.mean);
    e.spread = std::sqrt(squares / (n - 1.0));
    e.standard_error = e.spread / std::sqrt(n);
    return e;
}

// The values of a column of the rows.
std::vector<double> column_of(const std::vector<std::vector<double>>& rows, std::size_t c)
{
    std::vector<double> column;
    column.reserve(rows.size());
    for (const std::vector<double>& row : rows) column.push_back(row[c]);
    return column;
}

}  // namespace

Consensus consensus_of(const std::vector<std::vector<double>>& rows, const std::vector<double>& tolerances,
                       double outlier_sigmas)
{
    const std::size_t columns = tolerances.size();
    Consensus consensus;
    consensus.values.resize(columns);
    if (rows.empty()) return consensus;
    std::vector<double> middle(columns);
    std::vector<double> reach(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        const std::vector<double> column = column_of(rows, c);
        middle[c] = median_of(column);
        std::vector<double> deviations;
        deviations.reserve(column.size());
        for (const double v : column) deviations.push_back(std::abs(v - middle[c]));
        reach[c] = std::max(outlier_sigmas * 1.4826 * median_of(deviations), tolerances[c]);
    }
    std::vector<std::vector<double>> kept;
    for (const std::vector<double>& row : rows) {
        bool fits = true;
        for (std::size_t c = 0; c < columns; ++c) fits = fits && std::abs(row[c] - middle[c]) <= reach[c];
        if (fits) kept.push_back(row);
    }
    consensus.kept = kept.size();
    consensus.outliers = rows.size() - kept.size();
    for (std::size_t c = 0; c < columns; ++c) consensus.values[c] = estimate_of(column_of(kept, c));
    return consensus;
}

MountCalibration calibrate_mount(const CalibrationFrames& frames, const PalletTarget* target,
                                 const CameraMount& given)
{
    MountCalibration result;
    result.frames_without_floor = frames.frames - frames.floors.size();
    // Noise alone moves a frame's floor by a fraction of a millimetre and a few thousandths of a
    // degree; a frame is an outlier only when it lies beyond these as well.
    std::vector<std::vector<double>> floor_rows;
    for (const FloorSample& s : frames.floors) floor_rows.push_back({s.z_mm, s.pitch_deg, s.roll_deg});
    result.floor = consensus_of(floor_rows, {1.0, 0.05, 0.05});
    result.mount = given;
    if (result.floor.kept < calibration_min_frames) {
        result.status = CalibrationStatus::no_floor;
        return result;
    }
    result.mount.z_mm = result.floor.values[0].mean;
    result.mount.pitch_deg = result.floor.values[1].mean;
    result.mount.roll_deg = result.floor.values[2].mean;
    if (target != nullptr) {
        result.frames_without_pallet = frames.floors.size() - frames.pallets.size();
        // Yaws near +-180 degrees are unwrapped about the first, so that their mean means something.
        std::vector<std::vector<double>> pallet_rows;
        for (const PalletSample& s : frames.pallets) {
            const double first = frames.pallets.front().yaw_deg;
            pallet_rows.push_back({s.x_mm, s.y_mm, first + wrapped_deg(s.yaw_deg - first)});
        }
        result.pallet = consensus_of(pallet_rows, {5.0, 5.0, 0.1});
        if (result.pallet.kept < calibration_min_frames) {
            result.status = CalibrationStatus::no_pallet;
            return result;
        }
        result.mount.x_mm = result.pallet.values[0].mean;
        result.mount.y_mm = result.pallet.values[1].mean;
        result.mount.yaw_deg = wrapped_deg(result.pallet.values[2].mean);
    }
    result.status = CalibrationStatus::calibrated;
    return result;
}
