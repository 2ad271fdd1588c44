#include "analysis/fast_views.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "analysis/depth_intake.hpp"

namespace {

// The library's JET colour of every grey level as blue, green, red and a spare byte, so that a
// pixel's colour is written with one four-byte store.
const std::array<std::uint32_t, 256>& jet_colours()
{
    static const std::array<std::uint32_t, 256> colours = [] {
        cv::Mat levels(1, 256, CV_8UC1);
        for (int i = 0; i < 256; ++i) levels.at<std::uint8_t>(i) = static_cast<std::uint8_t>(i);
        cv::Mat jet;
        cv::applyColorMap(levels, jet, cv::COLORMAP_JET);
        std::array<std::uint32_t, 256> c{};
        for (int i = 0; i < 256; ++i) {
            const cv::Vec3b bgr = jet.at<cv::Vec3b>(i);
            c[static_cast<std::size_t>(i)] = bgr[0] | (bgr[1] << 8) | (static_cast<std::uint32_t>(bgr[2]) << 16);
        }
        return c;
    }();
    return colours;
}

// The smallest and largest value, compared with their top bit flipped, as signed: baseline
// x86-64 has signed 16-bit vector minimum and maximum only, and the compiler vectorises this form.
void value_range(const std::uint16_t* values, std::size_t total, int& lo, int& hi)
{
    std::int16_t smallest = INT16_MAX, largest = INT16_MIN;
    for (std::size_t i = 0; i < total; ++i) {
        const auto x = static_cast<std::int16_t>(values[i] ^ 0x8000u);
        smallest = std::min(smallest, x);
        largest = std::max(largest, x);
    }
    lo = (smallest ^ 0x8000) & 0xffff;
    hi = (largest ^ 0x8000) & 0xffff;
}

}  // namespace

DepthViews& make_depth_views_fast(const cv::Mat& depth, ViewScratch& scratch)
{
    CV_Assert(depth.type() == CV_16UC1);
    const cv::Mat values = depth.isContinuous() ? depth : depth.clone();
    DepthViews& views = scratch.views;
    views.depth_view.create(depth.size(), CV_8UC1);
    views.colour_view.create(depth.size(), CV_8UC3);
    if (values.empty()) return views;
    std::vector<std::uint8_t>& grey_levels = scratch.grey_levels;
    int lo = 0, hi = 0;
    value_range(values.ptr<std::uint16_t>(), values.total(), lo, hi);
    // Every value from lo to hi once: the ramp's own range is the frame's, so the library scales
    // each value exactly as it scales the frame's pixels of that value. Padded with hi to whole
    // blocks of 64, so that no value takes the library's scalar tail instead of its vector loop.
    const int count = hi - lo + 1;
    cv::Mat ramp(1, (count + 63) / 64 * 64, CV_16UC1, cv::Scalar(hi));
    for (int i = 0; i < count; ++i) ramp.at<std::uint16_t>(i) = static_cast<std::uint16_t>(lo + i);
    grey_levels.resize(ramp.total());
    cv::Mat levels(ramp.size(), CV_8UC1, grey_levels.data());
    make_depth_view(ramp).copyTo(levels);  // into grey_levels: same size and type

    const std::uint16_t* in = values.ptr<std::uint16_t>();
    const std::uint8_t* grey_of = grey_levels.data();
    std::uint8_t* grey = views.depth_view.ptr<std::uint8_t>();
    const std::size_t total = values.total();
    for (std::size_t i = 0; i < total; ++i) grey[i] = grey_of[in[i] - lo];
    const std::array<std::uint32_t, 256>& jet = jet_colours();
    std::uint8_t* colour = views.colour_view.ptr<std::uint8_t>();
    for (std::size_t i = 0; i + 1 < total; ++i) {
        std::memcpy(colour + 3 * i, &jet[grey[i]], 4);  // the fourth byte is pixel i + 1's
    }
    std::memcpy(colour + 3 * (total - 1), &jet[grey[total - 1]], 3);
    return views;
}
