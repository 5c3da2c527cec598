// Quellora in a user's XScreenSaver programs list: the `programs:` resource of
// ~/.xscreensaver. The daemon and xscreensaver-settings offer only the hacks
// of that list (or of the system's defaults when the file has none), so an
// installed hack is not chosen until it is written there.
//
// The list is a resource value that goes on over lines ending in a backslash;
// its entries are separated by the two characters \n, and each one is
// [-] [VISUAL:] ["Label"] command, "-" meaning the entry is switched off.
//
// The editor works on the file's text and changes nothing but the list: Add
// inserts one run of bytes, Remove takes exactly that run out again, so that
// a file after Add and Remove is the file before, byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quellora::posix {

// Largest file the editor reads; a bigger one counts as malformed.
inline constexpr size_t kMaxXScreenSaverFileBytes = 1024 * 1024;

// Where a system without a user file takes its list from.
inline constexpr const char* kXScreenSaverDefaultsFile = "/etc/X11/app-defaults/XScreenSaver";

struct ProgramsEntry {
    std::string text;  // as written, without the blanks around it
    bool enabled = true;
    std::string command;  // the command line, after -, VISUAL: and "Label"
};

struct ProgramsList {
    bool present = false;  // the text has a programs resource
    std::vector<ProgramsEntry> entries;
};

// The programs list of a ~/.xscreensaver or app-defaults text. nullopt, with
// `error` set to a short reason, when the text can't be edited safely: a zero
// byte, more than kMaxXScreenSaverFileBytes, two programs resources, or a list
// whose last line still ends in a backslash.
std::optional<ProgramsList> ParsePrograms(const std::string& text, std::string* error = nullptr);

// True for an entry whose command runs a program named quellora.
bool RunsQuellora(const ProgramsEntry& entry);

struct ListEdit {
    enum class Result { Changed, Unchanged, Failed };
    Result result = Result::Failed;
    std::string text;   // the new text when Changed
    std::string error;  // why, when Failed
};

// `command` is what runs the installed program ("quellora" or an absolute
// path); the entry added is `"Quellora"  COMMAND --root`. `defaults` is the
// text of the system's app-defaults file, used when `text` has no programs
// resource (a missing file is an empty text): the list is then written as the
// system's list with Quellora at its end. Unchanged when an entry that runs
// quellora is there already, on or off.
ListEdit AddQuellora(const std::string& text, const std::string& defaults, const std::string& command);

// The inverse of AddQuellora with the same `defaults` and `command`. An
// entry written otherwise (by hand, by xscreensaver-settings) is taken out
// when it has physical lines of its own; failing that the text is left and
// the result says why. Unchanged when no entry runs quellora.
ListEdit RemoveQuellora(const std::string& text, const std::string& defaults, const std::string& command);

// What the add and remove commands do to a file, and the one line they print.
struct ListCommandResult {
    int exitCode = 1;
    std::string message;  // without "quellora: " and the newline
    bool changed = false;
};

// A running xscreensaver-settings (or xscreensaver-demo, its older name) of
// the user who runs this, found in `procFolder`: "xscreensaver-settings
// (process 1234)"; empty when there is none. It keeps the list it read when
// it started and writes that back on its next save, so a change made
// meanwhile would be lost.
std::string RunningSettingsTool(const std::string& procFolder = "/proc");

// Edits the file at `path` (a missing one is an empty text; a symbolic link
// is followed). The new text goes to a temporary file in the same folder
// with the old file's mode, is flushed to disk and renamed over the old one;
// on any failure the old file stays as it was. A text that Remove leaves
// empty is deleted. `defaultsPath` is read only when the file has no list.
// A change is refused, the file left alone, while RunningSettingsTool finds
// one in `procFolder`.
ListCommandResult EditXScreenSaverFile(bool add, const std::string& path, const std::string& defaultsPath,
                                       const std::string& command, const std::string& procFolder = "/proc");

// The command an entry runs for the program at `program` (its real path):
// "quellora" when it is in `hackFolder`, XScreenSaver's folder of hacks, which
// the daemon searches, and else that path, so that an install elsewhere works.
std::string HackCommand(const std::string& program, const std::string& hackFolder);

// --xscreensaver-add / --xscreensaver-remove for the user who runs it: edits
// that user's file, prints one line (errors on stderr), and when a daemon
// answers xscreensaver-command, one more about when it sees the change.
// Returns the exit code.
int RunXScreenSaverListCommand(bool add, const std::string& hackFolder);

// $HOME/.xscreensaver, or the passwd entry's home; empty when neither is known.
std::string UserXScreenSaverFile();

}  // namespace quellora::posix
