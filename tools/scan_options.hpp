// The command line of pallet_scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class OutputFormat { jsonl, console };

struct ScanOptions {
    std::vector<std::string> inputs;  // files and folders, in command-line order
    bool camera = false;
    std::uint64_t frame_limit = 0;    // 0: no limit
    OutputFormat format = OutputFormat::jsonl;
    std::string output_path;          // empty: standard output
    std::string views_dir;            // empty: no result views
    std::string record_dir;           // empty: no recording
    bool help = false;
};

// The options, or a one-line usage error in `error` (options then unspecified).
struct ParsedOptions {
    ScanOptions options;
    std::string error;
};

// Parses the arguments after the program name. "--name value" and "--name=value" both work;
// "--" ends the options. With --help the rest is not checked.
ParsedOptions parse_scan_options(const std::vector<std::string>& args);

// The text of --help.
std::string scan_usage();
