#include "platform/linux/watcher_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/text.h"

namespace quellora::linux_entry {

std::string WatcherLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || runtime[0] != '/') return {};
    return std::string(runtime) + "/quellora-idle.lock";
}

std::optional<pid_t> RunningWatcher() {
    const std::string path = WatcherLockPath();
    if (path.empty()) return std::nullopt;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::optional<pid_t> pid;
    // Held by another process: a watcher runs, and the file says which.
    if (flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        char buf[32] = {};
        const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
        if (n > 0)
            if (const auto v = ParseCount(std::string(buf, static_cast<size_t>(n))); v && *v > 0)
                pid = static_cast<pid_t>(*v);
    }
    close(fd);
    return pid;
}

}  // namespace quellora::linux_entry
