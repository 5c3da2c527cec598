// The per-user settings, read like an initialisation file bound to a key of
// the per-user store: the key is the file, a subkey a section, a value an
// entry. Only ever read; opening creates the key when it is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace quellora {

inline constexpr const char* kSettingsKey = "Software\\Orvandel\\";
inline constexpr const char* kSettingsSection = "ScreenSaverSample";
inline constexpr const char* kDispStrEntry = "DispStr";
inline constexpr const char* kSleepTimeEntry = "SleepTime";
inline constexpr const char* kDefaultDispStr = "Screen Saver Sample";

class SettingsStore {
public:
    SettingsStore(KeyStore& keys, const std::string& keyPath);
    ~SettingsStore() { Close(); }
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    // A value that is missing, not a string, or in a section or key that
    // cannot be opened gives the default.
    std::string ReadString(const std::string& section, const std::string& entry, const std::string& def);
    // Integers are stored as text; text that is no integer gives the default.
    int32_t ReadInteger(const std::string& section, const std::string& entry, int32_t def);
    void Close() { open_ = false; }
    bool IsOpen() const { return open_; }

private:
    std::optional<std::string> Read(const std::string& section, const std::string& entry);

    KeyStore& keys_;
    std::string path_;
    bool open_ = false;
};

}  // namespace quellora
