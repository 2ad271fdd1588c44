#include "tools/eval_detect_report.hpp"

#include <algorithm>
#include <functional>
#include <ostream>

#include "tools/eval_plots.hpp"
#include "tools/eval_report.hpp"
#include "tools/eval_stats.hpp"

namespace {

using Column = TableColumn<DetectRow>;

Column text(const std::string& name, const std::function<std::string(const DetectRow&)>& of)
{
    return {name, [of](std::size_t, const DetectRow& r) { return of(r); }};
}

Column decimal(const std::string& name, const std::function<double(const DetectRow&)>& of, int decimals = 3)
{
    return {name, [of, decimals](std::size_t, const DetectRow& r) { return number(of(r), decimals); }};
}

Column whole(const std::string& name, const std::function<long long(const DetectRow&)>& of)
{
    return {name, [of](std::size_t, const DetectRow& r) { return std::to_string(of(r)); }};
}

void add_vector(std::vector<Column>& columns, const std::string& prefix, Eigen::Vector3d DetectPair::*member)
{
    const char* const axes[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        columns.push_back(decimal(prefix + axes[k] + "_mm", [member, k](const DetectRow& r) { return (r.pair->*member)(k); }));
    }
}

// "pallet", "missed" or "false".
std::string pair_kind(const DetectPair& p)
{
    if (p.pallet < 0) return "false";
    return p.detection < 0 ? "missed" : "matched";
}

std::string or_dash(const std::string& text)
{
    return text.empty() ? "-" : text;
}

std::string share(std::size_t part, std::size_t whole_count)
{
    return percent(part, whole_count);
}

// A share with its unit, "-" of nothing.
std::string share_text(std::size_t part, std::size_t whole_count)
{
    return whole_count == 0 ? "-" : percent(part, whole_count) + " %";
}

std::string per_thousand(std::size_t count, std::size_t frames)
{
    return frames == 0 ? "-" : cell(1000.0 * static_cast<double>(count) / static_cast<double>(frames), 1);
}

void write_bin_head(std::ostream& out, const std::string& key_name)
{
    out << "| " << key_name << " | frames | in view | recall % | cut off | recall % | type right % | false "
        << "| false /1000 frames | x p50 | x p95 | y p50 | y p95 | z p50 | z p95 | yaw p50 | yaw p95 "
        << "| openings p50 | height p50 | height p95 |\n"
        << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
}

void write_bin_row(std::ostream& out, const DetectBin& b)
{
    out << "| " << b.key << " | " << (b.frames ? std::to_string(b.frames) : "-") << " | " << b.faces_in_view << " | "
        << share(b.found_in_view, b.faces_in_view) << " | " << b.faces_cut_off << " | "
        << share(b.found_cut_off, b.faces_cut_off) << " | " << share(b.type_right, b.found) << " | " << b.false_pallets
        << " | " << per_thousand(b.false_pallets, b.frames);
    for (int k = 0; k < 3; ++k) out << " | " << cell(b.centre_p50[k]) << " | " << cell(b.centre_p95[k]);
    out << " | " << cell(b.yaw_p50, 2) << " | " << cell(b.yaw_p95, 2) << " | " << cell(b.opening_p50) << " | "
        << cell(b.height_p50) << " | " << cell(b.height_p95) << " |\n";
}

// One line of the headline: its name and its text for a bin.
struct HeadlineLine {
    std::string name;
    std::function<std::string(const DetectBin&)> value;
};

std::vector<HeadlineLine> headline_lines()
{
    std::vector<HeadlineLine> lines = {
        {"frames", [](const DetectBin& b) { return std::to_string(b.frames); }},
        {"pallets fully in view", [](const DetectBin& b) { return std::to_string(b.faces_in_view); }},
        {"recall, in view", [](const DetectBin& b) { return share_text(b.found_in_view, b.faces_in_view); }},
        {"pallets cut off by the image edge", [](const DetectBin& b) { return std::to_string(b.faces_cut_off); }},
        {"recall, cut off", [](const DetectBin& b) { return share_text(b.found_cut_off, b.faces_cut_off); }},
        {"type right, of the found", [](const DetectBin& b) { return share_text(b.type_right, b.found); }},
        {"false pallets per 1,000 frames", [](const DetectBin& b) { return per_thousand(b.false_pallets, b.frames); }},
        {"false pallets per 1,000 pallet-free frames",
         [](const DetectBin& b) { return per_thousand(b.false_in_pallet_free, b.pallet_free_frames); }},
    };
    const char* const axes[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        lines.push_back({std::string("centre error ") + axes[k] + ", median / p95, mm",
                         [k](const DetectBin& b) { return cell(b.centre_p50[k]) + " / " + cell(b.centre_p95[k]); }});
    }
    lines.push_back({"yaw error, median / p95, degrees",
                     [](const DetectBin& b) { return cell(b.yaw_p50, 2) + " / " + cell(b.yaw_p95, 2); }});
    lines.push_back({"opening centres, median distance, mm", [](const DetectBin& b) { return cell(b.opening_p50); }});
    lines.push_back({"face height error, median / p95, mm",
                     [](const DetectBin& b) { return cell(b.height_p50) + " / " + cell(b.height_p95); }});
    return lines;
}

// The headline of each run, one column per run.
void write_headline(std::ostream& out, const std::vector<DetectRun>& runs)
{
    std::vector<DetectBin> bins;
    out << "| |";
    for (const DetectRun& run : runs) {
        bins.push_back(summarise_frames(run.sensor, run.frames));
        out << " `" << run.sensor << "` |";
    }
    out << "\n|---|";
    for (std::size_t k = 0; k < runs.size(); ++k) out << "---:|";
    out << "\n";
    for (const HeadlineLine& line : headline_lines()) {
        out << "| " << line.name << " |";
        for (const DetectBin& b : bins) out << " " << line.value(b) << " |";
        out << "\n";
    }
}

double largest_p95(const DetectBin& b)
{
    double worst = NAN;
    for (const double v : b.centre_p95) {
        if (std::isfinite(v) && !(worst >= v)) worst = v;
    }
    return worst;
}

double recall_of(const DetectBin& b)
{
    return b.faces_in_view ? static_cast<double>(b.found_in_view) / static_cast<double>(b.faces_in_view) : NAN;
}

// Every bin of a run's tables, each key prefixed with its table's name.
std::vector<DetectBin> every_bin(const DetectRun& run)
{
    std::vector<DetectBin> all;
    const auto add = [&all](const std::string& table, std::vector<DetectBin> bins) {
        for (DetectBin& b : bins) {
            b.key = table + " " + b.key;
            all.push_back(b);
        }
    };
    add("type", bins_of_pairs(run.frames, [](const DetectPair& p) { return p.pallet < 0 ? std::string() : or_dash(p.true_type); }));
    add("distance", bins_of_pairs(run.frames, [](const DetectPair& p) { return distance_bin(p.distance_mm); }));
    add("yaw", bins_of_pairs(run.frames, [](const DetectPair& p) { return yaw_bin(p.yaw_deg); }));
    add("camera", bins_of_frames(run.frames, [](const DetectFrame& f) { return height_bin(f.mount.height_mm); }));
    add("group", bins_of_frames(run.frames, [](const DetectFrame& f) { return std::string(detect_group_name(f.group)); }));
    return all;
}

void write_run_tables(std::ostream& out, const DetectRun& run)
{
    out << "\n## `" << run.sensor << "`: by bin\n\n"
        << "Type, distance and yaw bins hold pairs (a false pallet by its own distance and yaw, in no type "
           "bin); camera height and group bins hold whole frames.\n";
    const auto table = [&out](const std::string& title, const std::string& key, const std::vector<DetectBin>& bins) {
        out << "\n### " << title << "\n\n";
        write_bin_head(out, key);
        for (const DetectBin& b : bins) write_bin_row(out, b);
    };
    table("By true type", "type",
          bins_of_pairs(run.frames, [](const DetectPair& p) { return p.pallet < 0 ? std::string() : or_dash(p.true_type); }));
    table("By distance ahead", "distance", bins_of_pairs(run.frames, [](const DetectPair& p) { return distance_bin(p.distance_mm); }));
    table("By |yaw| (degrees)", "yaw", bins_of_pairs(run.frames, [](const DetectPair& p) { return yaw_bin(p.yaw_deg); }));
    table("By camera height", "camera", bins_of_frames(run.frames, [](const DetectFrame& f) { return height_bin(f.mount.height_mm); }));
    table("By scene group", "group",
          bins_of_frames(run.frames, [](const DetectFrame& f) { return std::string(detect_group_name(f.group)); }));

    out << "\n### Reported type by true type (pallets in view or cut off)\n\n";
    const auto confusion = type_confusion(run.frames);
    std::vector<std::string> reported;
    for (const auto& [truth, row] : confusion) {
        for (const auto& [name, n] : row) {
            if (std::find(reported.begin(), reported.end(), name) == reported.end()) reported.push_back(name);
        }
    }
    std::sort(reported.begin(), reported.end());
    out << "| true type, reported as: |";
    for (const std::string& name : reported) out << " " << name << " |";
    out << "\n|---|";
    for (std::size_t k = 0; k < reported.size(); ++k) out << "---:|";
    out << "\n";
    for (const auto& [truth, row] : confusion) {
        out << "| " << truth << " |";
        for (const std::string& name : reported) {
            const auto found = row.find(name);
            out << " " << (found == row.end() ? 0 : found->second) << " |";
        }
        out << "\n";
    }
}

std::string column_name(const std::string& sensor)
{
    std::string name = sensor;
    std::replace(name.begin(), name.end(), ':', '_');
    return name;
}

// The plot data's columns: the key, then for every set its recall and centre errors (row[1 + 7 s]..).
std::vector<std::string> data_columns(const std::vector<DetectRun>& sets)
{
    std::vector<std::string> names = {"key"};
    for (const DetectRun& run : sets) {
        for (const char* suffix : {"_recall", "_x_p50", "_x_p95", "_y_p50", "_y_p95", "_z_p50", "_z_p95"}) {
            names.push_back(column_name(run.sensor) + suffix);
        }
    }
    return names;
}

// Plot data: one row per bin of the pair key, for every set its recall and centre errors.
void write_detect_plot_data(const std::string& path, const std::vector<DetectRun>& sets,
                            const std::function<double(const DetectPair&)>& key_of, double width)
{
    std::map<double, std::vector<std::string>> rows;
    for (std::size_t s = 0; s < sets.size(); ++s) {
        const std::vector<DetectBin> bins = bins_of_pairs(sets[s].frames, [&](const DetectPair& p) {
            const double key = key_of(p);
            if (p.pallet < 0 || !std::isfinite(key)) return std::string();
            return short_number((std::floor(key / width) + 0.5) * width);
        });
        for (const DetectBin& b : bins) {
            std::vector<std::string>& row = rows[std::stod(b.key)];
            row.resize(1 + 7 * sets.size(), "NaN");
            row[0] = b.key;
            row[1 + 7 * s] = plot_number(100.0 * recall_of(b));
            for (int k = 0; k < 3; ++k) {
                row[2 + 7 * s + 2 * k] = plot_number(b.centre_p50[k]);
                row[3 + 7 * s + 2 * k] = plot_number(b.centre_p95[k]);
            }
        }
    }
    std::vector<std::vector<std::string>> table;
    for (const auto& [key, row] : rows) table.push_back(row);
    write_plot_rows(path, data_columns(sets), table);
}

std::vector<Plot> detect_plots(const std::vector<DetectRun>& sets)
{
    const auto recall_plot = [&](const std::string& png, const std::string& data, const std::string& xlabel) {
        Plot plot{png, "Detector recall against " + xlabel + " (pallets fully in view)", xlabel, "", true, data,
                  data_columns(sets), {}};
        PlotPanel panel{"recall, %", PlotScale::percent, {}};
        for (std::size_t s = 0; s < sets.size(); ++s) {
            panel.series.push_back({column_name(sets[s].sensor) + "_recall", static_cast<int>(s) + 1, 1, sets[s].sensor});
        }
        plot.panels.push_back(panel);
        return plot;
    };
    Plot centre{"detector_centre_vs_distance.png",
                "Detector centre |error| against distance (matched pallets; solid: median, dashed: 95th percentile)",
                "distance ahead, m", "", false, "detector_by_distance.dat", data_columns(sets), {}};
    for (const char* axis : {"x", "y", "z"}) {
        PlotPanel panel{std::string("|") + axis + "|, mm", PlotScale::linear, {}};
        for (std::size_t s = 0; s < sets.size(); ++s) {
            const std::string prefix = column_name(sets[s].sensor) + "_" + axis;
            panel.series.push_back({prefix + "_p50", static_cast<int>(s) + 1, 1, sets[s].sensor + " p50"});
            panel.series.push_back({prefix + "_p95", static_cast<int>(s) + 1, 2, sets[s].sensor + " p95"});
        }
        centre.panels.push_back(panel);
    }
    return {recall_plot("detector_recall_vs_distance.png", "detector_by_distance.dat", "distance ahead, m"),
            recall_plot("detector_recall_vs_yaw.png", "detector_by_yaw.dat", "|yaw|, degrees"), centre};
}

}  // namespace

std::vector<TableColumn<DetectRow>> detect_pair_columns()
{
    std::vector<Column> columns = {
        text("sensor", [](const DetectRow& r) { return r.run->sensor; }),
        text("set", [](const DetectRow& r) { return r.run->set; }),
        whole("scene", [](const DetectRow& r) { return static_cast<long long>(r.frame->scene); }),
        text("group", [](const DetectRow& r) { return std::string(detect_group_name(r.frame->group)); }),
        text("variant", [](const DetectRow& r) { return r.frame->variant; }),
        text("seed", [](const DetectRow& r) { return std::to_string(r.frame->seed); }),
        decimal("noise_level", [](const DetectRow& r) { return r.frame->noise_level; }, 0),
        decimal("camera_height_mm", [](const DetectRow& r) { return r.frame->mount.height_mm; }, 1),
        decimal("camera_pitch_deg", [](const DetectRow& r) { return r.frame->mount.pitch_deg; }, 2),
        whole("detections", [](const DetectRow& r) { return static_cast<long long>(r.frame->detections); }),
        text("kind", [](const DetectRow& r) { return pair_kind(*r.pair); }),
        whole("pallet", [](const DetectRow& r) { return r.pair->pallet; }),
        whole("face", [](const DetectRow& r) { return r.pair->face; }),
        whole("detection", [](const DetectRow& r) { return r.pair->detection; }),
        whole("counted", [](const DetectRow& r) { return r.pair->counted ? 1 : 0; }),
        text("view", [](const DetectRow& r) { return r.pair->pallet < 0 ? std::string() : face_view_name(r.pair->view); }),
        text("model", [](const DetectRow& r) { return r.pair->model; }),
        text("true_type", [](const DetectRow& r) { return r.pair->true_type; }),
        text("reported_type", [](const DetectRow& r) { return r.pair->reported_type; }),
        decimal("distance_mm", [](const DetectRow& r) { return r.pair->distance_mm; }, 1),
        decimal("yaw_deg", [](const DetectRow& r) { return r.pair->yaw_deg; }, 2),
    };
    add_vector(columns, "true_", &DetectPair::true_centre);
    add_vector(columns, "centre_", &DetectPair::centre);
    add_vector(columns, "err_", &DetectPair::centre_error);
    columns.push_back(decimal("detected_yaw_deg", [](const DetectRow& r) { return r.pair->detected_yaw_deg; }, 4));
    columns.push_back(decimal("yaw_err_deg", [](const DetectRow& r) { return r.pair->yaw_error_deg; }, 4));
    columns.push_back(decimal("true_height_mm", [](const DetectRow& r) { return r.pair->true_height_mm; }, 1));
    columns.push_back(decimal("height_err_mm", [](const DetectRow& r) { return r.pair->height_error_mm; }));
    columns.push_back(whole("true_openings", [](const DetectRow& r) { return static_cast<long long>(r.pair->true_openings); }));
    columns.push_back(whole("pockets", [](const DetectRow& r) { return static_cast<long long>(r.pair->pockets); }));
    columns.push_back(decimal("opening_err_mm", [](const DetectRow& r) { return r.pair->opening_error_mm; }));
    columns.push_back(decimal("confidence", [](const DetectRow& r) { return r.pair->confidence; }, 4));
    return columns;
}

std::vector<DetectRow> detect_rows(const std::vector<DetectRun>& runs)
{
    std::vector<DetectRow> rows;
    for (const DetectRun& run : runs) {
        for (const DetectFrame& frame : run.frames) {
            for (const DetectPair& pair : frame.pairs) rows.push_back({&run, &frame, &pair});
        }
    }
    return rows;
}

void write_worst_bins(std::ostream& out, const DetectRun& run, std::size_t count, std::size_t min_faces)
{
    std::vector<DetectBin> bins = every_bin(run);
    std::vector<DetectBin> by_recall;
    std::vector<DetectBin> by_centre;
    for (const DetectBin& b : bins) {
        if (b.faces_in_view >= min_faces) by_recall.push_back(b);
        if (b.found >= min_faces && std::isfinite(largest_p95(b))) by_centre.push_back(b);
    }
    std::stable_sort(by_recall.begin(), by_recall.end(), [](const DetectBin& a, const DetectBin& b) { return recall_of(a) < recall_of(b); });
    std::stable_sort(by_centre.begin(), by_centre.end(),
                     [](const DetectBin& a, const DetectBin& b) { return largest_p95(a) > largest_p95(b); });
    by_recall.resize(std::min(count, by_recall.size()));
    by_centre.resize(std::min(count, by_centre.size()));
    out << "\nLowest recall (bins of " << min_faces << " pallets in view or more), `" << run.sensor << "`:\n\n";
    write_bin_head(out, "bin");
    for (const DetectBin& b : by_recall) write_bin_row(out, b);
    out << "\nLargest centre error, 95th percentile of the worst axis (bins of " << min_faces
        << " found pallets or more), `" << run.sensor << "`:\n\n";
    write_bin_head(out, "bin");
    for (const DetectBin& b : by_centre) write_bin_row(out, b);
}

void write_detect_summary(std::ostream& out, const std::vector<DetectRun>& sets, const std::vector<DetectRun>& effects,
                          std::uint64_t base_seed)
{
    out << "# The pallet detector against the truth\n\n"
        << "Seed " << base_seed << ". A detection matches a pallet when its centre lies within 100 mm of the "
        << "centre of a face of that pallet the camera sees and its yaw within 10 degrees of that face's; pairs "
        << "are taken nearest first, one to one. Recall counts the pallets whose most squarely seen face is "
        << "wholly in the image (cut-off faces apart); a detection that matches no pallet is a false pallet; a "
        << "pallet placed behind another counts neither way. Errors (|detected - true|, camera frame x right, "
        << "y down, z forward, mm) cover the matched pallets; medians and percentiles interpolate between "
        << "ranks.\n\n## Headline\n\n";
    write_headline(out, sets);
    if (!effects.empty()) {
        out << "\n## Each time-of-flight effect alone (working mount: camera 200 mm high, 6 degrees up; a "
               "1200 x 800 block pallet 1 to 2 m ahead, within 250 mm sideways and 20 degrees of yaw)\n\n";
        write_headline(out, effects);
    }
    out << "\n## Worst bins\n";
    for (const DetectRun& run : sets) write_worst_bins(out, run);
    for (const DetectRun& run : sets) write_run_tables(out, run);
}

DetectOutputs write_detect_outputs(const std::string& dir, const std::vector<DetectRun>& sets,
                                   const std::vector<DetectRun>& effects, std::uint64_t base_seed)
{
    DetectOutputs files;
    files.csv = dir + "/detector_pairs.csv";
    files.summary = dir + "/detector_summary.md";
    std::vector<DetectRun> runs = sets;
    runs.insert(runs.end(), effects.begin(), effects.end());
    write_file(files.csv, [&](std::ostream& out) { write_table_csv(out, detect_pair_columns(), detect_rows(runs)); });
    write_file(files.summary, [&](std::ostream& out) { write_detect_summary(out, sets, effects, base_seed); });
    if (!gnuplot_available()) {
        files.plots_skipped = "gnuplot is not installed";
        return files;
    }
    write_detect_plot_data(dir + "/detector_by_distance.dat", sets,
                           [](const DetectPair& p) { return p.distance_mm / 1000.0; }, 0.25);
    write_detect_plot_data(dir + "/detector_by_yaw.dat", sets, [](const DetectPair& p) { return std::abs(p.yaw_deg); }, 5.0);
    const std::vector<Plot> plots = detect_plots(sets);
    if (draw_plots(dir, "detector_plots.gp", plots, files.plots_skipped)) {
        for (const Plot& plot : plots) files.plots.push_back(dir + "/" + plot.png);
    }
    return files;
}
