// Which backend runs the program: the full-screen saver (/s) runs on Wayland
// when a compositor answers, everything else on X11. QUELLORA_BACKEND=wayland
// or =x11 forces one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quellora::wayland {

// Runs the host's switches `args` on Wayland and returns the exit status, or
// nullopt when they are X11's to run. A compositor is looked for only when
// WAYLAND_DISPLAY or WAYLAND_SOCKET is set (or QUELLORA_BACKEND=wayland);
// when the saver could have run on one but none answers, `unreached` says
// why, in words that go before X11's own: "no Wayland compositor
// (WAYLAND_DISPLAY is not set)". libwayland's own log never reaches stderr.
std::optional<int> RunOnWayland(const std::vector<std::string>& args, std::string* unreached = nullptr);

}  // namespace quellora::wayland
