#include "tools/eval_tables.hpp"

#include <map>
#include <ostream>
#include <set>
#include <string>

#include "tools/eval_stats.hpp"

namespace {

std::string axis_values(const std::vector<SceneResult>& results, double SceneParams::*parameter)
{
    std::set<double> values;
    for (const SceneResult& r : results) values.insert(r.params.*parameter);
    std::string text;
    for (const double v : values) text += (text.empty() ? "" : ", ") + short_number(v);
    return text;
}

void write_fixed_head(std::ostream& out, const char* key_name)
{
    out << "| " << key_name << " | scenes | found % | no pallet % | no contour % "
        << "| x p50 | x p95 | y p50 | y p95 | z p50 | z p95 | centre misses | centre 0,0,0 "
        << "| normal p50 | normal p95 |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void write_fixed_row(std::ostream& out, const std::string& key, const BinSummary& b)
{
    out << "| " << key << " | " << b.scenes << " | " << percent(b.found, b.scenes) << " | "
        << percent(b.no_pallet, b.scenes) << " | " << percent(b.no_contour, b.scenes);
    for (int k = 0; k < 3; ++k) out << " | " << cell(b.centre_abs_p50[k]) << " | " << cell(b.centre_abs_p95[k]);
    out << " | " << b.centre_misses << " | " << b.zero_centres << " | " << cell(b.normal_p50, 2) << " | " << cell(b.normal_p95, 2)
        << " |\n";
}

void write_angle_lines(std::ostream& out, const std::vector<SceneResult>& results)
{
    std::vector<double> pallet_yaw, camera_pitch, yaw_line, pitch_line, roll_line_turned;
    std::vector<double> yaw_error, pitch_error, roll_error, yaw_vs_pallet;
    for (const SceneResult& r : results) {
        const SceneComparison& c = r.comparison;
        if (c.outcome != PalletOutcome::pallet_found) continue;
        pallet_yaw.push_back(r.params.yaw_deg);
        camera_pitch.push_back(r.params.pitch_deg);
        yaw_line.push_back(c.reported.yaw_deg);
        pitch_line.push_back(c.reported.pitch_deg);
        roll_line_turned.push_back(wrap_deg(c.reported.roll_deg + 180.0));
        yaw_error.push_back(std::abs(c.error.yaw_deg));
        pitch_error.push_back(std::abs(c.error.pitch_deg));
        roll_error.push_back(std::abs(c.error.roll_deg));
        yaw_vs_pallet.push_back(std::abs(c.yaw_line_vs_pallet_deg));
    }
    const Trend yaw_trend = trend(pallet_yaw, yaw_line);
    const Trend pitch_trend = trend(pallet_yaw, pitch_line);
    const Trend roll_trend = trend(camera_pitch, roll_line_turned);
    out << "| line | compared with | slope | correlation | abs. error vs rule p50 | p95 |\n"
        << "|---|---|---:|---:|---:|---:|\n"
        << "| yaw | pallet yaw | " << cell(yaw_trend.slope, 3) << " | " << cell(yaw_trend.correlation, 3)
        << " | " << cell(quantile(yaw_error, 0.5), 2) << " | " << cell(quantile(yaw_error, 0.95), 2) << " |\n"
        << "| pitch | pallet yaw | " << cell(pitch_trend.slope, 3) << " | "
        << cell(pitch_trend.correlation, 3) << " | " << cell(quantile(pitch_error, 0.5), 2) << " | "
        << cell(quantile(pitch_error, 0.95), 2) << " |\n"
        << "| roll + 180 | camera tilt | " << cell(roll_trend.slope, 3) << " | "
        << cell(roll_trend.correlation, 3) << " | " << cell(quantile(roll_error, 0.5), 2) << " | "
        << cell(quantile(roll_error, 0.95), 2) << " |\n\n"
        << "Median |yaw line - pallet yaw|: " << cell(quantile(yaw_vs_pallet, 0.5), 2)
        << " degrees, 95th percentile " << cell(quantile(yaw_vs_pallet, 0.95), 2) << " degrees.\n";
}

std::vector<const SceneResult*> select(const std::vector<SceneResult>& results,
                                       bool (*keep)(const SceneResult&))
{
    std::vector<const SceneResult*> chosen;
    for (const SceneResult& r : results) {
        if (keep(r)) chosen.push_back(&r);
    }
    return chosen;
}

void write_dock_head(std::ostream& out, const char* key_name)
{
    out << "| " << key_name << " | scenes | pallet % | false | x p50 | x p95 | y p50 | y p95 | z p50 "
        << "| z p95 | yaw p50 | yaw p95 | pocket p50 | pocket p95 | width p50 | confidence p50 |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void write_dock_row(std::ostream& out, const std::string& key, const DockBin& b)
{
    out << "| " << key << " | " << b.scenes << " | " << percent(b.pallets, b.scenes) << " | "
        << b.false_pallets;
    for (int k = 0; k < 3; ++k) out << " | " << cell(b.centre_p50[k]) << " | " << cell(b.centre_p95[k]);
    out << " | " << cell(b.yaw_p50, 3) << " | " << cell(b.yaw_p95, 3) << " | " << cell(b.pocket_p50)
        << " | " << cell(b.pocket_p95) << " | " << cell(b.width_p50) << " | "
        << cell(b.confidence_p50, 3) << " |\n";
}

void write_floor_head(std::ostream& out)
{
    out << "| scenes of | lateral p50 | lateral p95 | forward p50 | forward p95 | height p50 "
           "| height p95 |\n"
        << "|---|---:|---:|---:|---:|---:|---:|\n";
}

void write_floor_row(std::ostream& out, const std::string& key, const DockBin& b)
{
    out << "| " << key;
    for (int k = 0; k < 3; ++k) out << " | " << cell(b.floor_p50[k]) << " | " << cell(b.floor_p95[k]);
    out << " |\n";
}

// The ranges the summary reports on their own, in order.
struct Range {
    const char* name;
    bool (*keep)(const SceneResult&);
};

const Range ranges[] = {
    {"working envelope: 200 mm, 4-8 deg, noise 0-1, 1.0-2.0 m, lateral and yaw as swept",
     [](const SceneResult& r) { return in_working_envelope(r.params); }},
    {"the same at noise level 2",
     [](const SceneResult& r) {
         const SceneParams& p = r.params;
         return in_working_mount(p) && p.noise_level == 2.0 && p.distance_mm >= 1000.0 &&
                p.distance_mm <= 2000.0;
     }},
    {"working mount, noise 0-1, 0.75 m",
     [](const SceneResult& r) {
         return in_working_mount(r.params) && r.params.noise_level <= 1.0 && r.params.distance_mm == 750.0;
     }},
    {"working mount, noise 0-1, 2.5 m",
     [](const SceneResult& r) {
         return in_working_mount(r.params) && r.params.noise_level <= 1.0 && r.params.distance_mm == 2500.0;
     }},
    {"camera 250 mm high, noise 0-1, 1.0-2.0 m",
     [](const SceneResult& r) {
         const SceneParams& p = r.params;
         return p.height_mm == 250.0 && p.noise_level <= 1.0 && p.distance_mm >= 1000.0 &&
                p.distance_mm <= 2000.0;
     }},
    {"every pallet scene", [](const SceneResult&) { return true; }},
};

void write_ranges(std::ostream& out, const std::vector<SceneResult>& results)
{
    write_dock_head(out, "scenes of");
    for (const Range& range : ranges) {
        write_dock_row(out, range.name, summarise_dock(select(results, range.keep), 0.0));
    }
    out << "\nThe same scenes' centre errors in the floor frame (the truth's: below the camera, X "
           "right, Y forward, Z up), mm:\n\n";
    write_floor_head(out);
    for (const Range& range : ranges) {
        write_floor_row(out, range.name, summarise_dock(select(results, range.keep), 0.0));
    }
}

void write_no_pallet(std::ostream& out, const std::vector<SceneResult>& results,
                     const std::vector<SceneResult>& empty)
{
    std::size_t empty_no = 0, empty_found = 0;
    for (const SceneResult& r : empty) {
        empty_no += r.dock.verdict == DockVerdict::no_pallet;
        empty_found += r.comparison.outcome == PalletOutcome::pallet_found;
    }
    std::size_t floor_only = 0, floor_only_no = 0, reaching = 0, reaching_no = 0, reaching_right = 0;
    for (const SceneResult& r : results) {
        if (!fixed_analysis_took_floor(r)) continue;
        const bool holds_pallet = r.dock.contour_pallet_share >= 0.01;
        const bool no = r.dock.verdict == DockVerdict::no_pallet;
        if (holds_pallet) {
            ++reaching;
            reaching_no += no;
            reaching_right += !no && !false_pallet(r);
        } else {
            ++floor_only;
            floor_only_no += no;
        }
    }
    out << "| frames | scenes | fixed analysis: pallet found | verdict no pallet % | verdict pallet, "
           "on the real pallet |\n|---|---:|---:|---:|---:|\n"
        << "| the floor alone (every camera height, tilt and noise level) | " << empty.size()
        << " | " << empty_found << " | " << percent(empty_no, empty.size())
        << " | - |\n"
        << "| fixed analysis takes the floor for the pallet, its contour without the pallet (under 1 % "
           "of its pixels) | "
        << floor_only << " | " << floor_only << " | " << percent(floor_only_no, floor_only) << " | - |\n"
        << "| fixed analysis takes the floor for the pallet, its contour reaching the pallet | "
        << reaching << " | " << reaching << " | " << percent(reaching_no, reaching) << " | "
        << reaching_right << " |\n";
}

void write_reasons(std::ostream& out, const std::vector<SceneResult>& results)
{
    std::map<int, std::size_t> all, envelope;
    for (const SceneResult& r : results) {
        ++all[static_cast<int>(r.dock.reason)];
        if (in_working_envelope(r.params)) ++envelope[static_cast<int>(r.dock.reason)];
    }
    out << "| reason | every pallet scene | working envelope |\n|---|---:|---:|\n";
    for (const auto& [reason, count] : all) {
        out << "| " << dock_reason_name(static_cast<DockReason>(reason)) << " | " << count << " | "
            << envelope[reason] << " |\n";
    }
}

void write_calibration(std::ostream& out, const std::vector<SceneResult>& results)
{
    out << "| confidence | pallets | centre distance p50 | p95 | yaw p50 | yaw p95 |\n"
        << "|---|---:|---:|---:|---:|---:|\n";
    for (const ConfidenceBin& b : confidence_bins(results)) {
        out << "| " << cell(b.lo, 1) << " - " << cell(b.hi, 1) << " | " << b.count << " | "
            << cell(b.centre_p50, 2) << " | " << cell(b.centre_p95, 2) << " | " << cell(b.yaw_p50, 3)
            << " | " << cell(b.yaw_p95, 3) << " |\n";
    }
}

// The axes that get a table of their own, in order.
struct SummaryAxis {
    const char* title;
    const char* key;
    double SceneParams::*parameter;
};
const SummaryAxis summary_axes[] = {{"By distance (mm)", "distance", &SceneParams::distance_mm},
                                    {"By pallet yaw (degrees)", "yaw", &SceneParams::yaw_deg},
                                    {"By lateral offset (mm)", "lateral", &SceneParams::lateral_mm},
                                    {"By camera height (mm)", "height", &SceneParams::height_mm},
                                    {"By camera tilt (degrees)", "tilt", &SceneParams::pitch_deg},
                                    {"By noise level", "noise", &SceneParams::noise_level}};

// A table per axis, a row per value, then the table by fork openings (with returns, without).
template <typename Bin>
void write_axis_tables(std::ostream& out, const std::vector<SceneResult>& results, const std::string& prefix,
                       const std::string& openings_title,
                       Bin (*summarise_bin)(const std::vector<const SceneResult*>&, double),
                       void (*head)(std::ostream&, const char*),
                       void (*row)(std::ostream&, const std::string&, const Bin&))
{
    for (const SummaryAxis& axis : summary_axes) {
        out << "\n## " << prefix << axis.title << "\n\n";
        head(out, axis.key);
        for (const Bin& b : bins_by(results, axis.parameter, summarise_bin)) row(out, short_number(b.key), b);
    }
    out << "\n## " << openings_title << "\n\n";
    head(out, "openings");
    std::vector<const SceneResult*> returns, no_returns;
    for (const SceneResult& r : results) (r.params.cavity_no_return ? no_returns : returns).push_back(&r);
    if (!returns.empty()) row(out, "return depth", summarise_bin(returns, 0.0));
    if (!no_returns.empty()) row(out, "no return", summarise_bin(no_returns, 1.0));
}

}  // namespace

void write_summary(std::ostream& out, const std::vector<SceneResult>& results, std::uint64_t base_seed,
                   const std::vector<SceneResult>& empty)
{
    out << "# Pose accuracy against rendered ground truth\n\n"
        << results.size() << " scenes, base seed " << base_seed << ". Axes: distance "
        << axis_values(results, &SceneParams::distance_mm) << " mm; pallet yaw "
        << axis_values(results, &SceneParams::yaw_deg) << " degrees; lateral "
        << axis_values(results, &SceneParams::lateral_mm) << " mm; camera height "
        << axis_values(results, &SceneParams::height_mm) << " mm; camera tilt "
        << axis_values(results, &SceneParams::pitch_deg) << " degrees; noise level "
        << axis_values(results, &SceneParams::noise_level) << "; fork openings with and/or without "
        << "returns as swept.\n\n"
        << "Centre columns: |reported centre point - true face centre| per camera axis (x right, "
           "y down, z forward), median (p50) and 95th percentile (p95) in mm, over the scenes "
           "where a pallet was found. Centre misses: found scenes whose centre pixel is not on "
           "the face. Centre 0,0,0: found scenes whose centre pixel has no depth, so that the "
           "reported centre point is (0, 0, 0). Normal: angle in degrees between the fitted face normal (the last row of R) "
           "and the true outward normal of the face.\n\n";
    out << "## All scenes\n\n";
    write_fixed_head(out, "bin");
    write_fixed_row(out, "all", summarise(all_of(results), 0.0));
    write_axis_tables(out, results, "", "By fork openings", summarise, write_fixed_head, write_fixed_row);
    out << "\n## Angle lines\n\n"
        << "Each reported line against the value the same rule gives for the true face normal "
           "(abs. error vs rule), and against the physical quantity it follows (slope and "
           "correlation over the found scenes).\n\n";
    write_angle_lines(out, results);
    write_dock_summary(out, results, empty);
}

void write_dock_summary(std::ostream& out, const std::vector<SceneResult>& results,
                        const std::vector<SceneResult>& empty)
{
    out << "\n# Dock measurement against the truth\n\n"
        << "the pallet detector measures the pallet again in the floor frame from the same depth image "
           "and the fixed analysis's face contour. Errors cover the scenes with the verdict "
           "\"pallet\": |measured - true| face centre per camera axis (x right, y down, z forward), "
           "yaw about the floor normal in degrees, the distance of each pocket centre (half the "
           "opening's height up) from the true one, |width - true width| where both ends were "
           "seen, all median (p50) and 95th percentile (p95). False: pallet verdicts with the "
           "centre more than 50 mm or the yaw more than 5 degrees off (or no pallet at all).\n\n"
        << "## By range\n\n";
    write_ranges(out, results);
    out << "\n## Frames without a pallet\n\n";
    write_no_pallet(out, results, empty);
    out << "\n## Why not \"pallet\"\n\n";
    write_reasons(out, results);
    write_axis_tables(out, results, "Dock: ", "Dock: by fork openings", summarise_dock, write_dock_head, write_dock_row);
    out << "\n## Dock: confidence\n\n"
        << "The pallet verdicts of every scene by their confidence: the distance of the measured "
           "centre from the true one (mm) and the yaw error (degrees).\n\n";
    write_calibration(out, results);
}
