#include "tools/pallet_types_option.hpp"

#include "tools/cli.hpp"

CLI::Option* add_pallet_types_option(CLI::App& app, std::string& target)
{
    return add_path_option(app, "--pallet-types", "FILE",
                           "a JSON file of pallet types that adds to the built-in ones (or,\n"
                           "with \"replace\": true, takes their place); read before any frame",
                           target);
}

std::optional<std::vector<PalletType>> pallet_types_of_option(const std::string& path, std::string& usage_error)
{
    if (path.empty()) return builtin_pallet_types();
    std::string error;
    std::optional<std::vector<PalletType>> types = load_pallet_types(path, builtin_pallet_types(), error);
    if (!types) usage_error = "--pallet-types " + error;
    return types;
}
