#include "tools/eval_dock.hpp"

#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>

#include "tools/eval_report.hpp"

namespace {

double centre_distance(const DockComparison& d)
{
    return d.centre_error.norm();
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

void write_head(std::ostream& out, const char* key_name)
{
    out << "| " << key_name << " | scenes | pallet % | false | x p50 | x p95 | y p50 | y p95 | z p50 "
        << "| z p95 | yaw p50 | yaw p95 | pocket p50 | pocket p95 | width p50 | confidence p50 |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void write_row(std::ostream& out, const std::string& key, const DockBin& b)
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

bool working_mount(const SceneParams& p)
{
    return p.empty_index < 0 && p.height_mm == 200.0 && p.pitch_deg >= 4.0 && p.pitch_deg <= 8.0 &&
           std::abs(p.lateral_mm) <= 250.0 && std::abs(p.yaw_deg) <= 20.0;
}

const Range ranges[] = {
    {"working envelope: 200 mm, 4-8 deg, noise 0-1, 1.0-2.0 m, lateral and yaw as swept",
     [](const SceneResult& r) { return in_working_envelope(r.params); }},
    {"the same at noise level 2",
     [](const SceneResult& r) {
         const SceneParams& p = r.params;
         return working_mount(p) && p.noise_level == 2.0 && p.distance_mm >= 1000.0 &&
                p.distance_mm <= 2000.0;
     }},
    {"working mount, noise 0-1, 0.75 m",
     [](const SceneResult& r) {
         return working_mount(r.params) && r.params.noise_level <= 1.0 && r.params.distance_mm == 750.0;
     }},
    {"working mount, noise 0-1, 2.5 m",
     [](const SceneResult& r) {
         return working_mount(r.params) && r.params.noise_level <= 1.0 && r.params.distance_mm == 2500.0;
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
    write_head(out, "scenes of");
    for (const Range& range : ranges) {
        write_row(out, range.name, summarise_dock(select(results, range.keep), 0.0));
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

void write_plot_data(const std::string& path, const std::vector<DockBin>& bins)
{
    std::ofstream out(path);
    out << "# key pallet% x_p50 x_p95 y_p50 y_p95 z_p50 z_p95 yaw_p50 yaw_p95 pocket_p50 pocket_p95\n";
    for (const DockBin& b : bins) {
        const double pallet_share = static_cast<double>(b.pallets) / static_cast<double>(b.scenes);
        out << b.key << ' ' << plot_number(100.0 * pallet_share);
        for (int k = 0; k < 3; ++k) {
            out << ' ' << plot_number(b.centre_p50[k]) << ' ' << plot_number(b.centre_p95[k]);
        }
        out << ' ' << plot_number(b.yaw_p50) << ' ' << plot_number(b.yaw_p95) << ' '
            << plot_number(b.pocket_p50) << ' ' << plot_number(b.pocket_p95) << '\n';
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string axis_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    std::ostringstream gp;
    gp << "set output '" << png << "'\n"
       << "unset title\n"
       << "set multiplot layout 3,1 title 'Dock measurement against " << xlabel
       << " (pallet verdicts; solid: median, dashed: 95th percentile)'\n"
       << "set xlabel '" << xlabel << "'\n"
       << "set ylabel 'verdict pallet, %'\n"
       << "set yrange [0:105]\n"
       << "plot '" << data << "' u 1:2 w lp lc 2 t 'pallet'\n"
       << "set autoscale y\n"
       << "set ylabel 'error, mm'\n"
       << "plot '" << data << "' u 1:3 w lp lc 1 dt 1 t '|x| p50', '' u 1:4 w lp lc 1 dt 2 t '|x| p95',"
       << " '' u 1:5 w lp lc 2 dt 1 t '|y| p50', '' u 1:6 w lp lc 2 dt 2 t '|y| p95',"
       << " '' u 1:7 w lp lc 3 dt 1 t '|z| p50', '' u 1:8 w lp lc 3 dt 2 t '|z| p95',"
       << " '' u 1:11 w lp lc 7 dt 1 t 'pocket p50', '' u 1:12 w lp lc 7 dt 2 t 'pocket p95'\n"
       << "set ylabel 'yaw error, degrees'\n"
       << "plot '" << data << "' u 1:9 w lp lc 4 dt 1 t 'p50', '' u 1:10 w lp lc 4 dt 2 t 'p95'\n"
       << "unset multiplot\n";
    return gp.str();
}

}  // namespace

bool in_working_envelope(const SceneParams& p)
{
    return working_mount(p) && p.noise_level <= 1.0 && p.distance_mm >= 1000.0 &&
           p.distance_mm <= 2000.0;
}

bool fixed_analysis_took_floor(const SceneResult& r)
{
    return r.comparison.outcome == PalletOutcome::pallet_found && r.dock.contour_floor_share >= 0.5;
}

bool false_pallet(const SceneResult& r)
{
    const DockComparison& d = r.dock;
    if (d.verdict != DockVerdict::pallet) return false;
    return r.params.empty_index >= 0 || !(centre_distance(d) <= 50.0) ||
           !(std::abs(d.yaw_error_deg) <= 5.0);
}

DockBin summarise_dock(const std::vector<const SceneResult*>& scenes, double key)
{
    DockBin b;
    b.key = key;
    b.scenes = scenes.size();
    std::vector<double> centre[3], floor[3], yaw, pocket, width, confidence;
    for (const SceneResult* r : scenes) {
        const DockComparison& d = r->dock;
        if (d.verdict != DockVerdict::pallet) continue;
        ++b.pallets;
        b.false_pallets += false_pallet(*r);
        for (int k = 0; k < 3; ++k) {
            centre[k].push_back(std::abs(d.centre_error(k)));
            floor[k].push_back(std::abs(d.centre_error_floor(k)));
        }
        yaw.push_back(std::abs(d.yaw_error_deg));
        pocket.push_back(d.pocket_error_mm[0]);
        pocket.push_back(d.pocket_error_mm[1]);
        width.push_back(std::abs(d.width_error_mm));
        confidence.push_back(d.confidence);
    }
    for (int k = 0; k < 3; ++k) {
        b.centre_p50[k] = quantile(centre[k], 0.5);
        b.centre_p95[k] = quantile(centre[k], 0.95);
        b.floor_p50[k] = quantile(floor[k], 0.5);
        b.floor_p95[k] = quantile(floor[k], 0.95);
    }
    b.yaw_p50 = quantile(yaw, 0.5);
    b.yaw_p95 = quantile(yaw, 0.95);
    b.pocket_p50 = quantile(pocket, 0.5);
    b.pocket_p95 = quantile(pocket, 0.95);
    b.width_p50 = quantile(width, 0.5);
    b.confidence_p50 = quantile(confidence, 0.5);
    return b;
}

std::vector<DockBin> summarise_dock_by(const std::vector<SceneResult>& results,
                                       double SceneParams::*parameter)
{
    std::map<double, std::vector<const SceneResult*>> bins;
    for (const SceneResult& r : results) bins[r.params.*parameter].push_back(&r);
    std::vector<DockBin> summaries;
    for (const auto& [key, scenes] : bins) summaries.push_back(summarise_dock(scenes, key));
    return summaries;
}

std::vector<ConfidenceBin> confidence_bins(const std::vector<SceneResult>& results)
{
    const double edges[] = {0.0, 0.2, 0.4, 0.6, 0.8, 0.9, 1.0};
    std::vector<ConfidenceBin> bins;
    for (std::size_t i = 0; i + 1 < std::size(edges); ++i) {
        ConfidenceBin b;
        b.lo = edges[i];
        b.hi = edges[i + 1];
        std::vector<double> centre, yaw;
        for (const SceneResult& r : results) {
            const DockComparison& d = r.dock;
            const bool last = i + 2 == std::size(edges);  // the top bin holds 1 itself
            if (d.verdict != DockVerdict::pallet || d.confidence < b.lo ||
                (last ? d.confidence > b.hi : d.confidence >= b.hi)) {
                continue;
            }
            ++b.count;
            centre.push_back(centre_distance(d));
            yaw.push_back(std::abs(d.yaw_error_deg));
        }
        b.centre_p50 = quantile(centre, 0.5);
        b.centre_p95 = quantile(centre, 0.95);
        b.yaw_p50 = quantile(yaw, 0.5);
        b.yaw_p95 = quantile(yaw, 0.95);
        bins.push_back(b);
    }
    return bins;
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
    const struct {
        const char* title;
        const char* key;
        double SceneParams::*parameter;
    } axes[] = {{"By distance (mm)", "distance", &SceneParams::distance_mm},
                {"By pallet yaw (degrees)", "yaw", &SceneParams::yaw_deg},
                {"By lateral offset (mm)", "lateral", &SceneParams::lateral_mm},
                {"By camera height (mm)", "height", &SceneParams::height_mm},
                {"By camera tilt (degrees)", "tilt", &SceneParams::pitch_deg},
                {"By noise level", "noise", &SceneParams::noise_level}};
    for (const auto& axis : axes) {
        out << "\n## Dock: " << axis.title << "\n\n";
        write_head(out, axis.key);
        for (const DockBin& b : summarise_dock_by(results, axis.parameter)) {
            write_row(out, short_number(b.key), b);
        }
    }
    out << "\n## Dock: by fork openings\n\n";
    write_head(out, "openings");
    std::vector<const SceneResult*> returns, no_returns;
    for (const SceneResult& r : results) (r.params.cavity_no_return ? no_returns : returns).push_back(&r);
    if (!returns.empty()) write_row(out, "return depth", summarise_dock(returns, 0.0));
    if (!no_returns.empty()) write_row(out, "no return", summarise_dock(no_returns, 1.0));
    out << "\n## Dock: confidence\n\n"
        << "The pallet verdicts of every scene by their confidence: the distance of the measured "
           "centre from the true one (mm) and the yaw error (degrees).\n\n";
    write_calibration(out, results);
}

void write_empty_csv(std::ostream& out, const std::vector<SceneResult>& empty)
{
    out << "scene,seed,height_mm,pitch_deg,noise_level,index,outcome,dock_verdict,dock_reason,"
           "dock_floor_normal_err_deg,dock_camera_height_err_mm,dock_camera_tilt_err_deg\n";
    for (std::size_t i = 0; i < empty.size(); ++i) {
        const SceneResult& r = empty[i];
        const DockComparison& d = r.dock;
        const auto number = [](double value, int decimals) {
            return std::isfinite(value) ? cell(value, decimals) : std::string();
        };
        out << i << ',' << r.seed << ',' << number(r.params.height_mm, 3) << ','
            << number(r.params.pitch_deg, 3) << ',' << number(r.params.noise_level, 3) << ','
            << r.params.empty_index << ','
            << (r.comparison.outcome == PalletOutcome::pallet_found ? "found"
                : r.comparison.outcome == PalletOutcome::no_pallet  ? "no_pallet"
                                                                    : "no_contour")
            << ',' << dock_verdict_name(d.verdict) << ',' << dock_reason_name(d.reason) << ','
            << number(d.floor_normal_error_deg, 4) << ',' << number(d.camera_height_error_mm, 3) << ','
            << number(d.camera_tilt_error_deg, 4) << '\n';
    }
}

std::vector<std::string> dock_plot_names()
{
    return {"dock_vs_distance.png", "dock_vs_yaw.png", "dock_vs_lateral.png", "dock_confidence.png"};
}

std::string dock_plot_script(const std::string& dir, const std::vector<SceneResult>& results)
{
    write_plot_data(dir + "/dock_by_distance.dat", summarise_dock_by(results, &SceneParams::distance_mm));
    write_plot_data(dir + "/dock_by_yaw.dat", summarise_dock_by(results, &SceneParams::yaw_deg));
    write_plot_data(dir + "/dock_by_lateral.dat", summarise_dock_by(results, &SceneParams::lateral_mm));
    {
        std::ofstream out(dir + "/dock_by_confidence.dat");
        out << "# middle count centre_p50 centre_p95 yaw_p50 yaw_p95\n";
        for (const ConfidenceBin& b : confidence_bins(results)) {
            out << (b.lo + b.hi) / 2.0 << ' ' << b.count << ' ' << plot_number(b.centre_p50) << ' '
                << plot_number(b.centre_p95) << ' ' << plot_number(b.yaw_p50) << ' '
                << plot_number(b.yaw_p95) << '\n';
        }
        if (!out) throw std::runtime_error("cannot write " + dir + "/dock_by_confidence.dat");
    }
    const std::vector<std::string> png = dock_plot_names();
    std::ostringstream gp;
    gp << axis_plot(png[0], "dock_by_distance.dat", "distance, mm")
       << axis_plot(png[1], "dock_by_yaw.dat", "pallet yaw, degrees")
       << axis_plot(png[2], "dock_by_lateral.dat", "lateral offset, mm")
       << "set output '" << png[3] << "'\n"
       << "set multiplot layout 2,1 title 'Dock measurement: error against confidence (pallet verdicts; "
          "solid: median, dashed: 95th percentile)'\n"
       << "set xlabel 'confidence (middle of its bin)'\n"
       << "set xrange [0:1]\n"
       << "set ylabel 'centre distance, mm'\n"
       << "plot 'dock_by_confidence.dat' u 1:3 w lp lc 1 dt 1 t 'p50', '' u 1:4 w lp lc 1 dt 2 t 'p95'\n"
       << "set ylabel 'yaw error, degrees'\n"
       << "plot 'dock_by_confidence.dat' u 1:5 w lp lc 4 dt 1 t 'p50', '' u 1:6 w lp lc 4 dt 2 t 'p95'\n"
       << "unset multiplot\n"
       << "set autoscale x\n";
    return gp.str();
}
