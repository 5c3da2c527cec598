// The per-user key store on Linux: the settings key "Software\Orvandel\" is
// the folder $XDG_CONFIG_HOME/Orvandel (default ~/.config/Orvandel), and its
// subkeys are the sections of the INI file settings.ini in that folder.
// Opening the key creates that folder when it is missing, inside a
// configuration home that exists (never the home itself); nothing is ever
// written into it. What can be read of the file is read: a line that is not
// an entry is skipped and the others stand; a file that can't be read is
// treated as missing. What was not used is said once, one line each.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quellora::posix {

// Largest settings file that is read; a bigger one is treated as missing.
inline constexpr size_t kMaxSettingsFileBytes = 64 * 1024;

// The sections of an INI text: section -> entry -> value, names in lower case.
using IniSections = std::map<std::string, std::map<std::string, std::string>>;

// A line of INI text that was not used, and why.
struct IniSkip {
    enum class Why {
        NotAnEntry,        // no Name=Value (or no name), or a zero byte in it
        OutsideSection,    // an entry before the first section
        BadSection,        // "[" without a closing "]", or "[]": its entries go with it
    };
    size_t line;  // from 1
    Why why;
};

struct IniText {
    IniSections sections;
    std::vector<IniSkip> skipped;  // in the order of the lines
};

// Parses INI text: [Section] lines, Name=Value lines, blank lines and lines
// starting with ; or #. Blanks around names and values are dropped, and a
// value in double quotes keeps its inner blanks. A later entry of the same
// name wins. Any other line is skipped, and so are the entries under a
// section line that is no section's; the rest stands.
IniText ParseIni(const std::string& text);

// One read of the settings file: its sections, and what in it was not used
// with what stands instead, one line each for the user ("settings.ini line 3
// is not an entry; skipped", "settings.ini: Scale=9 is not auto or 1 to 8;
// auto stands"). A missing file or folder reads as empty, without a word; a
// file that can't be read reads as empty, with one.
struct SettingsText {
    IniSections sections;
    std::vector<std::string> problems;
};
SettingsText ReadSettingsFile(const std::string& path);

// Lines on stderr, each with "quellora: " in front, each at most once in the
// life of the process however often it is given.
void SayOnce(const std::vector<std::string>& lines);

class SettingsFile : public KeyStore {
public:
    // `folder` is the folder that stands for the key "Software\Orvandel\".
    // What a read of the file finds wrong goes to SayOnce unless `quiet`.
    explicit SettingsFile(std::string folder, bool quiet = false) : folder_(std::move(folder)), quiet_(quiet) {}
    // $XDG_CONFIG_HOME/Orvandel when XDG_CONFIG_HOME is an absolute path,
    // else $HOME/.config/Orvandel; empty when neither is known.
    static std::string DefaultFolder();

    const std::string& Folder() const { return folder_; }
    std::string FilePath() const { return folder_ + "/settings.ini"; }

    // The settings key creates its folder (not the folders above it); a
    // section is there when the file has it. Keys outside "Software\Orvandel" have no equivalent here.
    bool CreateKey(const std::string& path) override;
    bool KeyExists(const std::string& path) override;
    std::optional<KeyValue> ReadValue(const std::string& path, const std::string& name) override;

private:
    // Where a key path points: the folder (section empty) or a section.
    std::optional<std::string> SectionOf(const std::string& path) const;
    IniSections Load() const;

    std::string folder_;
    bool quiet_;
};

}  // namespace quellora::posix
