#include "analysis/fast_views.hpp"

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"
#include "sim/render.hpp"
#include "sim/scene.hpp"

namespace {

using Frames = std::vector<std::pair<std::string, cv::Mat>>;

// The index of the first differing byte, or -1 when both images are the same.
long first_difference(const cv::Mat& a, const cv::Mat& b)
{
    if (a.size() != b.size() || a.type() != b.type()) return 0;
    const cv::Mat ca = a.isContinuous() ? a : a.clone();
    const cv::Mat cb = b.isContinuous() ? b : b.clone();
    const std::size_t bytes = ca.total() * ca.elemSize();
    for (std::size_t i = 0; i < bytes; ++i) {
        if (ca.data[i] != cb.data[i]) return static_cast<long>(i);
    }
    return -1;
}

// The fast views against the library's on every frame, with one table for all of them, as a
// workspace keeps it from frame to frame.
void expect_literal_views(const Frames& frames)
{
    ViewScratch scratch;
    for (const auto& [what, depth] : frames) {
        SCOPED_TRACE(what);
        const cv::Mat literal_view = make_depth_view(depth);
        cv::Mat literal_colour;
        cv::applyColorMap(literal_view, literal_colour, cv::COLORMAP_JET);
        const DepthViews& views = make_depth_views_fast(depth, scratch);
        EXPECT_EQ(first_difference(views.depth_view, literal_view), -1);
        EXPECT_EQ(first_difference(views.colour_view, literal_colour), -1);
    }
}

// Allocates every image with 64 guard bytes before and after its pixels and counts the images
// whose guards were overwritten when they are freed: an image writer that writes past its last
// pixel (or before its first) shows, though the library's own allocator would hide it in its
// alignment slack.
class GuardedAllocator : public cv::MatAllocator {
public:
    static constexpr std::size_t guard = 64;
    static constexpr std::uint8_t mark = 0xa5;
    mutable int overwritten = 0;

    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, std::size_t* step,
                           cv::AccessFlag, cv::UMatUsageFlags) const override
    {
        CV_Assert(data == nullptr);  // the writers under test allocate their own images
        std::size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; --i) {
            if (step != nullptr) step[i] = total;
            total *= static_cast<std::size_t>(sizes[i]);
        }
        auto* block = new std::uint8_t[total + 2 * guard];
        std::memset(block, mark, guard);
        std::memset(block + guard + total, mark, guard);
        auto* u = new cv::UMatData(this);
        u->origdata = block;
        u->data = block + guard;
        u->size = total;
        return u;
    }
    bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }
    void deallocate(cv::UMatData* u) const override
    {
        if (u == nullptr) return;
        const std::uint8_t* before = u->origdata;
        const std::uint8_t* after = u->data + u->size;
        for (std::size_t i = 0; i < guard; ++i) {
            if (before[i] != mark || after[i] != mark) {
                ++overwritten;
                break;
            }
        }
        delete[] u->origdata;
        delete u;
    }
};

cv::Mat filled(int rows, int cols, int value) { return cv::Mat(rows, cols, CV_16UC1, cv::Scalar(value)); }

cv::Mat noise(int rows, int cols, int lo, int hi_exclusive, unsigned seed)
{
    cv::Mat depth(rows, cols, CV_16UC1);
    cv::RNG rng(seed);
    rng.fill(depth, cv::RNG::UNIFORM, lo, hi_exclusive);
    return depth;
}

}  // namespace

TEST(FastViews, RenderedScenesEqualLiteral)
{
    sim::Scene still_pallet = sim::pallet_scene(1250.0);
    still_pallet.sensor.dropout_rate = 0.0;
    expect_literal_views({{"pallet seed 1", sim::render(sim::pallet_scene(1250.0), 1).depth},
                          {"pallet seed 7", sim::render(sim::pallet_scene(1250.0), 7).depth},
                          {"turned pallet", sim::render(sim::pallet_scene(1600.0, 120.0, 12.0), 3).depth},
                          {"pallet without dropouts", sim::render(still_pallet, 5).depth},
                          {"floor", sim::render(sim::floor_scene(), 2).depth},
                          {"warehouse", sim::render(sim::warehouse_scene(), 4).depth}});
}

TEST(FastViews, FlatAndTwoValueFramesEqualLiteral)
{
    cv::Mat checker(480, 640, CV_16UC1);
    for (int v = 0; v < 480; ++v) {
        for (int u = 0; u < 640; ++u) checker.at<std::uint16_t>(v, u) = (u + v) % 2 ? 1500 : 0;
    }
    cv::Mat halves = filled(480, 640, 65534);
    halves(cv::Rect(0, 0, 320, 480)).setTo(65535);
    expect_literal_views({{"all zero", filled(480, 640, 0)},
                          {"all 1234", filled(480, 640, 1234)},
                          {"all 65535", filled(480, 640, 65535)},
                          {"0 and 1500 alternating", checker},
                          {"65534 and 65535", halves}});
}

TEST(FastViews, FullRangeAndNoiseEqualLiteral)
{
    // Every 16-bit value at least four times, and noise over wide, narrow and high ranges: each
    // range gives other grey levels, computed or looked up.
    cv::Mat every_value(480, 640, CV_16UC1);
    for (int i = 0; i < 480 * 640; ++i) every_value.at<std::uint16_t>(i) = static_cast<std::uint16_t>(i);
    Frames frames{{"every value", every_value},
                  {"noise 0..65535", noise(480, 640, 0, 65536, 1)},
                  {"noise near the top", noise(480, 640, 65000, 65536, 2)},
                  {"noise 40000..40003", noise(480, 640, 40000, 40004, 3)},
                  {"noise 0..1", noise(480, 640, 0, 2, 4)}};
    std::mt19937 rng(5);
    for (int k = 0; k < 12; ++k) {  // ranges of every size, mostly not dividing 255
        const int lo = std::uniform_int_distribution<int>(0, 30000)(rng);
        const int span = std::uniform_int_distribution<int>(1, 35000)(rng);
        frames.emplace_back("noise " + std::to_string(lo) + " + " + std::to_string(span),
                            noise(480, 640, lo, lo + span + 1, 10 + static_cast<unsigned>(k)));
    }
    expect_literal_views(frames);
}

TEST(FastViews, RunsAndSinglePixelsEqualLiteral)
{
    // Zeros with a single return, first or last or in between; long runs of zeros broken at
    // every offset; runs of one depth ending at the last pixel of each row.
    cv::Mat last = filled(480, 640, 0);
    last.at<std::uint16_t>(479, 639) = 2000;
    cv::Mat first = filled(480, 640, 0);
    first.at<std::uint16_t>(0, 0) = 2000;
    cv::Mat middle = filled(480, 640, 0);
    middle.at<std::uint16_t>(241, 333) = 65535;
    cv::Mat broken_runs = filled(480, 640, 0);
    for (int v = 0; v < 480; ++v) {
        broken_runs.at<std::uint16_t>(v, (v * 37) % 640) = static_cast<std::uint16_t>(900 + v);
    }
    cv::Mat row_ends = noise(480, 640, 1000, 3000, 6);
    for (int v = 0; v < 480; ++v) {
        const int run = 1 + v % 97;  // 1..97 pixels of one depth up to the row's end
        row_ends(cv::Rect(640 - run, v, run, 1)).setTo(v % 3 == 0 ? 0 : 2500 + v);
    }
    cv::Mat runs_of_all_lengths(480, 640, CV_16UC1);
    std::uint16_t* d = runs_of_all_lengths.ptr<std::uint16_t>(0);
    for (int i = 0, length = 1, value = 0; i < 480 * 640; ++length, value = (value + 1337) % 6000) {
        for (int k = 0; k < length % 150 + 1 && i < 480 * 640; ++k) {
            d[i++] = static_cast<std::uint16_t>(value);
        }
    }
    expect_literal_views({{"one return, last pixel", last},
                          {"one return, first pixel", first},
                          {"one 65535 in zeros", middle},
                          {"zero runs broken once a row", broken_runs},
                          {"runs up to the row ends", row_ends},
                          {"runs of every length", runs_of_all_lengths}});
}

TEST(FastViews, OddSizesAndWindowsEqualLiteral)
{
    // Images whose pixel count leaves a tail after every vector step, down to one pixel, and a
    // window of a larger image (rows not continuous).
    const cv::Mat big = noise(100, 300, 0, 9000, 7);
    expect_literal_views({{"1 x 1", filled(1, 1, 777)},
                          {"1 x 2", noise(1, 2, 0, 5000, 8)},
                          {"3 x 35", noise(3, 35, 0, 5000, 9)},
                          {"7 x 641", noise(7, 641, 100, 60000, 10)},
                          {"33 x 67 with a zero run to the end", [] {
                               cv::Mat m = noise(33, 67, 0, 5000, 11);
                               m(cv::Rect(0, 30, 67, 3)).setTo(0);
                               return m;
                           }()},
                          {"window 61 x 129", big(cv::Rect(17, 9, 129, 61))}});
}

TEST(FastViews, NothingWrittenPastTheImages)
{
    static GuardedAllocator guarded;  // outlives every image it made
    cv::MatAllocator* const standard = cv::Mat::getDefaultAllocator();
    cv::Mat::setDefaultAllocator(&guarded);
    {
        cv::Mat overrun(3, 5, CV_8UC3);  // the guard itself must catch one byte too many
        overrun.data[overrun.total() * 3] = 0;
    }
    const int caught = guarded.overwritten;
    guarded.overwritten = 0;
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 1), cv::Size(35, 3), cv::Size(67, 33),
                                cv::Size(641, 7), cv::Size(640, 480)}) {
        const cv::Mat depth = noise(size.height, size.width, 0, 6000, 12);
        cv::Mat zeros_to_the_end = depth.clone();
        zeros_to_the_end.row(size.height - 1).setTo(0);
        for (const cv::Mat& d : {depth, zeros_to_the_end}) {
            ViewScratch scratch;
            make_depth_views_fast(d, scratch);
        }
    }
    cv::Mat::setDefaultAllocator(standard);
    EXPECT_EQ(caught, 1);
    EXPECT_EQ(guarded.overwritten, 0);
}
