#include "tools/eval_report.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/eval_dock.hpp"

namespace {

const char* outcome_name(PalletOutcome outcome)
{
    switch (outcome) {
    case PalletOutcome::no_contour: return "no_contour";
    case PalletOutcome::no_pallet: return "no_pallet";
    case PalletOutcome::pallet_found: return "found";
    }
    return "?";
}

std::string axis_values(const std::vector<SceneResult>& results, double SceneParams::*parameter)
{
    std::set<double> values;
    for (const SceneResult& r : results) values.insert(r.params.*parameter);
    std::string text;
    for (const double v : values) text += (text.empty() ? "" : ", ") + short_number(v);
    return text;
}

void write_dock_columns(std::ostream& out, const DockComparison& d)
{
    out << ',' << dock_verdict_name(d.verdict) << ',' << dock_reason_name(d.reason) << ','
        << number(d.confidence, 4) << ',' << number(d.contour_floor_share, 4) << ','
        << number(d.contour_pallet_share, 4);
    for (int k = 0; k < 3; ++k) out << ',' << number(d.centre_error(k));
    for (int k = 0; k < 3; ++k) out << ',' << number(d.centre_error_floor(k));
    out << ',' << number(d.yaw_error_deg, 4) << ',' << number(d.normal_error_deg, 4) << ','
        << number(d.distance_error_mm) << ',' << number(d.width_error_mm) << ',' << d.pockets << ','
        << number(d.pocket_error_mm[0]) << ',' << number(d.pocket_error_mm[1]) << ','
        << number(d.floor_normal_error_deg, 4) << ',' << number(d.camera_height_error_mm) << ','
        << number(d.camera_tilt_error_deg, 4);
}

void write_table_head(std::ostream& out, const char* key_name)
{
    out << "| " << key_name << " | scenes | found % | no pallet % | no contour % "
        << "| x p50 | x p95 | y p50 | y p95 | z p50 | z p95 | centre misses | centre 0,0,0 "
        << "| normal p50 | normal p95 |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void write_table_row(std::ostream& out, const std::string& key, const BinSummary& b)
{
    out << "| " << key << " | " << b.scenes << " | " << percent(b.found, b.scenes) << " | "
        << percent(b.no_pallet, b.scenes) << " | " << percent(b.no_contour, b.scenes);
    for (int k = 0; k < 3; ++k) out << " | " << cell(b.centre_abs_p50[k]) << " | " << cell(b.centre_abs_p95[k]);
    out << " | " << b.centre_misses << " | " << b.zero_centres << " | " << cell(b.normal_p50, 2) << " | " << cell(b.normal_p95, 2)
        << " |\n";
}

std::vector<const SceneResult*> all_of(const std::vector<SceneResult>& results)
{
    std::vector<const SceneResult*> all;
    for (const SceneResult& r : results) all.push_back(&r);
    return all;
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

void write_plot_data(const std::string& path, const std::vector<BinSummary>& bins)
{
    std::ofstream out(path);
    out << "# key found% no_pallet% no_contour% found_on_face% x_p50 x_p95 y_p50 y_p95 z_p50 z_p95 normal_p50 normal_p95\n";
    for (const BinSummary& b : bins) {
        const double n = static_cast<double>(b.scenes);
        out << b.key << ' ' << 100.0 * static_cast<double>(b.found) / n << ' '
            << 100.0 * static_cast<double>(b.no_pallet) / n << ' '
            << 100.0 * static_cast<double>(b.no_contour) / n << ' '
            << 100.0 * static_cast<double>(b.found - b.centre_misses) / n;
        for (int k = 0; k < 3; ++k) {
            out << ' ' << plot_number(b.centre_abs_p50[k]) << ' ' << plot_number(b.centre_abs_p95[k]);
        }
        out << ' ' << plot_number(b.normal_p50) << ' ' << plot_number(b.normal_p95) << '\n';
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string error_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    std::ostringstream gp;
    gp << "set output '" << png << "'\n"
       << "set multiplot layout 2,1 title 'Pose error against " << xlabel
       << " (found scenes; solid: median, dashed: 95th percentile)'\n"
       << "set xlabel '" << xlabel << "'\n"
       << "set ylabel 'centre error, mm (log scale)'\n"
       << "set logscale y\n"
       << "plot '" << data << "' u 1:6 w lp lc 1 dt 1 t '|x| p50', '' u 1:7 w lp lc 1 dt 2 t '|x| p95',"
       << " '' u 1:8 w lp lc 2 dt 1 t '|y| p50', '' u 1:9 w lp lc 2 dt 2 t '|y| p95',"
       << " '' u 1:10 w lp lc 3 dt 1 t '|z| p50', '' u 1:11 w lp lc 3 dt 2 t '|z| p95'\n"
       << "unset logscale y\n"
       << "set ylabel 'normal error, degrees'\n"
       << "plot '" << data << "' u 1:12 w lp lc 4 dt 1 t 'p50', '' u 1:13 w lp lc 4 dt 2 t 'p95'\n"
       << "unset multiplot\n";
    return gp.str();
}

std::string detection_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    std::ostringstream gp;
    gp << "set output '" << png << "'\n"
       << "set title 'Outcome against " << xlabel << "'\n"
       << "set xlabel '" << xlabel << "'\n"
       << "set ylabel 'scenes, %'\n"
       << "set yrange [0:105]\n"
       << "set key below\n"
       << "plot '" << data << "' u 1:2 w lp lc 2 t 'pallet found', '' u 1:3 w lp lc 7 t 'no pallet',"
       << " '' u 1:4 w lp lc 8 t 'no contour', '' u 1:5 w lp lc 1 dt 2 t 'found, centre pixel on the face'\n"
       << "set autoscale y\n"
       << "set key outside right\n";
    return gp.str();
}

// Runs gnuplot on the script inside dir; its own output goes to gnuplot.log there.
bool run_gnuplot(const std::string& dir, const std::string& script, std::string& reason)
{
    const pid_t child = fork();
    if (child < 0) {
        reason = std::string("cannot start gnuplot: ") + std::strerror(errno);
        return false;
    }
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        // Its warnings (a one-value axis, say) are no business of the terminal: keep them.
        const int log = open("gnuplot.log", O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
            close(log);
        }
        execlp("gnuplot", "gnuplot", script.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            reason = "lost the gnuplot process";
            return false;
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        reason = "gnuplot failed (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                 "), see " + dir + "/gnuplot.log";
        return false;
    }
    return true;
}

}  // namespace

std::string number(double value, int decimals)
{
    if (!std::isfinite(value)) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string cell(double value, int decimals)
{
    const std::string text = number(value, decimals);
    return text.empty() ? "-" : text;
}

std::string plot_number(double value)
{
    return std::isfinite(value) ? number(value, 3) : "NaN";
}

std::string percent(std::size_t part, std::size_t whole)
{
    return whole == 0 ? "-" : cell(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1);
}

std::string short_number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void make_output_folder(const std::string& dir)
{
    std::string partial;
    std::stringstream parts(dir);
    std::string part;
    if (!dir.empty() && dir[0] == '/') partial = "/";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += part + "/";
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot make folder " + partial + ": " + std::strerror(errno));
        }
    }
    struct stat info{};
    if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        throw std::runtime_error(dir + " is not a folder");
    }
}

double quantile(std::vector<double> values, double q)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return !std::isfinite(v); }),
                 values.end());
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const double rank = q * static_cast<double>(values.size() - 1);
    const auto below = static_cast<std::size_t>(std::floor(rank));
    const std::size_t above = std::min(below + 1, values.size() - 1);
    const double t = rank - static_cast<double>(below);
    return values[below] + t * (values[above] - values[below]);
}

BinSummary summarise(const std::vector<const SceneResult*>& scenes, double key)
{
    BinSummary b;
    b.key = key;
    b.scenes = scenes.size();
    std::vector<double> centre[3];
    std::vector<double> normal;
    for (const SceneResult* r : scenes) {
        const SceneComparison& c = r->comparison;
        if (c.outcome == PalletOutcome::no_contour) ++b.no_contour;
        if (c.outcome == PalletOutcome::no_pallet) ++b.no_pallet;
        if (c.outcome != PalletOutcome::pallet_found) continue;
        ++b.found;
        if (!c.centre_on_face) ++b.centre_misses;
        if (c.reported_centre.isZero(0.0)) ++b.zero_centres;
        for (int k = 0; k < 3; ++k) centre[k].push_back(std::abs(c.centre_error(k)));
        normal.push_back(c.normal_error_deg);
    }
    for (int k = 0; k < 3; ++k) {
        b.centre_abs_p50[k] = quantile(centre[k], 0.5);
        b.centre_abs_p95[k] = quantile(centre[k], 0.95);
    }
    b.normal_p50 = quantile(normal, 0.5);
    b.normal_p95 = quantile(normal, 0.95);
    return b;
}

std::vector<BinSummary> summarise_by(const std::vector<SceneResult>& results,
                                     double SceneParams::*parameter)
{
    std::map<double, std::vector<const SceneResult*>> bins;
    for (const SceneResult& r : results) bins[r.params.*parameter].push_back(&r);
    std::vector<BinSummary> summaries;
    for (const auto& [key, scenes] : bins) summaries.push_back(summarise(scenes, key));
    return summaries;
}

Trend trend(const std::vector<double>& x, const std::vector<double>& y)
{
    Trend t;
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < std::min(x.size(), y.size()); ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i])) continue;
        ++t.count;
        sx += x[i];
        sy += y[i];
        sxx += x[i] * x[i];
        syy += y[i] * y[i];
        sxy += x[i] * y[i];
    }
    if (t.count < 2) return t;
    const double n = static_cast<double>(t.count);
    const double vx = sxx - sx * sx / n;
    const double vy = syy - sy * sy / n;
    const double cxy = sxy - sx * sy / n;
    if (vx > 0.0) t.slope = cxy / vx;
    if (vx > 0.0 && vy > 0.0) t.correlation = cxy / std::sqrt(vx * vy);
    return t;
}

void write_csv(std::ostream& out, const std::vector<SceneResult>& results)
{
    out << "scene,seed,distance_mm,yaw_deg,lateral_mm,height_mm,pitch_deg,noise_level,cavity,"
           "outcome,face_width_px,face_points,"
           "true_x_mm,true_y_mm,true_z_mm,centre_x_mm,centre_y_mm,centre_z_mm,"
           "err_x_mm,err_y_mm,err_z_mm,err_mm,centre_u,centre_v,centre_label,centre_on_face,"
           "normal_err_deg,yaw_deg_reported,pitch_deg_reported,roll_deg_reported,"
           "yaw_deg_expected,pitch_deg_expected,roll_deg_expected,yaw_err_deg,pitch_err_deg,"
           "roll_err_deg,yaw_line_minus_pallet_yaw_deg,euler0_err_deg,euler1_err_deg,euler2_err_deg,"
           "dock_verdict,dock_reason,dock_confidence,contour_floor_share,contour_pallet_share,"
           "dock_err_x_mm,dock_err_y_mm,dock_err_z_mm,dock_err_lateral_mm,dock_err_forward_mm,"
           "dock_err_height_mm,dock_yaw_err_deg,dock_normal_err_deg,dock_distance_err_mm,"
           "dock_width_err_mm,dock_pockets,dock_pocket_left_err_mm,dock_pocket_right_err_mm,"
           "dock_floor_normal_err_deg,dock_camera_height_err_mm,dock_camera_tilt_err_deg\n";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const SceneResult& r = results[i];
        const SceneParams& p = r.params;
        const SceneComparison& c = r.comparison;
        const bool found = c.outcome == PalletOutcome::pallet_found;
        out << i << ',' << r.seed << ',' << number(p.distance_mm) << ',' << number(p.yaw_deg) << ','
            << number(p.lateral_mm) << ',' << number(p.height_mm) << ',' << number(p.pitch_deg) << ','
            << number(p.noise_level) << ',' << (p.cavity_no_return ? 1 : 0) << ','
            << outcome_name(c.outcome) << ',' << c.face_width_px << ',' << c.face_point_count;
        for (int k = 0; k < 3; ++k) out << ',' << number(c.true_centre(k));
        for (int k = 0; k < 3; ++k) out << ',' << number(c.reported_centre(k));
        for (int k = 0; k < 3; ++k) out << ',' << number(c.centre_error(k));
        out << ',' << number(c.centre_error_norm);
        if (found) {
            out << ',' << c.centre_pixel.x << ',' << c.centre_pixel.y << ',' << c.centre_label << ','
                << (c.centre_on_face ? 1 : 0);
        } else {
            out << ",,,,";
        }
        out << ',' << number(c.normal_error_deg);
        for (const ReportedAngles* a : {&c.reported, &c.expected, &c.error}) {
            out << ',' << number(a->yaw_deg) << ',' << number(a->pitch_deg) << ',' << number(a->roll_deg);
        }
        out << ',' << number(c.yaw_line_vs_pallet_deg);
        for (int k = 0; k < 3; ++k) out << ',' << number(c.error.euler_deg(k));
        write_dock_columns(out, r.dock);
        out << '\n';
    }
}

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
    write_table_head(out, "bin");
    write_table_row(out, "all", summarise(all_of(results), 0.0));
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
        out << "\n## " << axis.title << "\n\n";
        write_table_head(out, axis.key);
        for (const BinSummary& b : summarise_by(results, axis.parameter)) write_table_row(out, short_number(b.key), b);
    }
    out << "\n## By fork openings\n\n";
    write_table_head(out, "openings");
    std::vector<const SceneResult*> returns, no_returns;
    for (const SceneResult& r : results) (r.params.cavity_no_return ? no_returns : returns).push_back(&r);
    if (!returns.empty()) write_table_row(out, "return depth", summarise(returns, 0.0));
    if (!no_returns.empty()) write_table_row(out, "no return", summarise(no_returns, 1.0));
    out << "\n## Angle lines\n\n"
        << "Each reported line against the value the same rule gives for the true face normal "
           "(abs. error vs rule), and against the physical quantity it follows (slope and "
           "correlation over the found scenes).\n\n";
    write_angle_lines(out, results);
    write_dock_summary(out, results, empty);
}

bool gnuplot_available()
{
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::stringstream dirs(path);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/gnuplot";
        if (access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

std::vector<std::string> plot_names()
{
    std::vector<std::string> names = {"error_vs_distance.png", "error_vs_yaw.png",
                                      "detection_vs_distance.png", "detection_vs_yaw.png"};
    for (const std::string& name : dock_plot_names()) names.push_back(name);
    return names;
}

bool write_plots(const std::string& dir, const std::vector<SceneResult>& results, std::string& reason)
{
    if (!gnuplot_available()) {
        reason = "gnuplot is not installed";
        return false;
    }
    write_plot_data(dir + "/by_distance.dat", summarise_by(results, &SceneParams::distance_mm));
    write_plot_data(dir + "/by_yaw.dat", summarise_by(results, &SceneParams::yaw_deg));
    const std::vector<std::string> png = plot_names();
    std::ofstream script(dir + "/plots.gp");
    script << "set terminal pngcairo size 900,700 font 'sans,10'\n"
           << "set datafile missing 'NaN'\n"
           << "set grid\n"
           << "set key outside right\n"
           << error_plot(png[0], "by_distance.dat", "distance, mm")
           << error_plot(png[1], "by_yaw.dat", "pallet yaw, degrees")
           << detection_plot(png[2], "by_distance.dat", "distance, mm")
           << detection_plot(png[3], "by_yaw.dat", "pallet yaw, degrees")
           << dock_plot_script(dir, results);
    script.close();
    if (!script) throw std::runtime_error("cannot write " + dir + "/plots.gp");
    for (const std::string& name : png) std::remove((dir + "/" + name).c_str());
    return run_gnuplot(dir, "plots.gp", reason);
}

OutputFiles write_outputs(const std::string& dir, const std::vector<SceneResult>& results,
                          std::uint64_t base_seed, const std::vector<SceneResult>& empty)
{
    make_output_folder(dir);
    OutputFiles files;
    files.csv = dir + "/scenes.csv";
    files.summary = dir + "/summary.md";
    {
        std::ofstream csv(files.csv);
        write_csv(csv, results);
        csv.close();
        if (!csv) throw std::runtime_error("cannot write " + files.csv);
    }
    if (!empty.empty()) {
        files.empty_csv = dir + "/empty_scenes.csv";
        std::ofstream csv(files.empty_csv);
        write_empty_csv(csv, empty);
        csv.close();
        if (!csv) throw std::runtime_error("cannot write " + files.empty_csv);
    }
    {
        std::ofstream summary(files.summary);
        write_summary(summary, results, base_seed, empty);
        summary.close();
        if (!summary) throw std::runtime_error("cannot write " + files.summary);
    }
    std::string reason;
    if (write_plots(dir, results, reason)) {
        for (const std::string& name : plot_names()) files.plots.push_back(dir + "/" + name);
    } else {
        files.plots_skipped = reason;
    }
    return files;
}
