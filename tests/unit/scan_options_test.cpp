#include <gtest/gtest.h>

#include "tools/scan_options.hpp"

TEST(ScanOptions, DefaultsAndEveryOption)
{
    const ParsedOptions plain = parse_scan_options({"frames"});
    ASSERT_EQ(plain.error, "");
    EXPECT_EQ(plain.options.format, OutputFormat::jsonl);
    EXPECT_EQ(plain.options.frame_limit, 0u);
    EXPECT_FALSE(plain.options.camera);
    EXPECT_EQ(plain.options.output_path, "");

    const ParsedOptions all = parse_scan_options({"--format", "console", "a.png", "--frames=12",
                                                  "--output", "out.txt", "--save-views=views",
                                                  "--record", "rec", "--", "--odd-name.png"});
    ASSERT_EQ(all.error, "");
    EXPECT_EQ(all.options.format, OutputFormat::console);
    EXPECT_EQ(all.options.frame_limit, 12u);
    EXPECT_EQ(all.options.output_path, "out.txt");
    EXPECT_EQ(all.options.views_dir, "views");
    EXPECT_EQ(all.options.record_dir, "rec");
    EXPECT_EQ(all.options.inputs, (std::vector<std::string>{"a.png", "--odd-name.png"}));

    const ParsedOptions camera = parse_scan_options({"--camera", "--frames", "3"});
    ASSERT_EQ(camera.error, "");
    EXPECT_TRUE(camera.options.camera);
    EXPECT_EQ(camera.options.frame_limit, 3u);

    // --help wins over whatever follows it, and needs no input.
    EXPECT_TRUE(parse_scan_options({"--help", "--bogus"}).options.help);
    EXPECT_TRUE(parse_scan_options({"-h"}).options.help);
}

TEST(ScanOptions, UsageErrors)
{
    const std::vector<std::vector<std::string>> wrong = {
        {},                                  // no input
        {"--camera", "a.png"},               // both sources
        {"--format", "xml", "a.png"},
        {"--frames", "0", "a.png"},
        {"--frames", "-3", "a.png"},
        {"--frames", "2x", "a.png"},
        {"--frames", "99999999999999999999999", "a.png"},
        {"a.png", "--output"},               // value missing
        {"--record=", "a.png"},
        {"--verbose", "a.png"},
    };
    for (const auto& args : wrong) {
        const ParsedOptions parsed = parse_scan_options(args);
        EXPECT_NE(parsed.error, "") << "accepted: " << ::testing::PrintToString(args);
        EXPECT_FALSE(parsed.options.help);
    }
    EXPECT_NE(parse_scan_options({"--verbose", "a.png"}).error.find("--verbose"), std::string::npos);
}
