// The idle watcher's XDG autostart entry.
#include "platform/linux/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/atomic_file.h"
#include "platform/posix/command_line.h"
#include "platform/posix/user_paths.h"
#include "platform/posix/xscreensaver_list.h"

namespace quellora::linux_entry {

using posix::Quoted;
using posix::RemoveStaleTemporaries;

namespace {

// Characters an Exec key may hold without quoting (and no % field codes).
bool PlainCommand(const std::string& command) {
    if (command.empty()) return false;
    for (const char c : command)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("/._+-,=@", c)) return false;
    return true;
}

constexpr const char kTempPrefix[] = ".quellora-idle.desktop-";  // then PID-N

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The whole of a small regular file; false with `error` set otherwise.
bool ReadSmallFile(const std::string& path, std::string& text, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    char buf[8192];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = std::strerror(errno);
        if (n <= 0) {
            close(fd);
            return n == 0;
        }
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > 65536) {  // no entry of ours is that big: it differs, which is all we ask
            close(fd);
            return true;
        }
    }
}

// The folder, and the one above it, made when missing (the configuration
// home as XDG asks, for its user alone).
bool MakeFolders(const std::string& folder, std::string& error) {
    const std::string parent = FolderOf(folder);
    for (const auto& [dir, mode] : {std::pair{parent, 0700}, std::pair{folder, 0777}}) {
        if (mkdir(dir.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST) {
            error = "cannot make the folder " + Quoted(dir) + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

AutostartResult Fail(std::string message) {
    AutostartResult r;
    r.message = std::move(message);
    return r;
}

}  // namespace

std::string AutostartEntry(const std::string& command) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quellora idle watcher\n"
           "Comment=Starts the Quellora screen saver when the session is idle\n"
           "Exec=" + command + " --idle\n"
           "TryExec=" + command + "\n"
           "Terminal=false\n"
           "NoDisplay=true\n";
}

std::string AutostartPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const std::string home = posix::HomeFolder();
        if (home.empty()) return {};
        base = (home == "/" ? "" : home) + "/.config";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return (base == "/" ? "" : base) + "/autostart/" + kAutostartName;
}

AutostartResult SetAutostart(bool on, const std::string& givenPath, const std::string& command) {
    if (givenPath.empty()) return Fail(posix::kNoHomeFolder);
    if (on && !PlainCommand(command)) return Fail("the command " + Quoted(command) + " would need quoting");
    std::string path = givenPath;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path.c_str(), resolved))
            return Fail("cannot follow " + Quoted(path) + ": " + std::strerror(errno));
        path = resolved;
    }
    const bool exists = stat(path.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return Fail("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    if (exists && !S_ISREG(st.st_mode)) return Fail(Quoted(path) + " is not a regular file; left as it was");
    if (exists && st.st_uid != geteuid()) return Fail(Quoted(path) + " belongs to another user; left as it was");

    AutostartResult r;
    r.exitCode = 0;
    if (!on) {
        if (!exists) {
            r.message = "the idle watcher does not start at login (no " + Quoted(path) + ")";
            return r;
        }
        if (unlink(path.c_str()) != 0) return Fail("cannot remove " + Quoted(path) + ": " + std::strerror(errno));
        r.message = "the idle watcher no longer starts at login; removed " + Quoted(path);
        r.changed = true;
        return r;
    }
    const std::string text = AutostartEntry(command);
    std::string old, error;
    if (exists && !ReadSmallFile(path, old, error))
        return Fail("cannot read " + Quoted(path) + ": " + error + "; left as it was");
    if (exists && old == text) {
        r.message = "the idle watcher starts at login already (" + Quoted(path) + ")";
        return r;
    }
    mode_t mode = st.st_mode & 07777;
    if (!exists) {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
        if (!MakeFolders(FolderOf(path), error)) return Fail(error);
    }
    RemoveStaleTemporaries(FolderOf(path), kTempPrefix);
    if (!posix::WriteFileAtomically(path, text, mode, kTempPrefix, error))
        return Fail("cannot write " + Quoted(path) + ": " + error + "; left as it was");
    r.message = "the idle watcher starts at login from now on (" + Quoted(path) + ")";
    r.changed = true;
    return r;
}

int RunAutostartCommand(bool on, const std::string& hackFolder) {
    std::string error;
    const std::string self = posix::ThisProgram(error);
    if (self.empty()) return posix::Fail(error);
    // Installed in the daemon's hack folder, the program is `quellora` on the PATH too.
    const AutostartResult r = SetAutostart(on, AutostartPath(), posix::HackCommand(self, hackFolder));
    if (r.exitCode != 0) return posix::Fail(r.message);
    posix::Tell(r.message);
    return 0;
}

}  // namespace quellora::linux_entry
