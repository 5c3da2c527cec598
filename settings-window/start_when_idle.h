// What the settings window runs of the `quellora` program: "Start when idle"
// (the idle watcher's autostart entry, through the code of
// `quellora --autostart`, and this session's watcher now) and the saver for
// "Test". Needs no toolkit.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace quellora::settings_window {

// The `quellora` beside this program (the link /usr/bin/quellora of an
// install, or the build folder's), else "quellora" on the PATH.
std::string QuelloraProgram();

// The environment for the programs the window starts: its own, less the
// frame log its measuring script asked of the preview.
std::vector<std::string> ChildEnvironment();

// Whether the autostart entry is there (the watcher starts at login).
bool StartsWhenIdle();

// Writes (on) or removes (off) the autostart entry, then starts this
// session's watcher (`quellora --idle`, detached) unless one runs, or ends
// the one that runs (SIGTERM). Empty when it worked, else what went wrong
// in a sentence for the window.
std::string SetStartWhenIdle(bool on);

// Runs `argv` in a session of its own, not as a child of ours, with
// `environment`; its pid, or 0 with `error` set when it could not be started.
pid_t StartDetached(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                    std::string& error);

}  // namespace quellora::settings_window
