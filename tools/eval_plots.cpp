#include "tools/eval_plots.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/eval_stats.hpp"

namespace {

// One column of a data file: its name in the header and its text for one bin.
template <typename Bin>
struct DataColumn {
    std::string name;
    std::function<std::string(const Bin&)> value;
};

template <typename Bin>
std::vector<std::string> names_of(const std::vector<DataColumn<Bin>>& columns)
{
    std::vector<std::string> names;
    for (const DataColumn<Bin>& column : columns) names.push_back(column.name);
    return names;
}

// The data file of the bins, through write_plot_rows.
template <typename Bin>
void write_plot_data(const std::string& path, const std::vector<DataColumn<Bin>>& columns,
                     const std::vector<Bin>& bins)
{
    std::vector<std::vector<std::string>> rows;
    for (const Bin& bin : bins) {
        rows.emplace_back();
        for (const DataColumn<Bin>& column : columns) rows.back().push_back(column.value(bin));
    }
    write_plot_rows(path, names_of(columns), rows);
}

std::string share(std::size_t part, std::size_t whole)
{
    return short_number(100.0 * static_cast<double>(part) / static_cast<double>(whole));
}

const char* const axis_labels[3] = {"x", "y", "z"};

// x_p50 x_p95 y_p50 y_p95 z_p50 z_p95 of a bin's centre errors.
template <typename Bin>
void add_centre_columns(std::vector<DataColumn<Bin>>& columns, double (Bin::*p50)[3], double (Bin::*p95)[3])
{
    for (int k = 0; k < 3; ++k) {
        const std::string axis = axis_labels[k];
        columns.push_back({axis + "_p50", [k, p50](const Bin& b) { return plot_number((b.*p50)[k]); }});
        columns.push_back({axis + "_p95", [k, p95](const Bin& b) { return plot_number((b.*p95)[k]); }});
    }
}

std::vector<DataColumn<BinSummary>> outcome_columns()
{
    std::vector<DataColumn<BinSummary>> columns = {
        {"key", [](const BinSummary& b) { return short_number(b.key); }},
        {"found%", [](const BinSummary& b) { return share(b.found, b.scenes); }},
        {"no_pallet%", [](const BinSummary& b) { return share(b.no_pallet, b.scenes); }},
        {"no_contour%", [](const BinSummary& b) { return share(b.no_contour, b.scenes); }},
        {"found_on_face%", [](const BinSummary& b) { return share(b.found - b.centre_misses, b.scenes); }},
    };
    add_centre_columns(columns, &BinSummary::centre_abs_p50, &BinSummary::centre_abs_p95);
    columns.push_back({"normal_p50", [](const BinSummary& b) { return plot_number(b.normal_p50); }});
    columns.push_back({"normal_p95", [](const BinSummary& b) { return plot_number(b.normal_p95); }});
    return columns;
}

std::vector<DataColumn<DockBin>> dock_columns()
{
    std::vector<DataColumn<DockBin>> columns = {
        {"key", [](const DockBin& b) { return short_number(b.key); }},
        {"pallet%", [](const DockBin& b) {
             return plot_number(100.0 * static_cast<double>(b.pallets) / static_cast<double>(b.scenes));
         }},
    };
    add_centre_columns(columns, &DockBin::centre_p50, &DockBin::centre_p95);
    columns.push_back({"yaw_p50", [](const DockBin& b) { return plot_number(b.yaw_p50); }});
    columns.push_back({"yaw_p95", [](const DockBin& b) { return plot_number(b.yaw_p95); }});
    columns.push_back({"pocket_p50", [](const DockBin& b) { return plot_number(b.pocket_p50); }});
    columns.push_back({"pocket_p95", [](const DockBin& b) { return plot_number(b.pocket_p95); }});
    return columns;
}

std::vector<DataColumn<ConfidenceBin>> confidence_columns()
{
    return {
        {"middle", [](const ConfidenceBin& b) { return short_number((b.lo + b.hi) / 2.0); }},
        {"count", [](const ConfidenceBin& b) { return std::to_string(b.count); }},
        {"centre_p50", [](const ConfidenceBin& b) { return plot_number(b.centre_p50); }},
        {"centre_p95", [](const ConfidenceBin& b) { return plot_number(b.centre_p95); }},
        {"yaw_p50", [](const ConfidenceBin& b) { return plot_number(b.yaw_p50); }},
        {"yaw_p95", [](const ConfidenceBin& b) { return plot_number(b.yaw_p95); }},
    };
}

// The median (solid) and 95th percentile (dashed) curves of one quantity.
void add_p50_p95(std::vector<PlotSeries>& series, const std::string& column, int colour, const std::string& title)
{
    series.push_back({column + "_p50", colour, 1, title + (title.empty() ? "" : " ") + "p50"});
    series.push_back({column + "_p95", colour, 2, title + (title.empty() ? "" : " ") + "p95"});
}

std::vector<PlotSeries> centre_series()
{
    std::vector<PlotSeries> series;
    for (int k = 0; k < 3; ++k) add_p50_p95(series, axis_labels[k], k + 1, std::string("|") + axis_labels[k] + "|");
    return series;
}

const char* const quantile_key = "solid: median, dashed: 95th percentile";

Plot error_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    Plot plot{png, "Pose error against " + xlabel + " (found scenes; " + quantile_key + ")", xlabel, "", false,
              data, names_of(outcome_columns()), {}};
    plot.panels.push_back({"centre error, mm (log scale)", PlotScale::logarithmic, centre_series()});
    PlotPanel normal{"normal error, degrees", PlotScale::linear, {}};
    add_p50_p95(normal.series, "normal", 4, "");
    plot.panels.push_back(normal);
    return plot;
}

Plot detection_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    Plot plot{png, "Outcome against " + xlabel, xlabel, "", true, data, names_of(outcome_columns()), {}};
    plot.panels.push_back({"scenes, %",
                           PlotScale::percent,
                           {{"found%", 2, 1, "pallet found"},
                            {"no_pallet%", 7, 1, "no pallet"},
                            {"no_contour%", 8, 1, "no contour"},
                            {"found_on_face%", 1, 2, "found, centre pixel on the face"}}});
    return plot;
}

Plot dock_plot(const std::string& png, const std::string& data, const std::string& xlabel)
{
    Plot plot{png, "Dock measurement against " + xlabel + " (pallet verdicts; " + quantile_key + ")", xlabel, "",
              false, data, names_of(dock_columns()), {}};
    plot.panels.push_back({"verdict pallet, %", PlotScale::percent, {{"pallet%", 2, 1, "pallet"}}});
    PlotPanel errors{"error, mm", PlotScale::linear, centre_series()};
    add_p50_p95(errors.series, "pocket", 7, "pocket");
    plot.panels.push_back(errors);
    PlotPanel yaw{"yaw error, degrees", PlotScale::linear, {}};
    add_p50_p95(yaw.series, "yaw", 4, "");
    plot.panels.push_back(yaw);
    return plot;
}

Plot confidence_plot()
{
    Plot plot{"dock_confidence.png",
              std::string("Dock measurement: error against confidence (pallet verdicts; ") + quantile_key + ")",
              "confidence (middle of its bin)",
              "[0:1]",
              false,
              "dock_by_confidence.dat",
              names_of(confidence_columns()),
              {}};
    PlotPanel centre{"centre distance, mm", PlotScale::linear, {}};
    add_p50_p95(centre.series, "centre", 1, "");
    PlotPanel yaw{"yaw error, degrees", PlotScale::linear, {}};
    add_p50_p95(yaw.series, "yaw", 4, "");
    plot.panels = {centre, yaw};
    return plot;
}

// gnuplot's column number (from 1) of the named column.
int column_number(const Plot& plot, const std::string& name)
{
    const auto found = std::find(plot.columns.begin(), plot.columns.end(), name);
    if (found == plot.columns.end()) throw std::invalid_argument(plot.data + " has no column " + name);
    return static_cast<int>(found - plot.columns.begin()) + 1;
}

}  // namespace

std::vector<Plot> sweep_plots()
{
    return {error_plot("error_vs_distance.png", "by_distance.dat", "distance, mm"),
            error_plot("error_vs_yaw.png", "by_yaw.dat", "pallet yaw, degrees"),
            detection_plot("detection_vs_distance.png", "by_distance.dat", "distance, mm"),
            detection_plot("detection_vs_yaw.png", "by_yaw.dat", "pallet yaw, degrees"),
            dock_plot("dock_vs_distance.png", "dock_by_distance.dat", "distance, mm"),
            dock_plot("dock_vs_yaw.png", "dock_by_yaw.dat", "pallet yaw, degrees"),
            dock_plot("dock_vs_lateral.png", "dock_by_lateral.dat", "lateral offset, mm"),
            confidence_plot()};
}

std::vector<std::string> plot_names()
{
    std::vector<std::string> names;
    for (const Plot& plot : sweep_plots()) names.push_back(plot.png);
    return names;
}

std::string plot_script(const Plot& plot)
{
    std::ostringstream gp;
    const bool one_panel = plot.panels.size() == 1;
    gp << "set output '" << plot.png << "'\n";
    if (one_panel) gp << "set title '" << plot.title << "'\n";
    else gp << "set multiplot layout " << plot.panels.size() << ",1 title '" << plot.title << "'\n";
    gp << "set xlabel '" << plot.xlabel << "'\n";
    if (!plot.xrange.empty()) gp << "set xrange " << plot.xrange << "\n";
    if (plot.key_below) gp << "set key below\n";
    for (const PlotPanel& panel : plot.panels) {
        gp << "set ylabel '" << panel.ylabel << "'\n";
        if (panel.scale == PlotScale::logarithmic) gp << "set logscale y\n";
        if (panel.scale == PlotScale::percent) gp << "set yrange [0:105]\n";
        gp << "plot ";
        for (std::size_t i = 0; i < panel.series.size(); ++i) {
            const PlotSeries& s = panel.series[i];
            gp << (i == 0 ? "'" + plot.data + "'" : ", ''") << " u 1:" << column_number(plot, s.column)
               << " w lp lc " << s.colour << " dt " << s.dash << " t '" << s.title << "'";
        }
        gp << "\n";
        if (panel.scale == PlotScale::logarithmic) gp << "unset logscale y\n";
        if (panel.scale == PlotScale::percent) gp << "set autoscale y\n";
    }
    gp << (one_panel ? "unset title\n" : "unset multiplot\n");
    if (!plot.xrange.empty()) gp << "set autoscale x\n";
    if (plot.key_below) gp << "set key outside right\n";
    return gp.str();
}

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

bool write_plots(const std::string& dir, const std::vector<SceneResult>& results, std::string& reason)
{
    if (!gnuplot_available()) {
        reason = "gnuplot is not installed";
        return false;
    }
    for (const auto& [file, parameter] : {std::pair{"by_distance.dat", &SceneParams::distance_mm},
                                          std::pair{"by_yaw.dat", &SceneParams::yaw_deg}}) {
        write_plot_data(dir + "/" + file, outcome_columns(), bins_by(results, parameter, summarise));
    }
    for (const auto& [file, parameter] : {std::pair{"dock_by_distance.dat", &SceneParams::distance_mm},
                                          std::pair{"dock_by_yaw.dat", &SceneParams::yaw_deg},
                                          std::pair{"dock_by_lateral.dat", &SceneParams::lateral_mm}}) {
        write_plot_data(dir + "/" + file, dock_columns(), bins_by(results, parameter, summarise_dock));
    }
    write_plot_data(dir + "/dock_by_confidence.dat", confidence_columns(), confidence_bins(results));

    return draw_plots(dir, "plots.gp", sweep_plots(), reason);
}

void write_plot_rows(const std::string& path, const std::vector<std::string>& names,
                     const std::vector<std::vector<std::string>>& rows)
{
    std::ofstream out(path);
    out << '#';
    for (const std::string& name : names) out << ' ' << name;
    out << '\n';
    for (const std::vector<std::string>& row : rows) {
        for (std::size_t k = 0; k < row.size(); ++k) out << (k == 0 ? "" : " ") << row[k];
        out << '\n';
    }
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool draw_plots(const std::string& dir, const std::string& script_name, const std::vector<Plot>& plots,
                std::string& reason)
{
    std::ofstream script(dir + "/" + script_name);
    script << "set terminal pngcairo size 900,700 font 'sans,10'\n"
           << "set datafile missing 'NaN'\n"
           << "set grid\n"
           << "set key outside right\n";
    for (const Plot& plot : plots) script << plot_script(plot);
    script.close();
    if (!script) throw std::runtime_error("cannot write " + dir + "/" + script_name);
    for (const Plot& plot : plots) std::remove((dir + "/" + plot.png).c_str());
    return run_gnuplot(dir, script_name, reason);
}
