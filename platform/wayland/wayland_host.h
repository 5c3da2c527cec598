// Which backend runs the program: the full-screen saver (/s) runs on Wayland
// when a compositor answers, everything else on X11. QUELLORA_BACKEND=wayland
// or =x11 forces one.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quellora::wayland {

// Runs the host's switches `args` on Wayland and returns the exit status, or
// nullopt when they are X11's to run.
std::optional<int> RunOnWayland(const std::vector<std::string>& args);

}  // namespace quellora::wayland
