#include "analysis/range_masks.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace {

using Points = std::vector<cv::Point3d>;

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();

// A point inside all three bands.
const cv::Point3d in_band(100.0, -1000.0, 100.0);

Points no_measurement()
{
    return Points(480 * 640, cv::Point3d(0.0, 0.0, 0.0));
}

cv::Point3d& at(Points& points, int v, int u)
{
    return points[static_cast<std::size_t>(v) * 640 + static_cast<std::size_t>(u)];
}

struct BandCase {
    double value;
    bool inside;
};

// Puts each case's value in one component of its own pixel (row 10 + 3 * k, column 50), the other
// components in band, and checks the mask there.
void check_band(const std::vector<BandCase>& cases, double cv::Point3d::*component,
                cv::Mat (*make_mask)(const Points&))
{
    Points points = no_measurement();
    for (std::size_t k = 0; k < cases.size(); ++k) {
        cv::Point3d& p = at(points, 10 + 3 * static_cast<int>(k), 50);
        p = in_band;
        p.*component = cases[k].value;
    }
    const cv::Mat mask = make_mask(points);
    ASSERT_EQ(mask.type(), CV_8UC1);
    ASSERT_EQ(mask.size(), cv::Size(640, 480));
    for (std::size_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(mask.at<uchar>(10 + 3 * static_cast<int>(k), 50), cases[k].inside ? 255 : 0)
            << "value " << cases[k].value;
    }
    EXPECT_EQ(cv::countNonZero(mask), static_cast<int>(std::count_if(
        cases.begin(), cases.end(), [](const BandCase& c) { return c.inside; })));
}

// A staircase of 16 steps (10 x 10 px each, widening by 10 px per step) traces to 49 points
// after the blur and the opening; cutting its top-left corner on the diagonal adds one.
cv::Mat staircase(cv::Mat mask, cv::Point origin, bool chamfered)
{
    for (int s = 0; s < 16; ++s) {
        cv::rectangle(mask, cv::Rect(origin.x, origin.y + 10 * s, 10 * s + 20, 10), 255, cv::FILLED);
    }
    if (chamfered) {
        for (int d = 0; d < 6; ++d) {
            for (int x = 0; x < 6 - d; ++x) {
                mask.at<uchar>(origin.y + d, origin.x + x) = 0;
            }
        }
    }
    return mask;
}

}  // namespace

TEST(RangeMasks, HeightBandEdges)
{
    check_band({{40.9, false}, {41.0, true}, {240.99, true}, {241.0, false}, {23.9, false},
                {24.0, false}, {100.0, true}, {-100.0, true}, {-41.0, true}, {-241.0, false},
                {0.0, false}},
               &cv::Point3d::z, make_height_mask);
}

TEST(RangeMasks, HeightThatIsNotFiniteOrBeyond16BitsIsOutside)
{
    // 65577 would wrap to 41 in 16 bits and 65536 to 0.
    check_band({{not_a_number, false}, {infinity, false}, {-infinity, false}, {65536.0, false}, {65577.0, false},
                {-65577.0, false}, {65535.9, false}, {240.0, true}},
               &cv::Point3d::z, make_height_mask);
}

TEST(RangeMasks, DepthBandEdges)
{
    check_band({{-400.0, true}, {-2000.0, true}, {-399.9, false}, {-2000.1, false}, {0.0, false},
                {-1000.0, true}, {400.0, false}, {not_a_number, false}, {-infinity, false}, {infinity, false}},
               &cv::Point3d::y, make_depth_band_mask);
}

TEST(RangeMasks, LateralBandEdgesAndRounding)
{
    // |x'| is rounded half to even: 0.5 becomes 0 (outside), 1.5 becomes 2 (inside).
    check_band({{600.0, true}, {-600.0, true}, {600.1, false}, {-600.1, false}, {0.4, false},
                {-0.3, false}, {0.0, false}, {0.6, true}, {0.5, false}, {-0.5, false},
                {1.5, true}, {-1.5, true}, {not_a_number, false}, {infinity, false}, {-infinity, false}},
               &cv::Point3d::x, make_lateral_band_mask);
}

TEST(RangeMasks, DepthBandCoveringTheWholeFrame)
{
    // Otsu on an image of a single value still keeps every pixel.
    const Points points(480 * 640, in_band);
    EXPECT_EQ(cv::countNonZero(make_depth_band_mask(points)), 480 * 640);
    EXPECT_EQ(cv::countNonZero(make_combined_band_mask(points)), 480 * 640);
}

TEST(RangeMasks, CombinedMaskNeedsAllThreeBands)
{
    Points points = no_measurement();
    at(points, 5, 5) = in_band;
    at(points, 5, 6) = cv::Point3d(in_band.x, in_band.y, 30.0);     // height out
    at(points, 5, 7) = cv::Point3d(in_band.x, -300.0, in_band.z);   // depth band out
    at(points, 5, 8) = cv::Point3d(700.0, in_band.y, in_band.z);    // lateral band out
    at(points, 5, 9) = cv::Point3d(-600.0, -2000.0, -240.5);        // on every edge, in
    const cv::Mat combined = make_combined_band_mask(points);
    EXPECT_EQ(combined.at<uchar>(5, 5), 255);
    EXPECT_EQ(combined.at<uchar>(5, 6), 0);
    EXPECT_EQ(combined.at<uchar>(5, 7), 0);
    EXPECT_EQ(combined.at<uchar>(5, 8), 0);
    EXPECT_EQ(combined.at<uchar>(5, 9), 255);
    EXPECT_EQ(cv::countNonZero(combined), 2);
}

TEST(RangeMasks, NoMeasurementAnywhereGivesNothing)
{
    const Points points = no_measurement();
    EXPECT_EQ(cv::countNonZero(make_height_mask(points)), 0);
    EXPECT_EQ(cv::countNonZero(make_depth_band_mask(points)), 0);
    EXPECT_EQ(cv::countNonZero(make_lateral_band_mask(points)), 0);
    const cv::Mat combined = make_combined_band_mask(points);
    EXPECT_EQ(cv::countNonZero(combined), 0);
    EXPECT_TRUE(find_candidate_contours(combined).empty());
}

TEST(CandidateContours, KeepsContoursOfFiftyPointsOrMore)
{
    cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
    staircase(mask, {20, 20}, false);    // 49 points
    staircase(mask, {300, 20}, true);    // 50 points
    const std::vector<Contour> kept = find_candidate_contours(mask);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].size(), 50u);
    EXPECT_GE(cv::boundingRect(kept[0]).x, 299);

    cv::Mat alone = cv::Mat::zeros(480, 640, CV_8UC1);
    EXPECT_TRUE(find_candidate_contours(staircase(alone, {20, 20}, false)).empty());
}

TEST(CandidateContours, UprightRectanglesAndThinRegionsAreDropped)
{
    // A rectangle of any size traces to 4 points.
    cv::Mat rectangle = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::rectangle(rectangle, cv::Rect(50, 50, 500, 350), 255, cv::FILLED);
    EXPECT_TRUE(find_candidate_contours(rectangle).empty());

    // Regions 1 or 2 px wide are 3 or 4 px after the blur: narrower than the 5 x 5 square.
    // Drawn as staircases, they would have plenty of points if they survived.
    cv::Mat thin = cv::Mat::zeros(480, 640, CV_8UC1);
    for (int s = 0; s < 40; ++s) {
        cv::rectangle(thin, cv::Rect(10 + 4 * s, 10 + 4 * s, 5, 2), 255, cv::FILLED);   // 2 px tall
        cv::rectangle(thin, cv::Rect(300 + 4 * s, 10 + 4 * s, 1, 5), 255, cv::FILLED);  // 1 px wide
    }
    EXPECT_TRUE(find_candidate_contours(thin).empty());
}

TEST(CandidateContours, RegionWithAHoleGivesOuterAndHoleBoundaries)
{
    // Staircase outside, staircase-shaped hole inside: both boundaries are long enough.
    cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::rectangle(mask, cv::Rect(20, 20, 600, 440), 255, cv::FILLED);
    for (int s = 0; s < 18; ++s) {
        cv::rectangle(mask, cv::Rect(20 + 580 - 10 * s, 20 + 10 * s, 10 * s + 20, 10), 0, cv::FILLED);
    }
    for (int s = 0; s < 20; ++s) {
        cv::rectangle(mask, cv::Rect(100, 150 + 10 * s, 10 * s + 20, 10), 0, cv::FILLED);
    }
    const std::vector<Contour> kept = find_candidate_contours(mask);
    ASSERT_EQ(kept.size(), 2u);
    // The outer boundary comes first and encloses the hole.
    EXPECT_GT(cv::contourArea(kept[0]), cv::contourArea(kept[1]));
    EXPECT_TRUE(cv::boundingRect(kept[0]).contains(kept[1][0]));

    // The same hole in a plain rectangle: the 4-point outer boundary goes, the hole stays.
    cv::Mat plain = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::rectangle(plain, cv::Rect(20, 20, 600, 440), 255, cv::FILLED);
    for (int s = 0; s < 20; ++s) {
        cv::rectangle(plain, cv::Rect(100, 150 + 10 * s, 10 * s + 20, 10), 0, cv::FILLED);
    }
    const std::vector<Contour> hole_only = find_candidate_contours(plain);
    ASSERT_EQ(hole_only.size(), 1u);
    EXPECT_GE(cv::boundingRect(hole_only[0]).x, 99);
}

TEST(CandidateContours, BlurGrowsRegionsByOnePixel)
{
    // A staircase of in-band points 199 px wide and 170 px tall, built as an aligned point list.
    Points points = no_measurement();
    for (int s = 0; s < 17; ++s) {
        const int width = s == 16 ? 199 : 10 * s + 20;
        for (int v = 100 + 10 * s; v < 110 + 10 * s; ++v) {
            for (int u = 200; u < 200 + width; ++u) {
                at(points, v, u) = in_band;
            }
        }
    }
    const cv::Mat combined = make_combined_band_mask(points);
    EXPECT_EQ(cv::boundingRect(combined), cv::Rect(200, 100, 199, 170));
    const std::vector<Contour> kept = find_candidate_contours(combined);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(cv::boundingRect(kept[0]), cv::Rect(199, 99, 201, 172));
}

TEST(RangeMasks, KeptScratchGivesThePlainMasksInItsOwnImages)
{
    // Lists that differ everywhere: values around every band edge and beyond, non-finite ones
    // included; nothing measured; every point in band; the first list again.
    const double values[] = {0.0,    0.4,    0.5,    0.6,   23.9,   41.0,  240.99, 241.0,
                             -400.0, -399.9, -2000.0, -2000.1, 600.0, 600.1, -600.0, 70000.0,
                             1e300,  infinity, -infinity, not_a_number};
    cv::RNG rng(5);
    Points mixed(480 * 640);
    for (cv::Point3d& p : mixed) {
        const auto pick = [&] {
            return rng.uniform(0, 4) == 0 ? values[rng.uniform(0, static_cast<int>(std::size(values)))]
                                          : rng.uniform(-2500.0, 2500.0);
        };
        p = cv::Point3d(pick(), pick() - 1000.0, pick() / 10.0);
    }
    const Points lists[] = {mixed, no_measurement(), Points(480 * 640, in_band), mixed};

    BandMaskScratch scratch;
    const uchar* storage = nullptr;
    for (std::size_t k = 0; k < std::size(lists); ++k) {
        SCOPED_TRACE("list " + std::to_string(k));
        const Points& points = lists[k];
        const auto same = [](const cv::Mat& a, const cv::Mat& b) {
            return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
        };
        EXPECT_TRUE(same(make_height_mask(points, scratch), make_height_mask(points)));
        EXPECT_TRUE(same(make_depth_band_mask(points, scratch), make_depth_band_mask(points)));
        EXPECT_TRUE(same(make_lateral_band_mask(points, scratch), make_lateral_band_mask(points)));
        const cv::Mat& combined = make_combined_band_mask(points, scratch);
        const cv::Mat plain = make_combined_band_mask(points);
        EXPECT_TRUE(same(combined, plain));
        EXPECT_EQ(&combined, &scratch.combined_band_mask);
        if (storage != nullptr) {
            EXPECT_EQ(combined.data, storage) << "a new image";
        }
        storage = combined.data;
        if (k == 0) {
            EXPECT_GT(cv::countNonZero(plain), 1000);
        }
    }
}

TEST(CandidateContours, KeptScratchGivesThePlainContours)
{
    cv::Mat holed = cv::Mat::zeros(480, 640, CV_8UC1);
    cv::rectangle(holed, cv::Rect(20, 20, 600, 440), 255, cv::FILLED);
    for (int s = 0; s < 20; ++s) {
        cv::rectangle(holed, cv::Rect(100, 150 + 10 * s, 10 * s + 20, 10), 0, cv::FILLED);
    }
    const cv::Mat stairs = staircase(cv::Mat::zeros(480, 640, CV_8UC1), {300, 20}, true);

    // A window first (smaller filtered images), then whole masks that differ, then nothing.
    ContourScratch scratch;
    const cv::Rect window(280, 10, 250, 200);
    EXPECT_EQ(find_candidate_contours_in(stairs(window), window.tl(), scratch),
              find_candidate_contours_in(stairs(window), window.tl()));
    for (const cv::Mat& mask : {holed, stairs, holed, cv::Mat(cv::Mat::zeros(480, 640, CV_8UC1))}) {
        const std::vector<Contour> plain = find_candidate_contours(mask);
        EXPECT_EQ(find_candidate_contours(mask, scratch), plain);
        EXPECT_EQ(scratch.region.size(), mask.size());
    }
    EXPECT_EQ(find_candidate_contours(holed, scratch).size(), 1u);
    EXPECT_EQ(find_candidate_contours(stairs, scratch).size(), 1u);
}
