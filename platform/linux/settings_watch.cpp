// The settings folder under inotify.
#include "platform/linux/settings_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

namespace quellora::linux_entry {

namespace {

constexpr const char* kFileName = "settings.ini";

}  // namespace

SettingsWatch::SettingsWatch(const std::string& folder) : folder_(folder) {
    const size_t slash = folder.rfind('/');
    if (folder.empty() || slash == std::string::npos || slash + 1 == folder.size()) return;
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    name_ = folder.substr(slash + 1);
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    parentWatch_ = inotify_add_watch(fd_, parent.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
    WatchFolder();
}

SettingsWatch::~SettingsWatch() {
    if (fd_ >= 0) close(fd_);
}

void SettingsWatch::WatchFolder() {
    folderWatch_ = inotify_add_watch(fd_, folder_.c_str(),
                                     IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR);
}

bool SettingsWatch::Changed() {
    if (fd_ < 0) return false;
    bool changed = false;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            const char* name = e->len ? e->name : "";
            if (e->wd == parentWatch_ && (e->mask & IN_ISDIR) && name_ == name) {
                // The folder came (made, or renamed into place): what it holds counts.
                if (folderWatch_ >= 0) inotify_rm_watch(fd_, folderWatch_);
                WatchFolder();
                changed = true;
            } else if (e->wd == folderWatch_) {
                if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    // The folder went, and the file with it.
                    if (!(e->mask & IN_IGNORED)) inotify_rm_watch(fd_, folderWatch_);
                    folderWatch_ = -1;
                    changed = true;
                } else if (std::strcmp(name, kFileName) == 0) {
                    changed = true;
                }
            }
        }
    }
    return changed;
}

}  // namespace quellora::linux_entry
