// Replacing a small file whole, through a temporary file beside it.
#include "platform/posix/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace quellora::posix {

namespace {

// The signals that end a program from outside and can be held back: while
// the temporary file exists they wait, so that it is renamed or removed
// first. (SIGKILL can't wait; the next run removes what it leaves.)
class HoldSignals {
public:
    HoldSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ,
                            SIGVTALRM, SIGPROF})
            sigaddset(&set, s);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~HoldSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    HoldSignals(const HoldSignals&) = delete;
    HoldSignals& operator=(const HoldSignals&) = delete;

private:
    sigset_t old_;
};

}  // namespace

void RemoveStaleTemporaries(const std::string& folder, const std::string& tempPrefix) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const size_t prefix = tempPrefix.size();
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix, tempPrefix) != 0) continue;
        const size_t dash = name.find('-', prefix);
        const std::string pid = name.substr(prefix, dash == std::string::npos ? std::string::npos : dash - prefix);
        if (dash == std::string::npos || pid.empty() || pid.size() > 9 ||
            pid.find_first_not_of("0123456789") != std::string::npos ||
            name.find_first_not_of("0123456789", dash + 1) != std::string::npos || dash + 1 == name.size())
            continue;
        // A process of that number that still runs keeps its file; this one's
        // can only be from an earlier process that had its number.
        const pid_t owner = static_cast<pid_t>(std::stol(pid));
        if (owner != getpid() && (kill(owner, 0) == 0 || errno != ESRCH)) continue;
        const std::string path = (folder == "/" ? "" : folder) + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid()) unlink(path.c_str());
    }
    closedir(dir);
}

bool WriteFileAtomically(const std::string& path, const std::string& text, mode_t mode, const std::string& tempPrefix,
                         std::string& error) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + tempPrefix +
                             std::to_string(getpid()) + "-" + std::to_string(counter++);
    const HoldSignals hold;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, mode) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (ok) ok = fsync(fd) == 0;
    if (!ok) error = std::strerror(errno ? errno : EIO);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (!ok) {
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    if (const int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        (void)fsync(dfd);
        close(dfd);
    }
    return true;
}

}  // namespace quellora::posix
