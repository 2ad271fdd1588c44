// The sweep's plots: their data files, one gnuplot script drawing them all, and gnuplot run on it.
#pragma once

#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

// One curve: a named column of the plot's data file against its first column.
struct PlotSeries {
    std::string column;
    int colour = 1;  // gnuplot's line colour index
    int dash = 1;    // 1 solid, 2 dashed
    std::string title;
};

enum class PlotScale { linear, logarithmic, percent };  // percent: 0 to 105

struct PlotPanel {
    std::string ylabel;
    PlotScale scale = PlotScale::linear;
    std::vector<PlotSeries> series;
};

// One PNG: its panels one above the other, all against the data's first column.
struct Plot {
    std::string png;
    std::string title;
    std::string xlabel;
    std::string xrange;                // e.g. "[0:1]"; empty: gnuplot's own
    bool key_below = false;            // else right of the panels
    std::string data;                  // the data file
    std::vector<std::string> columns;  // its columns' names, in file order
    std::vector<PlotPanel> panels;
};

// Every plot of a sweep, in the order of plot_names.
std::vector<Plot> sweep_plots();

// The file names of the plots inside the output folder.
std::vector<std::string> plot_names();

// The gnuplot commands that draw the plot, leaving the settings as they found them. Throws
// std::invalid_argument for a series whose column the data does not have.
std::string plot_script(const Plot& plot);

// True when an executable gnuplot is on PATH.
bool gnuplot_available();

// Runs gnuplot on the script inside dir (its output goes to gnuplot.log there); false with the
// reason when it cannot be started or fails.
bool run_gnuplot(const std::string& dir, const std::string& script, std::string& reason);

// A plot data file: "# name name ...", then one line of fields per row. Throws
// std::runtime_error when it cannot be written.
void write_plot_rows(const std::string& path, const std::vector<std::string>& names,
                     const std::vector<std::vector<std::string>>& rows);

// Writes the script of the plots (their data already in dir) and runs gnuplot on it there (its
// output goes to gnuplot.log); the plots' old PNG files are removed first. False with the reason
// when gnuplot fails; throws std::runtime_error when the script cannot be written.
bool draw_plots(const std::string& dir, const std::string& script_name, const std::vector<Plot>& plots,
                std::string& reason);

// Writes the plot data and plots.gp into dir and runs gnuplot there (its output goes to
// gnuplot.log). False with the reason when gnuplot is missing or fails; throws
// std::runtime_error when a file cannot be written.
bool write_plots(const std::string& dir, const std::vector<SceneResult>& results, std::string& reason);
