#include "settings_checks.hpp"

#include "faults.hpp"
#include "source.hpp"

namespace {

using kv3::detail::fault_plan;

std::string text_of(const fault_plan& plan)
{
    std::string text;
    const auto add = [&text](const char* kind, const std::set<std::uint64_t>& frames) {
        for (const std::uint64_t n : frames) text += (text.empty() ? "" : ",") + (kind + ("@" + std::to_string(n)));
    };
    add("nodepth", plan.nodepth);
    add("timeout", plan.timeout);
    add("badsize", plan.badsize);
    return text;
}

bool same_plan(const fault_plan& a, const fault_plan& b)
{
    return a.nodepth == b.nodepth && a.timeout == b.timeout && a.badsize == b.badsize;
}

bool ends_with(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string check_source_setting(const std::string& value)
{
    using namespace kv3::detail;
    frame_source source;
    const kv3::kv3_error error = resolve_source(true, value, source);
    const bool replay = source.kind == source_kind::replay || source.kind == source_kind::replay_once;
    switch (error) {
    case kv3::KV3_SUCCESS:
        if (source.kind == source_kind::none) return "success for no camera";
        if (replay && source.frames.empty()) return "a replay source without frames";
        for (const std::string& frame : source.frames)
            if (!ends_with(frame, ".png")) return "a replay frame not ending in .png: " + frame;
        if (!replay && !source.frames.empty()) return "a scene with replay frames";
        return {};
    case kv3::KV3_ERROR_NO_DEVICE:
        return value == "none" ? std::string() : "no device for a value other than none";
    case kv3::KV3_ERROR_INVALID_SOURCE:
    case kv3::KV3_ERROR_SOURCE_NOT_FOUND:
        return value.empty() || value == "scene" ? "the default scene refused" : std::string();
    default:
        return "an error code resolve_source does not give: " + std::to_string(error);
    }
}

std::string check_fault_setting(const std::string& text)
{
    const std::optional<fault_plan> plan = kv3::detail::parse_faults(text);
    if (!plan) {
        if (text.empty()) return "the empty setting refused";
        return {};
    }
    std::size_t faults = plan->nodepth.size() + plan->timeout.size() + plan->badsize.size();
    if (text.empty() != (faults == 0)) return "a plan whose size does not fit its text";
    for (const auto* frames : {&plan->nodepth, &plan->timeout, &plan->badsize})
        if (!frames->empty() && *frames->begin() == 0) return "frame number 0 accepted";
    const std::string canonical = text_of(*plan);
    const std::optional<fault_plan> again = kv3::detail::parse_faults(canonical);
    if (!again || !same_plan(*again, *plan)) return "the plan does not read back from " + canonical;
    for (const char c : text)
        if (!(c == ',' || c == '@' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return "a character outside the grammar accepted";
    return {};
}
