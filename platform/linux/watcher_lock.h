// The idle watcher's lock: one watcher runs in a session, and the lock's file
// holds its pid, so that a second watcher can name the first and the
// settings window can end the one that runs.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace quellora::linux_entry {

// The lock file of this session's watcher, in XDG_RUNTIME_DIR; empty when
// XDG_RUNTIME_DIR is not an absolute path.
std::string WatcherLockPath();

// The pid of the watcher that holds the lock now, or nullopt when none does.
std::optional<pid_t> RunningWatcher();

}  // namespace quellora::linux_entry
