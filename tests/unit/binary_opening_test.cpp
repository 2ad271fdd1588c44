#include <random>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "analysis/binary_opening.hpp"

namespace {

// The filters find_candidate_contours runs, with their non-zero pixels as 255.
cv::Mat filtered_nonzero(const cv::Mat& mask)
{
    cv::Mat blurred, eroded, region;
    cv::GaussianBlur(mask, blurred, cv::Size(3, 3), 0, 0, cv::BORDER_DEFAULT);
    const cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5));
    cv::erode(blurred, eroded, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
              cv::morphologyDefaultBorderValue());
    cv::dilate(eroded, region, element, cv::Point(-1, -1), 1, cv::BORDER_CONSTANT,
               cv::morphologyDefaultBorderValue());
    return region != 0;
}

cv::Rect bounds_of(const cv::Mat& mask)
{
    std::vector<cv::Point> pixels;
    cv::findNonZero(mask, pixels);
    return pixels.empty() ? cv::Rect() : cv::boundingRect(pixels);
}

void expect_same_region(const cv::Mat& mask, const std::string& what)
{
    SCOPED_TRACE(what);
    const cv::Mat literal = filtered_nonzero(mask);
    const cv::Rect bounds = bounds_of(mask);
    const cv::Rect image(0, 0, 640, 480);
    // The whole image, and the window of the bounds widened by 4 that the analysis uses.
    const cv::Mat whole = opened_region(mask, bounds, image);
    EXPECT_EQ(cv::countNonZero(whole != literal), 0);
    const cv::Rect window = cv::Rect(bounds.x - 4, bounds.y - 4, bounds.width + 8, bounds.height + 8) & image;
    if (bounds.empty()) return;
    const cv::Mat part = opened_region(mask, bounds, window);
    EXPECT_EQ(cv::countNonZero(part != literal(window)), 0);
    EXPECT_EQ(cv::countNonZero(literal) - cv::countNonZero(literal(window)), 0);
}

}  // namespace

TEST(BinaryOpening, NonZeroPixelsEqualTheLibraryFilters)
{
    // Single pixels (the blur's smallest weight), thin lines that the opening removes, blocks
    // just wide enough to survive it, everything again on every border and corner of the image,
    // and random blobs and noise.
    cv::Mat mask = cv::Mat::zeros(480, 640, CV_8UC1);
    expect_same_region(mask, "empty");
    mask.at<std::uint8_t>(200, 300) = 255;
    expect_same_region(mask, "one pixel");
    cv::rectangle(mask, cv::Rect(100, 100, 3, 3), cv::Scalar(255), cv::FILLED);
    cv::rectangle(mask, cv::Rect(200, 100, 2, 40), cv::Scalar(255), cv::FILLED);
    cv::rectangle(mask, cv::Rect(300, 100, 1, 40), cv::Scalar(255), cv::FILLED);
    expect_same_region(mask, "small blocks and lines");
    for (const cv::Rect& edge : {cv::Rect(0, 0, 640, 2), cv::Rect(0, 478, 640, 2), cv::Rect(0, 0, 3, 480),
                                 cv::Rect(637, 0, 3, 480), cv::Rect(0, 0, 1, 1), cv::Rect(639, 479, 1, 1),
                                 cv::Rect(62, 30, 5, 5), cv::Rect(126, 60, 4, 9)}) {
        cv::Mat at_edge = cv::Mat::zeros(480, 640, CV_8UC1);
        at_edge(edge).setTo(255);
        expect_same_region(at_edge, "block at " + std::to_string(edge.x) + "," + std::to_string(edge.y));
    }
    std::mt19937_64 random(11);
    for (int i = 0; i < 30; ++i) {
        cv::Mat blobs = cv::Mat::zeros(480, 640, CV_8UC1);
        for (int k = 0; k < 12; ++k) {
            const cv::Point centre(static_cast<int>(random() % 700) - 30, static_cast<int>(random() % 540) - 30);
            cv::ellipse(blobs, centre, cv::Size(1 + random() % 40, 1 + random() % 25),
                        static_cast<double>(random() % 180), 0, 360, cv::Scalar(255), cv::FILLED);
        }
        cv::Mat noise(480, 640, CV_8UC1);
        cv::randu(noise, 0, 100);
        blobs.setTo(255, noise < 1 + i % 5);  // sparse single pixels
        blobs.setTo(0, noise > 97);           // and holes
        expect_same_region(blobs, "random " + std::to_string(i));
    }
}
