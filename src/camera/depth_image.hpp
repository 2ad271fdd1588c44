// The program's view of an SDK depth frame.
#pragma once

#include <opencv2/core.hpp>

namespace kv3 {
class depth_frame;
}

// The frame's buffer wrapped as a CV_16UC1 matrix of its own height and width, no copy; valid
// until the frame's set is deleted. Asks the frame for data, width and height, in that order.
// A frame that cannot be wrapped (null data, or a width or height below 1) gives an empty matrix.
cv::Mat depth_image_of(const kv3::depth_frame& frame);
