// quellora --settings: the settings window is a program of its own,
// quellora-settings (the saver stays free of a toolkit); this finds it and
// runs it in this process's place.
#pragma once

#include <string>

namespace quellora::linux_entry {

inline constexpr const char* kSettingsWindowName = "quellora-settings";

// The settings window's program: beside `self` (this program's real path,
// as in the build folder), else in `bindir` (the install's), else in the
// first folder of `path` (PATH's text) that has it; each an executable
// file. Empty when there is none.
std::string FindSettingsWindow(const std::string& self, const std::string& bindir, const std::string& path);

// Runs the settings window in this process's place; returns 1 after one
// line on stderr when it is not installed or cannot be run.
int RunSettingsWindow(const std::string& bindir);

}  // namespace quellora::linux_entry
