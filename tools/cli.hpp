// The command line of every tool, in one style (CLI11 underneath): "--name value" and
// "--name=value", "--" before inputs that start with a dash, -h or --help for the text made from
// the options' own definitions, the last of a repeated option counts. Every usage error reads
//
//   TOOL: TEXT
//   Try 'TOOL --help'.
//
// on standard error and ends the tool with status 2. TEXT is one of "unknown option '--x'",
// "unexpected argument 'x'", "--name needs a value", "--name takes WHAT, not 'VALUE'", or a
// tool's own check across options.
//
// A tool defines its options once, in a function that adds them to a CLI::App bound to its
// options struct; its parse and its help text both come from that function.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/parsed.hpp"

// An App set up with the shared rules: the help flag, options taking the last of repeated
// values, unknown options left for parse_command_line to name. `footer` ends the help text.
void set_up_command_line(CLI::App& app, const std::string& footer);

// Parses the arguments after the program name into the options' targets. -h or --help ends the
// parse at once: what follows it is not checked.
ParseResult parse_command_line(CLI::App& app, const std::vector<std::string>& args);

// The options a tool's `define` adds to the App (set_up_command_line first, then one call per
// option, each bound to a field of Options), parsed from the arguments after the program name.
template <typename Options>
Parsed<Options> parse_options(const std::string& tool, const std::string& description,
                              void (*define)(CLI::App&, Options&), const std::vector<std::string>& args)
{
    Parsed<Options> parsed;
    CLI::App app(description, tool);
    define(app, parsed.options);
    parsed.result = parse_command_line(app, args);
    return parsed;
}

// The --help text of the same definitions.
template <typename Options>
std::string help_text(const std::string& tool, const std::string& description,
                      void (*define)(CLI::App&, Options&))
{
    Options defaults;
    CLI::App app(description, tool);
    define(app, defaults);
    return app.help();
}

// Turns an option's text into its target: what the option takes when the text does not do (as in
// "--name takes WHAT, not 'TEXT'"), empty when the text was taken.
using ApplyValue = std::function<std::string(const std::string& text)>;

// --name VALUE_NAME, described by `description`, applied by `apply`. A name may give a short form
// first ("-o,--output"); usage errors name the long one.
CLI::Option* add_value_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, ApplyValue apply);

// A whole number from `lowest` to `highest` (decimal digits only).
CLI::Option* add_count_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, std::uint64_t& target,
                              std::uint64_t lowest, std::uint64_t highest);
CLI::Option* add_count_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, int& target, int lowest, int highest);

// A decimal number from `lowest` to `highest` ("1500", "-2.5", "1e3"; not "inf", "nan" or
// "1.5mm"). The optional target is set only when the option is given.
CLI::Option* add_number_option(CLI::App& app, const std::string& name, const std::string& value_name,
                               const std::string& description, double& target, double lowest, double highest);
CLI::Option* add_number_option(CLI::App& app, const std::string& name, const std::string& value_name,
                               const std::string& description, std::optional<double>& target, double lowest,
                               double highest);

// A path; the empty text is refused.
CLI::Option* add_path_option(CLI::App& app, const std::string& name, const std::string& value_name,
                             const std::string& description, std::string& target);

// One of the named choices, e.g. {{"jsonl", OutputFormat::jsonl}, {"console", ...}}; the value
// name lists them (jsonl|console).
template <typename Value>
CLI::Option* add_choice_option(CLI::App& app, const std::string& name, const std::string& description,
                               Value& target, const std::vector<std::pair<std::string, Value>>& choices)
{
    std::string names;
    for (const auto& choice : choices) names += (names.empty() ? "" : "|") + choice.first;
    std::string alternatives;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        alternatives += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i].first;
    }
    return add_value_option(app, name, names, description,
                            [&target, choices, alternatives](const std::string& text) -> std::string {
                                for (const auto& choice : choices) {
                                    if (choice.first == text) {
                                        target = choice.second;
                                        return {};
                                    }
                                }
                                return alternatives;
                            });
}

// "V", "V1,V2,..." or "LO:HI:STEP" (HI included when the steps land on it, 10000 values at most);
// empty on a malformed text, with what an axis takes in `what`.
std::optional<std::vector<double>> parse_axis(const std::string& text, std::string& what);

// The shortest text parse_axis reads back as these values: "LO:HI:STEP" for three or more evenly
// spaced values, else the list.
std::string axis_text(const std::vector<double>& values);

// An axis option: every value must pass `valid`, whose rule `rule` names ("values above 0").
CLI::Option* add_axis_option(CLI::App& app, const std::string& name, const std::string& value_name,
                             const std::string& description, std::vector<double>& target,
                             const std::function<bool(double)>& valid = nullptr,
                             const std::string& rule = {});
