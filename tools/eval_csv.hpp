// The sweep's CSV files, each written from one table of columns: a column's name and its value
// side by side, so that the header and the rows cannot part.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/eval_sweep.hpp"

// One column: its header name and its text for a row (its number in the file, the row's item).
// An empty text is a value that was not measured or is not finite.
template <typename Row>
struct TableColumn {
    std::string name;
    std::function<std::string(std::size_t row, const Row& item)> value;
};

// The header line and one line per row, fields separated by commas.
template <typename Row>
void write_table_csv(std::ostream& out, const std::vector<TableColumn<Row>>& columns, const std::vector<Row>& rows)
{
    for (std::size_t k = 0; k < columns.size(); ++k) out << (k == 0 ? "" : ",") << columns[k].name;
    out << '\n';
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (std::size_t k = 0; k < columns.size(); ++k) out << (k == 0 ? "" : ",") << columns[k].value(row, rows[row]);
        out << '\n';
    }
}

// A column of a scene's result.
using CsvColumn = TableColumn<SceneResult>;

// scenes.csv: parameters, seed, the fixed outcome and its errors, then the dock_* columns.
std::vector<CsvColumn> scene_columns();

// empty_scenes.csv: mount, noise, seed, the fixed outcome, the verdict and the floor's errors.
std::vector<CsvColumn> empty_scene_columns();

// The header line and one line per result, fields separated by commas.
void write_csv(std::ostream& out, const std::vector<CsvColumn>& columns,
               const std::vector<SceneResult>& results);
