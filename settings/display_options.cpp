// Scale and Monitors, from their text.
#include "settings/display_options.h"

#include "platform/text.h"

namespace quellora {

namespace {

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

std::optional<int> ParseScale(std::string_view text) {
    const std::string_view t = Trimmed(text);
    if (ToLowerAscii(t) == "auto") return kAutoScale;
    if (t.empty() || t.size() > 1 || t[0] < '1' || t[0] > '0' + kMaxScaleSetting) return std::nullopt;
    return t[0] - '0';
}

std::string ScaleProblem(std::string_view text) {
    if (Trimmed(text).empty() || ParseScale(text)) return {};
    return "is not auto or 1 to " + std::to_string(kMaxScaleSetting) + "; auto stands";
}

std::string MonitorsProblem(std::string_view text) {
    if (Trimmed(text).empty() || ParseMonitors(text)) return {};
    return "is not all or primary; all stands";
}

std::optional<MonitorChoice> ParseMonitors(std::string_view text) {
    const std::string lower = ToLowerAscii(Trimmed(text));
    if (lower == "all") return MonitorChoice::All;
    if (lower == "primary") return MonitorChoice::Primary;
    return std::nullopt;
}

}  // namespace quellora
