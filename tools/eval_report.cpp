#include "tools/eval_report.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include <sys/stat.h>

#include "tools/eval_csv.hpp"
#include "tools/eval_plots.hpp"
#include "tools/eval_tables.hpp"

void write_file(const std::string& path, const std::function<void(std::ostream&)>& write)
{
    std::ofstream out(path);
    write(out);
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
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

OutputFiles write_outputs(const std::string& dir, const std::vector<SceneResult>& results,
                          std::uint64_t base_seed, const std::vector<SceneResult>& empty)
{
    make_output_folder(dir);
    OutputFiles files;
    files.csv = dir + "/scenes.csv";
    files.summary = dir + "/summary.md";
    write_file(files.csv, [&](std::ostream& out) { write_csv(out, scene_columns(), results); });
    if (!empty.empty()) {
        files.empty_csv = dir + "/empty_scenes.csv";
        write_file(files.empty_csv, [&](std::ostream& out) { write_csv(out, empty_scene_columns(), empty); });
    }
    write_file(files.summary, [&](std::ostream& out) { write_summary(out, results, base_seed, empty); });
    std::string reason;
    if (write_plots(dir, results, reason)) {
        for (const std::string& name : plot_names()) files.plots.push_back(dir + "/" + name);
    } else {
        files.plots_skipped = reason;
    }
    return files;
}
