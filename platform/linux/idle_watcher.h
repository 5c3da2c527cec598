// quellora --idle: runs for the whole session, starts the saver (`quellora
// /s`, this program, as a child) whenever the session has been idle for the
// timeout, and ends it (SIGTERM) when the session is active again and it
// still runs. One watcher per session (a lock in XDG_RUNTIME_DIR, see
// watcher_lock.h), one saver at a time. It never locks the screen and never
// inhibits idle itself.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/linux/launch.h"

namespace quellora::linux_entry {

// `seconds`: --idle SECONDS; nullopt takes the settings file's IdleTimeout,
// else 10 minutes. `env`: the displays it watches. Returns the exit code: 1
// with one line on stderr when it cannot watch or its compositor, X server
// or bus goes away; it ends by the signal that ended it (SIGTERM, SIGINT,
// SIGHUP) after ending its saver.
int RunIdleWatcher(std::optional<uint32_t> seconds, const LaunchEnvironment& env);

// IdleTimeout from the settings file, else the default.
uint32_t IdleSecondsFromSettings();

}  // namespace quellora::linux_entry
