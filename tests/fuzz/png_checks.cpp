#include "png_checks.hpp"

#include <cstdio>
#include <cstring>

#include "sim/depth_png.hpp"

namespace {

bool is_depth_frame(const cv::Mat& image)
{
    return image.type() == CV_16UC1 && image.rows == 480 && image.cols == 640;
}

}  // namespace

std::string check_png_bytes(const std::uint8_t* data, std::size_t size, const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return "cannot write the scratch file " + path;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return "cannot write the scratch file " + path;

    const sim::DepthPngRead scan = sim::read_depth_png(path);
    if (scan.error.empty() != !scan.depth.empty()) return "pallet_scan: a frame and an error at once";
    if (!scan.error.empty() && scan.error.find('\n') != std::string::npos)
        return "pallet_scan: an error of more than one line";
    if (scan.error.empty() && !is_depth_frame(scan.depth))
        return "pallet_scan: accepted a frame that is not 640 x 480 16-bit";
    const std::optional<cv::Mat> replay = read_replay_frame(path);
    if (replay && !is_depth_frame(*replay)) return "replay: accepted a frame that is not 640 x 480 16-bit";

    static const std::uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < 8 || std::memcmp(data, signature, 8) != 0) return {};
    if (replay.has_value() != scan.error.empty())
        return std::string("the readers disagree: replay ") + (replay ? "accepts" : "refuses") +
               ", pallet_scan " + (scan.error.empty() ? "accepts" : "refuses (" + scan.error + ")");
    if (replay && cv::norm(*replay, scan.depth, cv::NORM_INF) != 0.0)
        return "the readers give different pixels";
    return {};
}
