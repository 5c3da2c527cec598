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
#include <cstring>

#include "platform/linux/autostart.h"
#include "platform/linux/watcher_lock.h"
#include "platform/posix/xscreensaver_list.h"

extern char** environ;

namespace quellora::settings_window {

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
        if (running && kill(*running, SIGTERM) != 0 && errno != ESRCH)
            return "Quellora can't end its idle watcher (process " + std::to_string(*running) +
                   "): " + std::strerror(errno) + ".";
        return {};
    }
    if (running) return {};
    std::string error;
    if (!StartDetached({program, "--idle"}, ChildEnvironment(), error))
        return "Quellora can't start its idle watcher (" + program + " --idle): " + error + ".";
    return {};
}

bool StartDetached(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                   std::string& error) {
    // Everything the children need, made before the fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<char*> args, env;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    const bool searched = argv[0].find('/') == std::string::npos;
    // The exec's error comes back through a pipe that the exec itself closes.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    const pid_t child = fork();
    if (child < 0) {
        error = std::strerror(errno);
        close(report[0]);
        close(report[1]);
        return false;
    }
    if (child == 0) {
        // A session of its own, and a grandchild of ours that init adopts.
        close(report[0]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild == 0) {
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
    int e = 0;
    ssize_t n;
    while ((n = read(report[0], &e, sizeof e)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        error = std::strerror(e);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "it could not be started";
        return false;
    }
    return true;
}

}  // namespace quellora::settings_window
