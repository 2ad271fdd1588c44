// What a tool's command line gave (tools/cli.hpp parses it) and where the tool stops after it,
// without the parser's header.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

constexpr int usage_status = 2;

// What a parse gave: the help asked for, or a usage error (empty error: the line is good).
struct ParseResult {
    bool help = false;
    std::string error;
};

// A tool's options with what their parse gave.
template <typename Options>
struct Parsed {
    Options options;
    ParseResult result;
};

// Writes "TOOL: TEXT" and the hint at --help; returns usage_status.
int report_usage_error(std::ostream& err, const std::string& tool, const std::string& text);

// Where the tool stops after its parse: 0 with the help text written to `out`, usage_status
// with the error written to `err`; nothing when it goes on.
std::optional<int> stop_after_parse(const ParseResult& result, const std::string& tool,
                                    const std::string& help, std::ostream& out, std::ostream& err);
