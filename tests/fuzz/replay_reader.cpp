// The replay reader lives in the SDK's own translation unit, with internal linkage: this file
// compiles that unit once more, for the PNG checks alone (never linked with libkorvatel3).
#include "../../sdk/src/kv3.cpp"

#include "png_checks.hpp"

std::optional<cv::Mat> read_replay_frame(const std::string& path)
{
    return kv3::detail::read_recorded_frame(path);
}
