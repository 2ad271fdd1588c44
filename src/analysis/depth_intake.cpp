#include "analysis/depth_intake.hpp"

#include <ostream>

std::uint16_t probe_depth(const cv::Mat& depth)
{
    return depth.at<std::uint16_t>(320, 440);  // row 320, column 440
}

void write_probe(std::ostream& out, const cv::Mat& depth)
{
    out << static_cast<unsigned>(probe_depth(depth)) << '\r';
}

cv::Mat make_depth_view(const cv::Mat& depth)
{
    cv::Mat normalized_depth;
    cv::Mat view = cv::Mat::zeros(depth.size(), CV_8UC1);
    cv::normalize(depth, normalized_depth, 0, 255, cv::NORM_MINMAX, -1, cv::noArray());
    cv::convertScaleAbs(normalized_depth, view, 1, 0);
    return view;
}
