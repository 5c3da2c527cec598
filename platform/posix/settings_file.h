// The per-user key store on Linux: the settings key "Software\Orvandel\" is
// the folder $XDG_CONFIG_HOME/Orvandel (default ~/.config/Orvandel), and its
// subkeys are the sections of the INI file settings.ini in that folder.
// Opening the key creates that folder when it is missing, inside a
// configuration home that exists (never the home itself); nothing is ever
// written into it. A file that can't be read or parsed is treated as missing.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace quellora::posix {

// Largest settings file that is read; a bigger one is treated as missing.
inline constexpr size_t kMaxSettingsFileBytes = 64 * 1024;

// The sections of an INI text: section -> entry -> value, names in lower case.
using IniSections = std::map<std::string, std::map<std::string, std::string>>;

// Parses INI text: [Section] lines, Name=Value lines, blank lines and lines
// starting with ; or #. Blanks around names and values are dropped, and a
// value in double quotes keeps its inner blanks. A later entry of the same
// name wins. Any other line, a zero byte or an entry before the first section
// makes the whole text invalid (nullopt).
std::optional<IniSections> ParseIni(const std::string& text);

class SettingsFile : public KeyStore {
public:
    // `folder` is the folder that stands for the key "Software\Orvandel\".
    explicit SettingsFile(std::string folder) : folder_(std::move(folder)) {}
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
    std::optional<IniSections> Load() const;

    std::string folder_;
};

}  // namespace quellora::posix
