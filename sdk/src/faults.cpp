#include "faults.hpp"

#include <sstream>

namespace kv3::detail {

namespace {

std::optional<std::uint64_t> parse_frame_number(const std::string& digits)
{
    if (digits.empty() || digits.size() > 19)  // 19 digits always fit in 64 bits
        return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (n == 0)
        return std::nullopt;
    return n;
}

}  // namespace

std::optional<fault_plan> parse_faults(const std::string& text)
{
    fault_plan plan;
    if (text.empty())
        return plan;
    std::istringstream items(text);
    std::string item;
    std::size_t count = 0;
    while (std::getline(items, item, ',')) {
        ++count;
        const std::size_t at = item.find('@');
        if (at == std::string::npos)
            return std::nullopt;
        const std::string kind = item.substr(0, at);
        const std::optional<std::uint64_t> frame = parse_frame_number(item.substr(at + 1));
        if (!frame)
            return std::nullopt;
        if (kind == "nodepth")
            plan.nodepth.insert(*frame);
        else if (kind == "timeout")
            plan.timeout.insert(*frame);
        else if (kind == "badsize")
            plan.badsize.insert(*frame);
        else
            return std::nullopt;
    }
    // getline drops a trailing empty item: "nodepth@1," must not pass as well formed.
    if (count == 0 || text.back() == ',')
        return std::nullopt;
    return plan;
}

}  // namespace kv3::detail
