// The non-zero pixels of the candidate region search's filters, found with bit operations.
#pragma once

#include <array>
#include <cstdint>

#include <opencv2/core.hpp>

// The region that find_candidate_contours searches is GaussianBlur (3 x 3) of the combined band
// mask, eroded and then dilated with a 5 x 5 rectangle; the search only tells zero from non-zero.
// For a mask of 0 and 255 those filters reduce to bit operations: a blurred pixel is non-zero
// exactly when a pixel of its 3 x 3 neighbourhood is (the smallest weight, 1/16 of 255, rounds
// to 16), the erosion keeps a pixel when every pixel of its 5 x 5 neighbourhood inside the image
// is non-zero, and the dilation sets it when any is.
//
// opened_region returns those non-zero pixels as 255 (others 0) over `window`, which must hold
// every pixel within 3 of `bounds`; the mask (480 x 640 CV_8UC1, 0 or 255) must be 0 outside
// `bounds`.
cv::Mat opened_region(const cv::Mat& mask, const cv::Rect& bounds, const cv::Rect& window);

// Eight 0/255 bytes for each pattern of eight bits, bit 0 in the lowest byte.
const std::array<std::uint64_t, 256>& byte_masks();
