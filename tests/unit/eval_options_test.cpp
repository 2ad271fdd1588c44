#include "tools/eval_options.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

TEST(EvalOptions, DefaultsAndEveryOption)
{
    const Parsed<EvalOptions> none = parse_eval_options({});
    ASSERT_EQ(none.result.error, "");
    EXPECT_FALSE(none.result.help);
    EXPECT_EQ(none.options.axes.distance_mm, default_axes().distance_mm);
    EXPECT_EQ(none.options.axes.cavity_no_return, (std::vector<bool>{false, true}));
    EXPECT_EQ(none.options.seed, 1U);
    EXPECT_EQ(none.options.empty, 20);
    EXPECT_EQ(none.options.threads, 0);
    EXPECT_EQ(none.options.out_dir, "eval_out");
    EXPECT_EQ(parse_eval_options({"--empty", "0"}).options.empty, 0);
    EXPECT_EQ(parse_eval_options({"--empty=7"}).options.empty, 7);
    EXPECT_EQ(parse_eval_options({"--seed=5"}).options.seed, 5U);

    const Parsed<EvalOptions> set =
        parse_eval_options({"--distance", "1000:2000:500", "--yaw=-5,5", "--lateral", "100", "--height", "300",
                            "--pitch", "2", "--noise", "0.5", "--cavity", "on", "--seed", "18446744073709551615",
                            "--threads", "2", "--out", "here"});
    ASSERT_EQ(set.result.error, "");
    const SweepAxes& axes = set.options.axes;
    EXPECT_EQ(axes.distance_mm, (std::vector<double>{1000, 1500, 2000}));
    EXPECT_EQ(axes.yaw_deg, (std::vector<double>{-5, 5}));
    EXPECT_EQ(axes.lateral_mm, (std::vector<double>{100}));
    EXPECT_EQ(axes.height_mm, (std::vector<double>{300}));
    EXPECT_EQ(axes.pitch_deg, (std::vector<double>{2}));
    EXPECT_EQ(axes.noise_level, (std::vector<double>{0.5}));
    EXPECT_EQ(axes.cavity_no_return, (std::vector<bool>{true}));
    EXPECT_EQ(set.options.seed, 18446744073709551615ULL);
    EXPECT_EQ(set.options.threads, 2);
    EXPECT_EQ(set.options.out_dir, "here");
    EXPECT_EQ(parse_eval_options({"--cavity=off"}).options.axes.cavity_no_return, (std::vector<bool>{false}));
    EXPECT_TRUE(parse_eval_options({"--help"}).result.help);
}

TEST(EvalOptions, UsageErrorsInOneWording)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"--distance"}, "--distance needs a value"},
        {{"--distance", "2:1:1"}, "--distance takes LO:HI:STEP with LO <= HI and STEP > 0, not '2:1:1'"},
        {{"--distance", "-100"}, "--distance takes values ahead of the camera (> 0), not '-100'"},
        {{"--height", "250,0"}, "--height takes values above the floor (> 0), not '250,0'"},
        {{"--noise", "-1"}, "--noise takes levels from 0, not '-1'"},
        {{"--cavity", "maybe"}, "--cavity takes both, on or off, not 'maybe'"},
        {{"--threads", "0"}, "--threads takes a whole number from 1 to 256, not '0'"},
        {{"--threads", "many"}, "--threads takes a whole number from 1 to 256, not 'many'"},
        {{"--seed", "-3"}, "--seed takes a whole number from 0, not '-3'"},
        {{"--seed", "18446744073709551616"}, "--seed takes a whole number from 0, not '18446744073709551616'"},
        {{"--empty", "10001"}, "--empty takes a whole number from 0 to 10000, not '10001'"},
        {{"--out", ""}, "--out takes a path, not ''"},
        {{"--out="}, "--out needs a value"},
        {{"--colour", "red"}, "unknown option '--colour'"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"extra"}, "unexpected argument 'extra'"},
    };
    for (const auto& [args, text] : wrong) {
        EXPECT_EQ(parse_eval_options(args).result.error, text) << ::testing::PrintToString(args);
    }
}

TEST(EvalOptions, HelpListsEveryOptionWithTheSweepsDefaults)
{
    const std::string help = eval_usage();
    for (const char* line : {"--distance MM", "(default 750:2500:250)", "--yaw DEG", "(default -20:20:5)",
                             "--lateral MM", "(default -250:250:250)", "--height MM", "(default 200,250)",
                             "--pitch DEG", "(default 4:8:2)", "--noise LEVEL", "(default 0:2:1)",
                             "--cavity both|on|off", "--empty N", "(default 20", "--seed N", "--threads N",
                             "--out DIR", "(default eval_out)", "--help"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line << "\n" << help;
    }
}
