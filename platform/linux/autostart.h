// The idle watcher at login: --autostart on|off writes or removes the XDG
// autostart entry quellora-idle.desktop ($XDG_CONFIG_HOME/autostart, default
// ~/.config/autostart), which GNOME, KDE Plasma, XFCE, MATE and Cinnamon run
// when the user logs in. On writes the entry whole and atomically (a new
// file beside it, flushed, renamed over it); off deletes it. Both leave a
// file that is as asked alone, and print one line.
#pragma once

#include <string>

namespace quellora::linux_entry {

inline constexpr const char* kAutostartName = "quellora-idle.desktop";

// The entry that runs `command --idle` ("quellora" or an absolute path).
std::string AutostartEntry(const std::string& command);

// $XDG_CONFIG_HOME/autostart/quellora-idle.desktop when XDG_CONFIG_HOME is an
// absolute path, else HOME/.config/autostart/... with the home folder of
// posix/user_paths.h (HOME, else the passwd entry's, as for the XScreenSaver
// list); empty when neither is known.
std::string AutostartPath();

struct AutostartResult {
    int exitCode = 1;
    std::string message;  // without "quellora: " and the newline
    bool changed = false;
};

// Writes (on) or removes (off) the entry at `path` for `command`. The folder
// of `path` and the one above it are made when missing. A symbolic link at
// `path` is followed; anything but a regular file there, or one of another
// user, is left alone with an error.
AutostartResult SetAutostart(bool on, const std::string& path, const std::string& command);

// --autostart on|off for the user who runs it; returns the exit code.
int RunAutostartCommand(bool on, const std::string& hackFolder);

}  // namespace quellora::linux_entry
