#include "tools/scan_summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

void count_analysed(ScanTally& tally, PalletOutcome outcome, double analysis_ms)
{
    ++tally.outcomes[static_cast<std::size_t>(outcome)];
    tally.analysis_ms.add(analysis_ms);
}

void TimeHistogram::add(double ms)
{
    // A time that is not finite or not positive (a clock step) counts as 0.
    const double hundredths = std::isfinite(ms) ? std::clamp(ms * 100.0, 0.0, 1e15) : 0.0;
    ++counts_[std::llround(hundredths)];
    ++count_;
}

double TimeHistogram::percentile(double fraction) const
{
    if (count_ == 0) return 0.0;
    const double rank = std::ceil(fraction * static_cast<double>(count_));
    const auto wanted = std::min(static_cast<std::uint64_t>(std::max(rank, 1.0)), count_);
    std::uint64_t seen = 0;
    for (const auto& [hundredths, frames] : counts_) {
        seen += frames;
        if (seen >= wanted) return static_cast<double>(hundredths) / 100.0;
    }
    return static_cast<double>(counts_.rbegin()->first) / 100.0;
}

std::string summary_text(const ScanTally& tally)
{
    char text[512];
    const auto count = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
    int length = std::snprintf(
        text, sizeof text,
        "pallet_scan: %llu frames analysed: %llu pallet_found, %llu no_pallet, %llu no_contour\n",
        count(tally.analysis_ms.count()),
        count(tally.outcomes[static_cast<std::size_t>(PalletOutcome::pallet_found)]),
        count(tally.outcomes[static_cast<std::size_t>(PalletOutcome::no_pallet)]),
        count(tally.outcomes[static_cast<std::size_t>(PalletOutcome::no_contour)]));
    std::string summary(text, static_cast<std::size_t>(length));
    if (tally.analysis_ms.count() > 0) {
        length = std::snprintf(text, sizeof text,
                               "pallet_scan: analysis time: median %.2f ms, 95th percentile %.2f ms\n",
                               tally.analysis_ms.percentile(0.5),
                               tally.analysis_ms.percentile(0.95));
        summary.append(text, static_cast<std::size_t>(length));
    }
    const std::uint64_t skipped =
        tally.failed_inputs + tally.frames_without_depth + tally.frames_of_wrong_size;
    if (skipped > 0) {
        length = std::snprintf(text, sizeof text,
                               "pallet_scan: %llu skipped: %llu unusable input files, %llu frames "
                               "without depth, %llu frames of a wrong size\n",
                               count(skipped), count(tally.failed_inputs),
                               count(tally.frames_without_depth), count(tally.frames_of_wrong_size));
        summary.append(text, static_cast<std::size_t>(length));
    }
    if (tally.failed_writes > 0) {
        length = std::snprintf(text, sizeof text, "pallet_scan: %llu writes failed\n",
                               count(tally.failed_writes));
        summary.append(text, static_cast<std::size_t>(length));
    }
    return summary;
}

std::string progress_text(std::uint64_t done, std::uint64_t total, double elapsed_s)
{
    const double fps = elapsed_s > 0.0 ? static_cast<double>(done) / elapsed_s : 0.0;
    char text[160];
    int length = total > 0 ? std::snprintf(text, sizeof text, "%llu/%llu frames  %.1f fps",
                                           static_cast<unsigned long long>(done),
                                           static_cast<unsigned long long>(total), fps)
                           : std::snprintf(text, sizeof text, "%llu frames  %.1f fps",
                                           static_cast<unsigned long long>(done), fps);
    std::string line(text, static_cast<std::size_t>(length));
    if (total > 0 && fps > 0.0 && done <= total) {
        const auto left_s = static_cast<unsigned long long>(
            std::llround(static_cast<double>(total - done) / fps));
        length = std::snprintf(text, sizeof text, "  %llu:%02llu left", left_s / 60, left_s % 60);
        line.append(text, static_cast<std::size_t>(length));
    }
    return line;
}
