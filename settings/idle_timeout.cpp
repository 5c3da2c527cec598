// IdleTimeout, from its text.
#include "settings/idle_timeout.h"

namespace quellora {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<uint32_t> ParseIdleSeconds(std::string_view text) {
    text = Trimmed(text);
    if (text.empty() || text.size() > 6) return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > kMaxIdleSeconds) return std::nullopt;
    return value;
}

std::string IdleSecondsProblem(std::string_view text) {
    if (Trimmed(text).empty() || ParseIdleSeconds(text)) return {};
    return "is not a whole number of seconds from 1 to " + std::to_string(kMaxIdleSeconds) + "; " +
           std::to_string(kDefaultIdleSeconds) + " stands";
}

}  // namespace quellora
