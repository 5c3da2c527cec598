// Replacing a small file of the user's whole or not at all: the new text goes
// into a temporary file beside it, which is flushed and renamed over it. No
// temporary file outlives the program: the signals that end it wait while one
// exists, and the next run removes those that a killed one left.
#pragma once

#include <sys/types.h>

#include <string>

namespace quellora::posix {

// Writes `text` to `path` (a path whose symbolic links are already followed)
// with the permissions `mode`, through a temporary file named `tempPrefix`
// PID-N in the same folder. False with `error` set when it fails, and the
// file is then as it was.
bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode, const std::string& tempPrefix,
                         std::string& error);

// Removes the temporary files named `tempPrefix` PID-N in `folder` that a run
// left which no longer exists (ours only, regular files only).
void RemoveStaleTemporaries(const std::string& folder, const std::string& tempPrefix);

}  // namespace quellora::posix
