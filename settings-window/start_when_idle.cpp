// "Start when idle" and the programs the settings window starts.
#include "settings-window/start_when_idle.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/linux/autostart.h"
#include "platform/linux/watcher_lock.h"
#include "platform/posix/xscreensaver_list.h"

extern char** environ;

namespace quellora::settings_window {

namespace {

// The watcher this window started, until it ends: switched off before it
// has taken its lock, it is ended all the same.
pid_t startedWatcher = 0;

bool IsWatcher(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(pid));
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    close(fd);
    const std::string cmdline(buf, n > 0 ? static_cast<size_t>(n) : 0);
    return cmdline.find(std::string("\0--idle\0", 8)) != std::string::npos;
}

}  // namespace

std::string QuelloraProgram() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string path(self, static_cast<size_t>(n));
        path = path.substr(0, path.rfind('/') + 1) + "quellora";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "quellora";
}

std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUELLORA_FRAME_LOG=", 19) != 0) env.emplace_back(*e);
    return env;
}

bool StartsWhenIdle() {
    const std::string path = linux_entry::AutostartPath();
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string SetStartWhenIdle(bool on) {
    // The entry names the program as `quellora --autostart` would: by its
    // name where it is installed in the hack folder, else by its full path.
    const std::string program = QuelloraProgram();
    std::string command = program;
    if (char real[PATH_MAX]; program.find('/') != std::string::npos && realpath(program.c_str(), real))
        command = posix::HackCommand(real, QUELLORA_HACK_FOLDER);  // from CMake, as for quellora
    const auto result = linux_entry::SetAutostart(on, linux_entry::AutostartPath(), command);
    if (result.exitCode != 0) return "Quellora can't " + std::string(on ? "write" : "remove") +
                                     " its login entry: " + result.message + ".";
    const auto running = linux_entry::RunningWatcher();
    if (!on) {
        std::vector<pid_t> ending;
        if (running) ending.push_back(*running);
        if (startedWatcher && startedWatcher != running && IsWatcher(startedWatcher)) ending.push_back(startedWatcher);
        startedWatcher = 0;
        for (const pid_t pid : ending)
            if (kill(pid, SIGTERM) != 0 && errno != ESRCH)
                return "Quellora can't end its idle watcher (process " + std::to_string(pid) +
                       "): " + std::strerror(errno) + ".";
        return {};
    }
    if (running || (startedWatcher && IsWatcher(startedWatcher))) return {};
    std::string error;
    startedWatcher = StartDetached({program, "--idle"}, ChildEnvironment(), error);
    if (!startedWatcher) return "Quellora can't start its idle watcher (" + program + " --idle): " + error + ".";
    return {};
}

pid_t StartDetached(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                    std::string& error) {
    // Everything the children need, made before the fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<char*> args, env;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    const bool searched = argv[0].find('/') == std::string::npos;
    // The grandchild's pid, then the exec's error, come back through a pipe
    // that the exec itself closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return 0;
    }
    const pid_t child = fork();
    if (child < 0) {
        error = std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return 0;
    }
    if (child == 0) {
        // A session of its own, and a grandchild of ours that init adopts.
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
            const pid_t self = getpid();
            (void)!write(report[1], &self, sizeof self);
            const int devnull = open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                dup2(devnull, 0);
                dup2(devnull, 1);
            }
            if (searched)
                execvpe(args[0], args.data(), env.data());
            else
                execve(args[0], args.data(), env.data());
            const int e = errno;
            (void)!write(report[1], &e, sizeof e);
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t started = 0;
    int e = 0;
    ssize_t n;
    while ((n = read(report[0], &started, sizeof started)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof started)) {
        while ((n = read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
        }
    }
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        error = std::strerror(e);
        return 0;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || started <= 0) {
        error = "it could not be started";
        return 0;
    }
    return started;
}

}  // namespace quellora::settings_window
