// The settings file's folder under inotify, for the idle watcher: it
// follows a new IdleTimeout written there (by the settings window, an
// editor or a script) without a restart. The folder may come later: its
// parent, the configuration home, is watched for it.
#pragma once

#include <string>

namespace quellora::linux_entry {

class SettingsWatch {
public:
    // `folder`: the settings folder ($XDG_CONFIG_HOME/Orvandel); empty:
    // nothing to watch.
    explicit SettingsWatch(const std::string& folder);
    ~SettingsWatch();
    SettingsWatch(const SettingsWatch&) = delete;
    SettingsWatch& operator=(const SettingsWatch&) = delete;

    // The descriptor to poll, or -1.
    int Fd() const { return fd_; }
    // Reads what inotify says: true when settings.ini may have changed
    // (written, renamed into place, removed, or its folder come or gone).
    bool Changed();

private:
    void WatchFolder();

    std::string folder_, name_;  // the folder, and its name in its parent
    int fd_ = -1;
    int folderWatch_ = -1, parentWatch_ = -1;
};

}  // namespace quellora::linux_entry
