// The sweep's CSV files, each written from one table of columns: a column's name and its value
// side by side, so that the header and the rows cannot part.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

// One column: its header name and its text for the row of a scene (its number in the file, the
// scene's result). An empty text is a value that was not measured or is not finite.
struct CsvColumn {
    std::string name;
    std::function<std::string(std::size_t row, const SceneResult& result)> value;
};

// scenes.csv: parameters, seed, the fixed outcome and its errors, then the dock_* columns.
std::vector<CsvColumn> scene_columns();

// empty_scenes.csv: mount, noise, seed, the fixed outcome, the verdict and the floor's errors.
std::vector<CsvColumn> empty_scene_columns();

// The header line and one line per result, fields separated by commas.
void write_csv(std::ostream& out, const std::vector<CsvColumn>& columns,
               const std::vector<SceneResult>& results);
