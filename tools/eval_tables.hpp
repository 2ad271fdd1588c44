// The sweep's summary.md: Markdown tables of the fixed report per bin of every axis and its angle
// lines, then the dock measurement's ranges, frames without a pallet, reasons, axes and
// confidence bins.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <vector>

#include "tools/eval_sweep.hpp"

// The whole summary: the fixed report's tables, then write_dock_summary's section.
void write_summary(std::ostream& out, const std::vector<SceneResult>& results, std::uint64_t base_seed,
                   const std::vector<SceneResult>& empty = {});

// The dock section: the working envelope beside the other ranges, the floor-only scenes and the
// fixed analysis's floor "pallets", the reasons, a table per axis and the confidence bins.
void write_dock_summary(std::ostream& out, const std::vector<SceneResult>& results,
                        const std::vector<SceneResult>& empty);
