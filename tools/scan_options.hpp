// The command line of pallet_scan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/parsed.hpp"

enum class OutputFormat { jsonl, console };

struct ScanOptions {
    std::vector<std::string> inputs;  // files and folders, in command-line order
    bool camera = false;
    std::uint64_t frame_limit = 0;    // 0: no limit
    OutputFormat format = OutputFormat::jsonl;
    std::string output_path;          // empty: standard output
    std::string views_dir;            // empty: no result views
    std::string record_dir;           // empty: no recording
    std::string pallet_types_path;    // empty: the built-in pallet types only
    bool explain = false;             // the detector's rejected candidates in each record
    int jobs = 0;                     // threads that analyse input files; 0: one per core
    std::string mount_path;           // empty: no vehicle frame
    bool track = false;               // --track; the camera tracks always
};

// The options of the arguments after the program name (tools/cli.hpp), or the usage error: also
// no input, or both --camera and inputs.
Parsed<ScanOptions> parse_scan_options(const std::vector<std::string>& args);

// The text of --help, made from the same definitions.
std::string scan_usage();
