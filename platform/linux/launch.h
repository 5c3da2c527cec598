// Which host runs the Linux program, chosen once from its environment: the
// full-screen saver (/s) on a Wayland compositor when one is named and
// answers, everything else on X11; QUELLORA_BACKEND=wayland or =x11 forces one.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"

namespace quellora::linux_entry {

// What the program reads of its environment, read once at the start. A
// variable that is not set is nullopt; one set to "" is an empty string.
struct LaunchEnvironment {
    std::optional<std::string> backend;         // QUELLORA_BACKEND
    std::optional<std::string> waylandDisplay;  // WAYLAND_DISPLAY
    std::optional<std::string> waylandSocket;   // WAYLAND_SOCKET
    std::optional<std::string> display;         // DISPLAY
    std::optional<std::string> sessionId;       // XDG_SESSION_ID, for the idle watcher
    std::optional<std::string> runtimeDir;      // XDG_RUNTIME_DIR, where the idle watcher's lock is

    static LaunchEnvironment Read();
    // WAYLAND_DISPLAY or WAYLAND_SOCKET names a compositor.
    bool NamesWayland() const;
};

struct HostChoice {
    enum class Host {
        Wayland,        // QUELLORA_BACKEND=wayland: a compositor, or one line and status 1
        WaylandFirst,   // a compositor when one answers, else X11
        X11,
        Fail,           // `why` is the one line
    };
    Host host = Host::X11;
    // Fail: what is wrong. X11 for the saver: why it did not look for a
    // compositor, said before X11's own words when X11 fails too.
    std::string why;
};

// The host for the command line `cl` (the host's switches or a hack's
// options) with the arguments `args`; `waylandBuilt` says whether this
// build has the Wayland backend.
HostChoice ChooseHost(const LaunchEnvironment& env, const posix::CommandLine& cl,
                      const std::vector<std::string>& args, bool waylandBuilt);

}  // namespace quellora::linux_entry
