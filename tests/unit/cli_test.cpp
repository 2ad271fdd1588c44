#include "tools/cli.hpp"

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<double> axis(const std::string& text)
{
    std::string what;
    const std::optional<std::vector<double>> values = parse_axis(text, what);
    EXPECT_TRUE(values.has_value()) << text << ": " << what;
    EXPECT_EQ(what, "") << text;
    return values.value_or(std::vector<double>{});
}

// What parse_axis says an axis takes, for a text it refuses.
std::string refusal(const std::string& text)
{
    std::string what;
    return parse_axis(text, what).has_value() ? std::string() : what;
}

// A small tool: a flag, a count, a path, a choice and an axis, all the shared option kinds.
struct Tool {
    bool verbose = false;
    std::uint64_t count = 5;
    std::string path;
    int level = 0;
    std::vector<double> axis = {1, 2};
    std::vector<std::string> inputs;
    double distance = 100.0;
    std::optional<double> offset;
    std::string out;
};

ParseResult parse(Tool& tool, const std::vector<std::string>& args, bool with_inputs = true)
{
    CLI::App app("A tool.", "tool");
    set_up_command_line(app, "Exit status: 0.");
    app.add_flag("--verbose", tool.verbose, "say more");
    add_count_option(app, "--count", "N", "how many", tool.count, 1, 10);
    add_path_option(app, "--path", "FILE", "where", tool.path);
    add_choice_option<int>(app, "--level", "how loud", tool.level, {{"low", 1}, {"mid", 2}, {"high", 3}});
    add_axis_option(app, "--axis", "V", "values", tool.axis, [](double v) { return v >= 0.0; }, "values from 0");
    add_number_option(app, "--distance", "MM", "how far", tool.distance, 300.0, 20000.0);
    add_number_option(app, "--offset", "MM", "to the side", tool.offset, -2.5, 2.5);
    add_path_option(app, "-o,--out", "FILE", "the result", tool.out);
    if (with_inputs) app.add_option("INPUT", tool.inputs, "inputs");
    return parse_command_line(app, args);
}

}  // namespace

TEST(ParseAxis, RangesListsAndMalformedTexts)
{
    EXPECT_EQ(axis("750:2500:250"), (std::vector<double>{750, 1000, 1250, 1500, 1750, 2000, 2250, 2500}));
    EXPECT_EQ(axis("-20:20:20"), (std::vector<double>{-20, 0, 20}));
    EXPECT_EQ(axis("0:1:0.25"), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    const std::vector<double> tenths = axis("0:0.3:0.1");  // 0.3 / 0.1 is 2.9999... in doubles
    ASSERT_EQ(tenths.size(), 4U);
    EXPECT_NEAR(tenths.back(), 0.3, 1e-12);
    EXPECT_EQ(axis("0:10:4"), (std::vector<double>{0, 4, 8}));  // HI not on a step: left out
    EXPECT_EQ(axis("5:5:1"), (std::vector<double>{5}));
    EXPECT_EQ(axis("1250"), (std::vector<double>{1250}));
    EXPECT_EQ(axis("-250,0,250"), (std::vector<double>{-250, 0, 250}));

    for (const char* bad : {"", "a", "1:2", "1:2:3:4", "1,,2", "1,x", "nan", "12mm"}) {
        EXPECT_EQ(refusal(bad), "V, V1,V2,... or LO:HI:STEP") << bad;
    }
    EXPECT_EQ(refusal("1:inf:1"), "LO:HI:STEP with three numbers");
    EXPECT_EQ(refusal("1:x:1"), "LO:HI:STEP with three numbers");
    for (const char* bad : {"2:1:1", "1:2:0", "1:2:-1"}) {
        EXPECT_EQ(refusal(bad), "LO:HI:STEP with LO <= HI and STEP > 0") << bad;
    }
    EXPECT_EQ(refusal("0:1e9:1"), "at most 10000 values");
}

TEST(AxisText, ReadsBackAsTheSameValues)
{
    EXPECT_EQ(axis_text({750, 1000, 1250, 1500, 1750, 2000, 2250, 2500}), "750:2500:250");
    EXPECT_EQ(axis_text({200, 250}), "200,250");  // two values: the list is as short
    EXPECT_EQ(axis_text({0, 1, 3}), "0,1,3");     // not evenly spaced
    EXPECT_EQ(axis_text({1.5}), "1.5");
    EXPECT_EQ(axis_text({3, 2, 1}), "3,2,1");     // a range only rises
    for (const char* text : {"0:1:0.25", "0:0.3:0.1", "-20:20:5", "0.1,0.2", "1e-05,3"}) {
        const std::vector<double> values = axis(text);
        EXPECT_EQ(axis(axis_text(values)), values) << text << " -> " << axis_text(values);
    }
}

TEST(CommandLine, BothValueFormsLastOneCountsDashDashEndsOptions)
{
    Tool tool;
    const ParseResult result =
        parse(tool, {"--count", "3", "a", "--path=p.txt", "--level", "mid", "--axis=0:4:2", "--count=7",
                     "--verbose", "-", "--", "--count", "-x"});
    ASSERT_EQ(result.error, "");
    EXPECT_FALSE(result.help);
    EXPECT_TRUE(tool.verbose);
    EXPECT_EQ(tool.count, 7U);
    EXPECT_EQ(tool.path, "p.txt");
    EXPECT_EQ(tool.level, 2);
    EXPECT_EQ(tool.axis, (std::vector<double>{0, 2, 4}));
    EXPECT_EQ(tool.inputs, (std::vector<std::string>{"a", "-", "--count", "-x"}));

    Tool untouched;
    ASSERT_EQ(parse(untouched, {}).error, "");
    EXPECT_EQ(untouched.count, 5U);
    EXPECT_EQ(untouched.axis, (std::vector<double>{1, 2}));
}

TEST(CommandLine, DecimalNumbersAndShortNames)
{
    Tool tool;
    ASSERT_EQ(parse(tool, {"--distance", "1500.5", "--offset=-2.5", "-o", "m.json"}).error, "");
    EXPECT_EQ(tool.distance, 1500.5);
    ASSERT_TRUE(tool.offset.has_value());
    EXPECT_EQ(*tool.offset, -2.5);
    EXPECT_EQ(tool.out, "m.json");
    ASSERT_EQ(parse(tool, {"--distance=1e3", "--out=n.json"}).error, "");
    EXPECT_EQ(tool.distance, 1000.0);
    EXPECT_EQ(tool.out, "n.json");

    Tool untouched;
    ASSERT_EQ(parse(untouched, {}).error, "");
    EXPECT_EQ(untouched.distance, 100.0);  // a default outside the range stays until given
    EXPECT_FALSE(untouched.offset.has_value());

    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"--distance", "299.9"}, "--distance takes a number from 300 to 20000, not '299.9'"},
        {{"--distance", "1500mm"}, "--distance takes a number from 300 to 20000, not '1500mm'"},
        {{"--distance", "inf"}, "--distance takes a number from 300 to 20000, not 'inf'"},
        {{"--distance", "nan"}, "--distance takes a number from 300 to 20000, not 'nan'"},
        {{"--offset", "2.6"}, "--offset takes a number from -2.5 to 2.5, not '2.6'"},
        {{"--offset"}, "--offset needs a value"},
        {{"-o", ""}, "--out takes a path, not ''"},
        {{"-o"}, "--out needs a value"},
    };
    for (const auto& [args, text] : wrong) {
        Tool t;
        EXPECT_EQ(parse(t, args).error, text) << ::testing::PrintToString(args);
    }
    Tool refused;
    parse(refused, {"--offset", "9"});
    EXPECT_FALSE(refused.offset.has_value());
}

TEST(CommandLine, HelpEndsTheParseAndIsMadeFromTheDefinitions)
{
    Tool tool;
    EXPECT_TRUE(parse(tool, {"--count", "0", "-h", "--bogus"}).help);
    EXPECT_TRUE(parse(tool, {"--help"}).help);
    EXPECT_FALSE(parse(tool, {"--", "--help"}).help);  // an input named --help

    CLI::App app("A tool.", "tool");
    set_up_command_line(app, "Exit status: 0.");
    add_choice_option<int>(app, "--level", "how loud", tool.level, {{"low", 1}, {"high", 3}});
    const std::string help = app.help();
    EXPECT_NE(help.find("--level low|high"), std::string::npos) << help;
    EXPECT_NE(help.find("-h,--help"), std::string::npos) << help;
    EXPECT_NE(help.find("Exit status: 0."), std::string::npos) << help;
}

TEST(CommandLine, UsageErrorsInOneWording)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"--count"}, "--count needs a value"},
        {{"--count="}, "--count needs a value"},
        {{"--path=", "a"}, "--path needs a value"},  // not "a" as the path
        {{"--path", ""}, "--path takes a path, not ''"},
        {{"--count", "11"}, "--count takes a whole number from 1 to 10, not '11'"},
        {{"--count", "+3"}, "--count takes a whole number from 1 to 10, not '+3'"},
        {{"--level", "LOW"}, "--level takes low, mid or high, not 'LOW'"},
        {{"--axis", "1,-1"}, "--axis takes values from 0, not '1,-1'"},
        {{"--axis", "1:2:x"}, "--axis takes LO:HI:STEP with three numbers, not '1:2:x'"},
        {{"--colour=red"}, "unknown option '--colour'"},
        {{"-q"}, "unknown option '-q'"},
    };
    for (const auto& [args, text] : wrong) {
        Tool tool;
        EXPECT_EQ(parse(tool, args).error, text) << ::testing::PrintToString(args);
    }
    Tool tool;
    EXPECT_EQ(parse(tool, {"stray"}, false).error, "unexpected argument 'stray'");

    std::ostringstream out, err;
    EXPECT_EQ(stop_after_parse({false, "--count needs a value"}, "tool", "HELP", out, err), usage_status);
    EXPECT_EQ(err.str(), "tool: --count needs a value\nTry 'tool --help'.\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(stop_after_parse({true, ""}, "tool", "HELP", out, err), 0);
    EXPECT_EQ(out.str(), "HELP");
    EXPECT_FALSE(stop_after_parse({}, "tool", "HELP", out, err).has_value());
}
