// Comparison of test output with the golden files under tests/data. The files are rewritten only
// when PALLET_UPDATE_GOLDEN=1 is set; otherwise a missing or different file fails the test.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <regex>
#include <string>
#include <vector>

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

// A report text cut into its numbers and the text between them, in order.
inline std::vector<std::string> report_tokens(const std::string& text)
{
    static const std::regex number(R"([-+]?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?)");
    std::vector<std::string> tokens;
    for (std::sregex_token_iterator it(text.begin(), text.end(), number, {-1, 0}), end; it != end; ++it) {
        tokens.push_back(*it);
    }
    return tokens;
}

// A report text against its golden file. On x86-64 every byte must match; elsewhere (aarch64,
// whose libm may round a last bit differently) each number may differ by 1e-9 of its size.
inline void expect_report(const std::string& name, const std::string& actual)
{
#if defined(__x86_64__)
    expect_text(name, actual);
#else
    if (updating()) return expect_text(name, actual);
    std::ifstream in(path_of(name), std::ios::binary);
    ASSERT_TRUE(in.good()) << name << " is missing";
    std::ostringstream expected;
    expected << in.rdbuf();
    const std::vector<std::string> want = report_tokens(expected.str()), got = report_tokens(actual);
    ASSERT_EQ(got.size(), want.size()) << name << ":\n" << actual;
    for (std::size_t i = 0; i < want.size(); ++i) {
        if (i % 2 == 0) {  // text between numbers
            EXPECT_EQ(got[i], want[i]) << name;
            continue;
        }
        const double w = std::stod(want[i]);
        EXPECT_NEAR(std::stod(got[i]), w, 1e-9 * std::max(1.0, std::abs(w))) << name;
    }
#endif
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
