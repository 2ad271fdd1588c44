// Comparison of test output with the golden files under tests/data. The files are rewritten only
// when PALLET_UPDATE_GOLDEN=1 is set; otherwise a missing or different file fails the test.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace golden {

inline bool updating()
{
    const char* flag = std::getenv("PALLET_UPDATE_GOLDEN");
    return flag != nullptr && std::string(flag) == "1";
}

inline std::string path_of(const std::string& name)
{
    return std::string(PALLET_TEST_DATA) + "/" + name;
}

inline void expect_text(const std::string& name, const std::string& actual)
{
    const std::string path = path_of(name);
    if (updating()) {
        std::ofstream(path, std::ios::binary) << actual;
        std::cout << "updated " << name << '\n';
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << name << " is missing; PALLET_UPDATE_GOLDEN=1 writes it";
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(actual, expected.str()) << "differs from " << name;
}

inline void expect_image(const std::string& name, const cv::Mat& actual)
{
    const std::string path = path_of(name);
    if (updating()) {
        ASSERT_TRUE(cv::imwrite(path, actual));
        std::cout << "updated " << name << '\n';
        return;
    }
    const cv::Mat expected = cv::imread(path, cv::IMREAD_UNCHANGED);
    ASSERT_FALSE(expected.empty()) << name << " is missing; PALLET_UPDATE_GOLDEN=1 writes it";
    ASSERT_EQ(expected.size(), actual.size()) << name;
    ASSERT_EQ(expected.type(), actual.type()) << name;
    const double diff = cv::norm(expected, actual, cv::NORM_INF);
    if (diff != 0.0) cv::imwrite(std::string(PALLET_BUILD_DIR) + "/actual_" + name, actual);
    EXPECT_EQ(diff, 0.0) << name << " differs; the image drawn is actual_" << name
                         << " in the build folder";
}

}  // namespace golden
