// The two display settings beside the design's own: how many screen pixels a
// picture pixel takes ("Scale": "auto" or 1 to 8), and which monitors show
// the picture ("Monitors": "all" or "primary"). Text that means neither
// counts as missing, so the default stands.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quellora {

inline constexpr const char* kScaleEntry = "Scale";
inline constexpr const char* kMonitorsEntry = "Monitors";

inline constexpr int kAutoScale = 0;  // a scale chosen for each monitor
inline constexpr int kMaxScaleSetting = 8;

enum class MonitorChoice { All, Primary };

// "auto" (any case) gives kAutoScale, a whole number 1 to 8 itself, with
// blanks around either allowed; anything else nullopt.
std::optional<int> ParseScale(std::string_view text);
// "all" or "primary", any case, blanks around allowed; anything else nullopt.
std::optional<MonitorChoice> ParseMonitors(std::string_view text);

// What is wrong with a setting's text, and what stands instead, for a line
// to the user ("is not auto or 1 to 8; auto stands"); empty for text that
// the Parse function above takes and for blank text, which asks for the
// default.
std::string ScaleProblem(std::string_view text);
std::string MonitorsProblem(std::string_view text);

}  // namespace quellora
