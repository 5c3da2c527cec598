// How long the session stays idle before the Linux idle watcher starts the
// saver: "IdleTimeout", in seconds, as Windows counts its screen-saver
// timeout; the same text rules for the setting and for `--idle SECONDS`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellora {

inline constexpr const char* kIdleTimeoutEntry = "IdleTimeout";
inline constexpr uint32_t kDefaultIdleSeconds = 600;
inline constexpr uint32_t kMaxIdleSeconds = 86400;  // a day

// A whole number of seconds from 1 to kMaxIdleSeconds in decimal digits,
// blanks around allowed; anything else nullopt.
std::optional<uint32_t> ParseIdleSeconds(std::string_view text);

// What is wrong with IdleTimeout's text, and what stands instead, for a line
// to the user; empty for text that ParseIdleSeconds takes and for blank
// text, which asks for the default.
std::string IdleSecondsProblem(std::string_view text);

}  // namespace quellora
