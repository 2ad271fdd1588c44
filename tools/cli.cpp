#include "tools/cli.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <sstream>

namespace {

bool is_help(const std::string& arg)
{
    return arg == "-h" || arg == "--help";
}

// "--name" of "--name=value".
std::string option_name_of(const std::string& arg)
{
    return arg.substr(0, arg.find('='));
}

// The option whose value is missing: CLI11 starts its message with the option's name.
std::string missing_value_text(const CLI::App& app, const CLI::ArgumentMismatch& mismatch)
{
    const std::string message = mismatch.what();
    for (const CLI::Option* option : app.get_options()) {
        const std::string name = option->get_name();
        if (!name.empty() && message.rfind(name + ":", 0) == 0) return name + " needs a value";
    }
    return message;
}

bool parse_whole_number(const std::string& text, std::uint64_t& value)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    value = parsed;
    return true;
}

std::string whole_number_rule(std::uint64_t lowest, std::uint64_t highest)
{
    std::string rule = "a whole number from " + std::to_string(lowest);
    if (highest != std::numeric_limits<std::uint64_t>::max()) rule += " to " + std::to_string(highest);
    return rule;
}

bool parse_number(const std::string& text, double& value)
{
    std::istringstream in(text);
    in >> value;
    return !text.empty() && in && in.peek() == std::char_traits<char>::eof() && std::isfinite(value);
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// The fewest significant digits that read back as the same double; whole numbers without an
// exponent.
std::string shortest_text(double value)
{
    char text[32];
    if (value == std::floor(value) && std::abs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

// The long form of an option's names ("--output" of "-o,--output").
std::string long_name_of(const std::string& names)
{
    const std::string::size_type comma = names.rfind(',');
    return comma == std::string::npos ? names : names.substr(comma + 1);
}

// Reads a number from lowest to highest and hands it to `take`.
ApplyValue number_value(double lowest, double highest, const std::function<void(double)>& take)
{
    return [lowest, highest, take](const std::string& text) {
        double value = 0.0;
        if (!parse_number(text, value) || value < lowest || value > highest)
            return "a number from " + shortest_text(lowest) + " to " + shortest_text(highest);
        take(value);
        return std::string();
    };
}

}  // namespace

void set_up_command_line(CLI::App& app, const std::string& footer)
{
    app.allow_extras();  // named by parse_command_line, in the tools' wording
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.set_help_flag();
    app.add_flag_callback("-h,--help", [] { throw CLI::CallForHelp(); }, "show this text")
        ->trigger_on_parse();  // at once: the options after it are not checked
    app.footer(footer);
    app.get_formatter()->column_width(24);
}

ParseResult parse_command_line(CLI::App& app, const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        if (arg == "--" || is_help(arg)) break;
        // CLI11 would take the next argument as the value of "--name=".
        if (arg.rfind("--", 0) == 0 && arg.size() > 3 && arg.find('=') == arg.size() - 1)
            return {false, option_name_of(arg) + " needs a value"};
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {true, {}};
    } catch (const CLI::ArgumentMismatch& mismatch) {
        return {false, missing_value_text(app, mismatch)};
    } catch (const CLI::ParseError& error) {
        return {false, error.what()};
    }
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;  // kept among the extras by CLI11
        if (extra.size() > 1 && extra[0] == '-') return {false, "unknown option '" + option_name_of(extra) + "'"};
        return {false, "unexpected argument '" + extra + "'"};
    }
    return {};
}

int report_usage_error(std::ostream& err, const std::string& tool, const std::string& text)
{
    err << tool << ": " << text << "\nTry '" << tool << " --help'." << std::endl;
    return usage_status;
}

std::optional<int> stop_after_parse(const ParseResult& result, const std::string& tool,
                                    const std::string& help, std::ostream& out, std::ostream& err)
{
    if (result.help) {
        out << help << std::flush;
        return 0;
    }
    if (!result.error.empty()) return report_usage_error(err, tool, result.error);
    return std::nullopt;
}

CLI::Option* add_value_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, ApplyValue apply)
{
    const auto take = [name = long_name_of(name), apply](const std::string& text) {
        const std::string what = apply(text);
        if (!what.empty()) throw CLI::ValidationError(name + " takes " + what + ", not '" + text + "'");
    };
    return app.add_option_function<std::string>(name, take, description)->type_name(value_name);
}

CLI::Option* add_count_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, std::uint64_t& target,
                              std::uint64_t lowest, std::uint64_t highest)
{
    return add_value_option(app, name, value_name, description, [&target, lowest, highest](const std::string& text) {
        std::uint64_t value = 0;
        if (!parse_whole_number(text, value) || value < lowest || value > highest)
            return whole_number_rule(lowest, highest);
        target = value;
        return std::string();
    });
}

CLI::Option* add_count_option(CLI::App& app, const std::string& name, const std::string& value_name,
                              const std::string& description, int& target, int lowest, int highest)
{
    const auto low = static_cast<std::uint64_t>(std::max(lowest, 0));
    const auto high = static_cast<std::uint64_t>(std::max(highest, 0));
    return add_value_option(app, name, value_name, description, [&target, low, high](const std::string& text) {
        std::uint64_t value = 0;
        if (!parse_whole_number(text, value) || value < low || value > high) return whole_number_rule(low, high);
        target = static_cast<int>(value);
        return std::string();
    });
}

CLI::Option* add_number_option(CLI::App& app, const std::string& name, const std::string& value_name,
                               const std::string& description, double& target, double lowest, double highest)
{
    return add_value_option(app, name, value_name, description,
                            number_value(lowest, highest, [&target](double value) { target = value; }));
}

CLI::Option* add_number_option(CLI::App& app, const std::string& name, const std::string& value_name,
                               const std::string& description, std::optional<double>& target, double lowest,
                               double highest)
{
    return add_value_option(app, name, value_name, description,
                            number_value(lowest, highest, [&target](double value) { target = value; }));
}

CLI::Option* add_path_option(CLI::App& app, const std::string& name, const std::string& value_name,
                             const std::string& description, std::string& target)
{
    return add_value_option(app, name, value_name, description, [&target](const std::string& text) {
        if (text.empty()) return std::string("a path");
        target = text;
        return std::string();
    });
}

std::optional<std::vector<double>> parse_axis(const std::string& text, std::string& what)
{
    const std::vector<std::string> range = split(text, ':');
    std::vector<double> values;
    if (range.size() == 3) {
        double lo = 0.0;
        double hi = 0.0;
        double step = 0.0;
        if (!parse_number(range[0], lo) || !parse_number(range[1], hi) || !parse_number(range[2], step)) {
            what = "LO:HI:STEP with three numbers";
            return std::nullopt;
        }
        if (!(step > 0.0) || hi < lo) {
            what = "LO:HI:STEP with LO <= HI and STEP > 0";
            return std::nullopt;
        }
        const double count = std::floor((hi - lo) / step + 1e-9) + 1.0;  // 0.3 / 0.1 is 2.9999...
        if (count > 10000.0) {
            what = "at most 10000 values";
            return std::nullopt;
        }
        for (int i = 0; i < static_cast<int>(count); ++i) values.push_back(lo + i * step);
        return values;
    }
    what = "V, V1,V2,... or LO:HI:STEP";
    if (range.size() != 1) return std::nullopt;
    for (const std::string& item : split(text, ',')) {
        double value = 0.0;
        if (!parse_number(item, value)) return std::nullopt;
        values.push_back(value);
    }
    what.clear();
    return values;
}

std::string axis_text(const std::vector<double>& values)
{
    const bool evenly_spaced = [&] {
        if (values.size() < 3 || !(values[1] > values[0])) return false;
        const double step = values[1] - values[0];
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i] != values[0] + static_cast<int>(i) * step) return false;  // as parse_axis makes them
        }
        return true;
    }();
    if (evenly_spaced) {
        return shortest_text(values.front()) + ":" + shortest_text(values.back()) + ":" +
               shortest_text(values[1] - values[0]);
    }
    std::string text;
    for (const double value : values) text += (text.empty() ? "" : ",") + shortest_text(value);
    return text;
}

CLI::Option* add_axis_option(CLI::App& app, const std::string& name, const std::string& value_name,
                             const std::string& description, std::vector<double>& target,
                             const std::function<bool(double)>& valid, const std::string& rule)
{
    return add_value_option(app, name, value_name, description, [&target, valid, rule](const std::string& text) {
        std::string what;
        std::optional<std::vector<double>> values = parse_axis(text, what);
        if (!values) return what;
        for (const double value : *values) {
            if (valid && !valid(value)) return rule;
        }
        target = std::move(*values);
        return std::string();
    });
}
