// What a pallet_scan run counted, the end-of-run summary and the progress line.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/frame_analysis.hpp"

struct ScanTally {
    std::array<std::uint64_t, 3> outcomes{};  // indexed by PalletOutcome
    std::uint64_t failed_inputs = 0;          // files skipped as unreadable or unfit
    std::uint64_t frames_without_depth = 0;   // camera frame sets without a depth frame
    std::uint64_t frames_of_wrong_size = 0;   // camera depth frames that are not 640 x 480
    std::uint64_t failed_writes = 0;          // records, views or recorded frames not written
    std::vector<double> analysis_ms;          // one per analysed frame
};

void count_analysed(ScanTally& tally, PalletOutcome outcome, double analysis_ms);

// Nearest-rank percentile (fraction in (0, 1]) of the times; 0 when there are none.
double percentile_ms(std::vector<double> times, double fraction);

// The end-of-run summary, several lines, each ended by '\n'.
std::string summary_text(const ScanTally& tally);

// The progress line without line end: frames done, frames per second and, when the number of
// frames is known (total > 0), the time left.
std::string progress_text(std::uint64_t done, std::uint64_t total, double elapsed_s);
