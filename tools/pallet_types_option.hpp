// --pallet-types FILE of the tools that run the pallet detector: the option and the types it gives.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/pallet_types.hpp"

// --pallet-types FILE: a JSON file of pallet types that adds to the built-in ones or replaces them.
CLI::Option* add_pallet_types_option(CLI::App& app, std::string& target);

// The types of the option: the built-in ones for an empty path, else the file's added to them (or
// in their place). Nothing, with the usage error ("--pallet-types KEY: REASON"), when the file
// cannot be read or is no valid file.
std::optional<std::vector<PalletType>> pallet_types_of_option(const std::string& path, std::string& usage_error);
