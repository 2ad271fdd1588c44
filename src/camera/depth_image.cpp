#include "camera/depth_image.hpp"

#include <kv3/kv3.hpp>

cv::Mat depth_image_of(const kv3::depth_frame& frame)
{
    // The SDK hands out a read-only buffer; cv::Mat wants a writable pointer, and no stage
    // writes into the depth image.
    auto* data = const_cast<std::uint16_t*>(frame.data());
    const int width = frame.width();
    const int height = frame.height();
    if (data == nullptr || width < 1 || height < 1) {
        return cv::Mat();  // cv::Mat would throw on a null buffer or a negative size
    }
    return cv::Mat(height, width, CV_16UC1, data);
}
