// The idle watcher's lock, one for each session.
#include "platform/linux/watcher_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "platform/text.h"

namespace quellora::linux_entry {

namespace {

// What names the session: a byte that a file name can't hold, or that
// would make two names the same, as %XX.
std::string SessionKey(const LaunchEnvironment& env) {
    auto set = [](const std::optional<std::string>& v) { return v.value_or(""); };
    std::string key = set(env.waylandDisplay);
    if (key.empty()) {
        key = set(env.display);
        // ":0.0" and ":0" are the same server.
        const size_t colon = key.rfind(':'), dot = key.rfind('.');
        if (colon != std::string::npos && dot != std::string::npos && dot > colon + 1 &&
            key.find_first_not_of("0123456789", dot + 1) == std::string::npos)
            key.erase(dot);
    }
    if (key.empty() && !set(env.sessionId).empty()) key = "session-" + set(env.sessionId);
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : key) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (std::isalnum(b) || c == '-' || c == '_' || c == '.' || c == ':') {
            escaped += c;
        } else {
            escaped += '%';
            escaped += kHex[b >> 4];
            escaped += kHex[b & 15];
        }
    }
    return escaped;
}

}  // namespace

std::string WatcherLockPath(const LaunchEnvironment& env) {
    const std::string runtime = env.runtimeDir.value_or("");
    if (runtime.empty() || runtime[0] != '/') return {};
    const std::string key = SessionKey(env);
    return runtime + "/quellora-idle" + (key.empty() ? "" : "@" + key) + ".lock";
}

std::string WatcherLockPath() { return WatcherLockPath(LaunchEnvironment::Read()); }

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
