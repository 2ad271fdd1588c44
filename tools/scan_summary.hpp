// What a pallet_scan run counted, the end-of-run summary and the progress line.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "analysis/frame_analysis.hpp"

// Analysis times counted in hundredths of a millisecond, the summary's resolution: its size is
// bounded by the range of the times, not by the number of frames of a run that never ends.
class TimeHistogram {
public:
    void add(double ms);
    std::uint64_t count() const { return count_; }
    std::size_t buckets() const { return counts_.size(); }
    // Nearest-rank percentile (fraction in (0, 1]), to the hundredth; 0 when there are none.
    double percentile(double fraction) const;

private:
    std::map<std::int64_t, std::uint64_t> counts_;  // hundredths of a ms -> frames
    std::uint64_t count_ = 0;
};

struct ScanTally {
    std::array<std::uint64_t, 3> outcomes{};  // indexed by PalletOutcome
    std::uint64_t failed_inputs = 0;          // files skipped as unreadable or unfit
    std::uint64_t frames_without_depth = 0;   // camera frame sets without a depth frame
    std::uint64_t frames_of_wrong_size = 0;   // camera depth frames that are not 640 x 480
    std::uint64_t failed_writes = 0;          // records, views or recorded frames not written
    TimeHistogram analysis_ms;                // every analysed frame
};

void count_analysed(ScanTally& tally, PalletOutcome outcome, double analysis_ms);

// The end-of-run summary, several lines, each ended by '\n'.
std::string summary_text(const ScanTally& tally);

// The progress line without line end: frames done, frames per second and, when the number of
// frames is known (total > 0), the time left.
std::string progress_text(std::uint64_t done, std::uint64_t total, double elapsed_s);
