// The idle watcher's lock: one watcher runs in a session, and the lock's file
// holds its pid, so that a second watcher can name the first and the
// settings window can end the one that runs.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/linux/launch.h"

namespace quellora::linux_entry {

// The lock file of this session's watcher, in XDG_RUNTIME_DIR, named after
// the display the session shows on: the Wayland display (WAYLAND_DISPLAY),
// else the X display (DISPLAY, its screen number left out), else the login
// session (XDG_SESSION_ID): quellora-idle@wayland-0.lock. A second session
// of the same user, on another seat or nested in this one, has a lock of
// its own. Empty when XDG_RUNTIME_DIR is not an absolute path. Without
// `env`, this process's environment.
std::string WatcherLockPath(const LaunchEnvironment& env);
std::string WatcherLockPath();

// The pid of the watcher that holds the lock now, or nullopt when none does.
std::optional<pid_t> RunningWatcher();

}  // namespace quellora::linux_entry
