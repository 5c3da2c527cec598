// The Wayland host's way in for the Linux program: a connection to the
// compositor, and the full-screen saver run on it. Which host runs is the
// program's choice (platform/linux), not this one's.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct wl_display;

namespace quellora::wayland {

struct Connection {
    wl_display* display = nullptr;
    std::string why;  // when there is none: one line, "cannot connect to the Wayland compositor 'wayland-1'"
};

// Connects to the compositor that WAYLAND_SOCKET (`socket`, a descriptor
// libwayland takes over) or else WAYLAND_DISPLAY (`name`; unset or empty:
// wayland-0) names. libwayland's own log never reaches stderr.
Connection Connect(const std::optional<std::string>& socket, const std::optional<std::string>& name);

// Runs the host's switches `args` (the saver) on `display` to their end,
// disconnects, and returns the exit status.
int Run(wl_display* display, const std::vector<std::string>& args);

}  // namespace quellora::wayland
