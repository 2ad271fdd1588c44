#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/scan_summary.hpp"

namespace {

TimeHistogram histogram_of(const std::vector<double>& times)
{
    TimeHistogram histogram;
    for (const double ms : times) histogram.add(ms);
    return histogram;
}

}  // namespace

TEST(ScanSummary, NearestRankPercentiles)
{
    EXPECT_EQ(histogram_of({}).percentile(0.5), 0.0);
    EXPECT_EQ(histogram_of({7.0}).percentile(0.95), 7.0);
    // Unsorted on purpose: 1..20 shuffled.
    const TimeHistogram times = histogram_of({20, 3, 17, 1, 9, 12, 5, 14, 2, 19,
                                              8, 11, 4, 16, 6, 13, 10, 18, 7, 15});
    EXPECT_EQ(times.percentile(0.5), 10.0);   // rank ceil(10) = 10
    EXPECT_EQ(times.percentile(0.95), 19.0);  // rank ceil(19) = 19
    EXPECT_EQ(times.percentile(1.0), 20.0);
    EXPECT_EQ(histogram_of({4.0, 1.0, 3.0}).percentile(0.5), 3.0);  // rank ceil(1.5) = 2
    // Repeated values: ranks fall inside one bucket.
    EXPECT_EQ(histogram_of({5, 5, 5, 1, 9}).percentile(0.5), 5.0);
    EXPECT_EQ(histogram_of({5, 5, 5, 1, 9}).percentile(0.2), 1.0);
}

TEST(ScanSummary, TimesToTheHundredthInBoundedMemory)
{
    EXPECT_DOUBLE_EQ(histogram_of({0.214}).percentile(0.5), 0.21);
    EXPECT_DOUBLE_EQ(histogram_of({0.216}).percentile(0.5), 0.22);
    EXPECT_EQ(histogram_of({-1.0, std::nan("")}).percentile(1.0), 0.0);

    // A long run holds one bucket per distinct hundredth, not one entry per frame.
    TimeHistogram long_run;
    for (int frame = 0; frame < 1'000'000; ++frame) long_run.add(0.2 + 0.01 * (frame % 300));
    EXPECT_EQ(long_run.count(), 1'000'000u);
    EXPECT_EQ(long_run.buckets(), 300u);
    EXPECT_NEAR(long_run.percentile(0.5), 0.2 + 0.01 * 149, 1e-9);
}

TEST(ScanSummary, CountsEveryOutcomeAndSkip)
{
    ScanTally tally;
    count_analysed(tally, PalletOutcome::pallet_found, 2.0);
    count_analysed(tally, PalletOutcome::pallet_found, 4.0);
    count_analysed(tally, PalletOutcome::no_pallet, 6.0);
    count_analysed(tally, PalletOutcome::no_contour, 8.0);
    count_analysed(tally, PalletOutcome::no_contour, 10.0);
    count_analysed(tally, PalletOutcome::no_contour, 12.0);
    tally.failed_inputs = 2;
    tally.frames_without_depth = 1;
    const std::string text = summary_text(tally);
    EXPECT_NE(text.find("6 frames analysed: 2 pallet_found, 1 no_pallet, 3 no_contour"),
              std::string::npos) << text;
    EXPECT_NE(text.find("median 6.00 ms, 95th percentile 12.00 ms"), std::string::npos) << text;
    EXPECT_NE(text.find("3 skipped: 2 unusable input files, 1 frames without depth"),
              std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');

    const std::string empty = summary_text(ScanTally{});
    EXPECT_NE(empty.find("0 frames analysed"), std::string::npos);
    EXPECT_EQ(empty.find("median"), std::string::npos);
}

TEST(ScanSummary, ProgressLine)
{
    EXPECT_EQ(progress_text(30, 90, 2.0), "30/90 frames  15.0 fps  0:04 left");
    EXPECT_EQ(progress_text(30, 0, 2.0), "30 frames  15.0 fps");         // camera: no end known
    EXPECT_EQ(progress_text(0, 10, 0.0), "0/10 frames  0.0 fps");        // nothing to divide by
    EXPECT_EQ(progress_text(10, 7210, 1.0), "10/7210 frames  10.0 fps  12:00 left");
}
