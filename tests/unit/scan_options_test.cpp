#include <gtest/gtest.h>

#include "tools/scan_options.hpp"

TEST(ScanOptions, DefaultsAndEveryOption)
{
    const Parsed<ScanOptions> plain = parse_scan_options({"frames"});
    ASSERT_EQ(plain.result.error, "");
    EXPECT_EQ(plain.options.format, OutputFormat::jsonl);
    EXPECT_EQ(plain.options.frame_limit, 0u);
    EXPECT_FALSE(plain.options.camera);
    EXPECT_EQ(plain.options.output_path, "");
    EXPECT_EQ(plain.options.jobs, 0);  // one worker per core

    const Parsed<ScanOptions> all = parse_scan_options({"--format", "console", "a.png", "--frames=12",
                                                        "--output", "out.txt", "--save-views=views",
                                                        "--record", "rec", "--jobs", "3", "-", "--",
                                                        "--odd-name.png"});
    ASSERT_EQ(all.result.error, "");
    EXPECT_EQ(all.options.format, OutputFormat::console);
    EXPECT_EQ(all.options.frame_limit, 12u);
    EXPECT_EQ(all.options.output_path, "out.txt");
    EXPECT_EQ(all.options.views_dir, "views");
    EXPECT_EQ(all.options.record_dir, "rec");
    EXPECT_EQ(all.options.jobs, 3);
    EXPECT_EQ(all.options.inputs, (std::vector<std::string>{"a.png", "-", "--odd-name.png"}));

    const Parsed<ScanOptions> camera = parse_scan_options({"--camera", "--frames", "3", "--frames=4"});
    ASSERT_EQ(camera.result.error, "");
    EXPECT_TRUE(camera.options.camera);
    EXPECT_EQ(camera.options.frame_limit, 4u);  // the last one counts

    // --help wins over whatever follows it, and needs no input.
    EXPECT_TRUE(parse_scan_options({"--help", "--bogus"}).result.help);
    EXPECT_TRUE(parse_scan_options({"--frames", "0", "-h"}).result.help);
}

TEST(ScanOptions, UsageErrorsInOneWording)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{}, "no input: give PNG files or folders, or --camera"},
        {{"--camera", "a.png"}, "give either --camera or input files, not both"},
        {{"--format", "xml", "a.png"}, "--format takes jsonl or console, not 'xml'"},
        {{"--frames", "0", "a.png"}, "--frames takes a whole number from 1, not '0'"},
        {{"--frames", "-3", "a.png"}, "--frames takes a whole number from 1, not '-3'"},
        {{"--frames", "2x", "a.png"}, "--frames takes a whole number from 1, not '2x'"},
        {{"--frames", "99999999999999999999999", "a.png"},
         "--frames takes a whole number from 1, not '99999999999999999999999'"},
        {{"--jobs", "0", "a.png"}, "--jobs takes a whole number from 1 to 256, not '0'"},
        {{"--jobs=-2", "a.png"}, "--jobs takes a whole number from 1 to 256, not '-2'"},
        {{"--jobs", "two", "a.png"}, "--jobs takes a whole number from 1 to 256, not 'two'"},
        {{"--jobs", "257", "a.png"}, "--jobs takes a whole number from 1 to 256, not '257'"},
        {{"a.png", "--jobs"}, "--jobs needs a value"},
        {{"a.png", "--output"}, "--output needs a value"},
        {{"--record=", "a.png"}, "--record needs a value"},
        {{"--verbose=2", "a.png"}, "unknown option '--verbose'"},
        {{"-v", "a.png"}, "unknown option '-v'"},
    };
    for (const auto& [args, text] : wrong) {
        const Parsed<ScanOptions> parsed = parse_scan_options(args);
        EXPECT_EQ(parsed.result.error, text) << ::testing::PrintToString(args);
        EXPECT_FALSE(parsed.result.help);
    }
}

TEST(ScanOptions, HelpListsEveryOption)
{
    const std::string help = scan_usage();
    EXPECT_NE(help.find("\nUsage: pallet_scan [OPTIONS] [INPUT...]\n"), std::string::npos) << help;
    for (const char* option : {"--camera", "--frames N", "--format jsonl|console", "--output FILE",
                               "--save-views DIR", "--record DIR", "--jobs N", "--help", "INPUT", "Exit status"}) {
        EXPECT_NE(help.find(option), std::string::npos) << option;
    }
}
