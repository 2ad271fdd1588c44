#include "analysis/depth_intake.hpp"

#include <ostream>

cv::Point3d depth_to_point(int v, int u, std::uint16_t d)
{
    const double depth = d;
    const double x = depth * (static_cast<double>(u) - camera_model.cx) / camera_model.fx;
    const double y = depth * (static_cast<double>(v) - camera_model.cy) / camera_model.fy;
    // d = 0 makes x and y -0 on the left of the principal point; report them as +0.
    return {x + 0.0, y + 0.0, depth};
}

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
