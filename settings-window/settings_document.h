// The settings the window shows and changes: read as the saver and the idle
// watcher read them, and each change written at once into the settings
// file's own text (every other line kept) through the atomic writer. A change
// that cannot be saved stays here, and goes with the next save that works.
// Needs no toolkit, so the unit tests run it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "settings/display_options.h"

namespace quellora::settings_window {

inline constexpr uint32_t kMaxWaitMinutes = 1440;  // IdleTimeout's largest, a day

// The minutes the window shows for IdleTimeout's seconds: rounded to the
// nearest, and at least 1.
uint32_t MinutesOf(uint32_t seconds);

class SettingsDocument {
public:
    // `folder`: the folder of settings.ini (posix::SettingsFile::DefaultFolder()).
    explicit SettingsDocument(std::string folder);

    const std::string& FilePath() const { return path_; }

    // Reads the file again. Values that are missing or out of range show as
    // their defaults; changes not saved yet show over what the file says.
    void Load();
    uint32_t WaitMinutes() const { return waitMinutes_; }
    int Scale() const { return scale_; }
    MonitorChoice Monitors() const { return monitors_; }

    // The user's changes: each is saved at once, with every earlier one that
    // could not be saved. False when saving failed (Problem() says why).
    bool SetWaitMinutes(uint32_t minutes);
    bool SetScale(int scale);
    bool SetMonitors(MonitorChoice monitors);
    // Tries again to save the changes not saved yet.
    bool Save();
    bool Unsaved() const { return !pending_.empty(); }

    // What the user should know about the file, in a sentence or two that
    // says what to do; empty while all is well.
    const std::string& Problem() const { return problem_; }

    // The text of an entry as the saver will read it once the changes are
    // saved: a change not saved yet, else nullopt (the file says).
    std::optional<std::string> Unsaved(const std::string& entry) const;

private:
    bool Change(const char* entry, std::string value);
    // Why the file can't be read, and what the user can do about it.
    struct Trouble {
        std::string why;
        std::string fix;
    };
    // The file's text now (a missing file is an empty text); false with
    // `trouble` set when it can't be read.
    bool ReadText(std::string& text, bool& exists, Trouble& trouble);

    std::string folder_;
    std::string path_;
    std::map<std::string, std::string> pending_;  // entry -> value, in the saver's spelling
    uint32_t waitMinutes_ = 10;
    int scale_ = kAutoScale;
    MonitorChoice monitors_ = MonitorChoice::All;
    std::string readProblem_;  // what Load found
    std::string problem_;
};

// A key store for the preview's saver window: the settings file, with the
// changes not saved yet over it, so the preview shows what the window shows.
class UnsavedOverFile : public KeyStore {
public:
    UnsavedOverFile(KeyStore& file, const SettingsDocument& document) : file_(file), document_(document) {}
    // The key is open even where the file's folder can't be made: the changes
    // not saved yet are there.
    bool CreateKey(const std::string& path) override {
        file_.CreateKey(path);
        return true;
    }
    bool KeyExists(const std::string& path) override { return file_.KeyExists(path); }
    std::optional<KeyValue> ReadValue(const std::string& path, const std::string& name) override;

private:
    KeyStore& file_;
    const SettingsDocument& document_;
};

}  // namespace quellora::settings_window
