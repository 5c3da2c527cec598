// The idle watcher's loop: one idle source, the signals, the saver child.
#include "platform/linux/idle_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/linux/idle_source.h"
#include "platform/linux/watcher_lock.h"
#include "platform/posix/command_line.h"
#include "platform/posix/settings_file.h"
#include "settings/idle_timeout.h"
#include "settings/settings_store.h"

namespace quellora::linux_entry {

namespace {

using posix::Quoted;

constexpr int kInhibitedRecheckMs = 5000;

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// The saver now running, for the exits that cannot come back to the loop
// (Xlib's I/O error handler).
volatile pid_t g_saver = 0;

void EndSaver() {
    if (g_saver > 0) {
        kill(g_saver, SIGTERM);
        int status = 0;
        while (waitpid(g_saver, &status, 0) < 0 && errno == EINTR) {
        }
        g_saver = 0;
    }
}

int Fail(const std::string& message) {
    EndSaver();
    std::fprintf(stderr, "quellora: %s\n", message.c_str());
    return 1;
}

// The lock that makes this the one watcher of the session; its file holds
// the watcher's pid. -1 after printing why when another one runs or the
// lock can't be had.
int TakeLock() {
    const std::string path = WatcherLockPath();
    if (path.empty()) {
        Fail("XDG_RUNTIME_DIR is not set: no place for the idle watcher's lock");
        return -1;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        Fail("cannot open the lock " + Quoted(path) + ": " + std::strerror(errno));
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char buf[32] = {};
        const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
        close(fd);
        if (err == EWOULDBLOCK) {
            const std::string pid = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
            Fail("an idle watcher runs already in this session" +
                 (pid.find_first_not_of("0123456789") == std::string::npos && !pid.empty() ? " (pid " + pid + ")"
                                                                                            : std::string()));
        } else {
            Fail("cannot lock " + Quoted(path) + ": " + std::strerror(err));
        }
        return -1;
    }
    const std::string pid = std::to_string(getpid());
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
        // The lock holds without the pid; only the message of a second watcher lacks it.
    }
    return fd;
}

// This program, to run again as the saver. Its path, so that the saver is
// named quellora for pkill and ps; /proc/self/exe when the file is gone.
std::string SelfPath() {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    if (path.empty() || access(path.c_str(), X_OK) != 0) return "/proc/self/exe";
    return path;
}

pid_t StartSaver(const std::string& program, const sigset_t& watched) {
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &watched);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string arg0 = "quellora", arg1 = "/s";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        std::fprintf(stderr, "quellora: cannot start the saver %s: %s\n", Quoted(program).c_str(), std::strerror(rc));
        return 0;
    }
    return pid;
}

}  // namespace

void EndWatcher(const std::string& line) {
    Fail(line);
    std::fflush(stderr);
    _exit(1);
}

#ifndef QUELLORA_SD_BUS
bool SessionInhibitsIdle() { return false; }
#endif

uint32_t IdleSecondsFromSettings() {
    posix::SettingsFile keys(posix::SettingsFile::DefaultFolder());
    SettingsStore store(keys, kSettingsKey);
    const std::string text = store.ReadString(kSettingsSection, kIdleTimeoutEntry, "");
    return ParseIdleSeconds(text).value_or(kDefaultIdleSeconds);
}

IdleSourceChoice OpenIdleSource(uint32_t seconds) {
    IdleSourceChoice choice;
    std::string why, reasons;
    auto note = [&](const std::string& r) { reasons += (reasons.empty() ? "" : "; ") + r; };
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* socket = std::getenv("WAYLAND_SOCKET");
    if ((wayland && *wayland) || (socket && *socket)) {
#ifdef QUELLORA_WAYLAND
        if ((choice.source = OpenWaylandIdle(seconds, why))) return choice;
        note(why);
#endif
    }
#ifdef QUELLORA_SD_BUS
    if ((choice.source = OpenMutterIdle(seconds, why))) return choice;
    note(why);
#endif
#ifdef QUELLORA_XSS
    bool fatal = false;
    if ((choice.source = OpenX11Idle(seconds, why, fatal))) return choice;
    if (fatal) {
        choice.error = why;
        return choice;
    }
    note(why);
#endif
    choice.error = "no way to tell when the session is idle: " + reasons;
    return choice;
}

int RunIdleWatcher(std::optional<uint32_t> givenSeconds) {
    const uint32_t seconds = givenSeconds ? *givenSeconds : IdleSecondsFromSettings();
    const int lock = TakeLock();
    if (lock < 0) return 1;

    // The signals come through a descriptor; the saver gets them back as usual.
    sigset_t watched;
    sigemptyset(&watched);
    for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&watched, s);
    sigprocmask(SIG_BLOCK, &watched, nullptr);
    const int signals = signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0) return Fail(std::string("cannot watch for signals: ") + std::strerror(errno));

    IdleSourceChoice choice = OpenIdleSource(seconds);
    if (!choice.source) return Fail(choice.error);
    IdleSource& source = *choice.source;
    const std::string program = SelfPath();
    std::printf("quellora: starts the saver after %u s of idle time (%s)\n", seconds, source.Name().c_str());
    std::fflush(stdout);

    bool idle = false;
    // Idle, and the saver not started yet because the session manager said
    // something inhibits idle (or has not been asked yet): asked again now
    // and then, so that the saver comes when the video ends and the session
    // is still idle.
    bool waiting = false;
    int64_t askAt = 0;  // when to ask again, on the monotonic clock in ms
    for (;;) {
        pollfd fds[2] = {{signals, POLLIN, 0}, {source.Fd(), POLLIN, 0}};
        int timeout = source.Prepare();
        if (waiting) {
            const int untilAsk = static_cast<int>(std::max<int64_t>(0, askAt - NowMs()));
            if (timeout < 0 || timeout > untilAsk) timeout = untilAsk;
        }
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) return Fail(std::string("poll: ") + std::strerror(errno));

        signalfd_siginfo info;
        while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int sig = static_cast<int>(info.ssi_signo);
            if (sig == SIGCHLD) {
                int status = 0;
                if (g_saver > 0 && waitpid(g_saver, &status, WNOHANG) == g_saver) g_saver = 0;
                continue;
            }
            // Ended: the saver with it, then by the same signal.
            EndSaver();
            choice.source.reset();
            signal(sig, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            sigprocmask(SIG_UNBLOCK, &one, nullptr);
            raise(sig);
            return 128 + sig;
        }

        std::vector<IdleSource::Event> events;
        std::string error;
        if (!source.Read((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0, events, error)) return Fail(error);
        for (const auto event : events) {
            if (event == IdleSource::Event::Idle && !idle) {
                idle = true;
                waiting = true;  // asked below, at once
                askAt = 0;
            } else if (event == IdleSource::Event::Active && idle) {
                idle = false;
                waiting = false;
                if (g_saver > 0) kill(g_saver, SIGTERM);  // reaped on its SIGCHLD
            }
        }
        // A video player or a presentation that inhibits idle on GNOME keeps
        // the saver away while it does.
        if (waiting && NowMs() >= askAt) {
            waiting = SessionInhibitsIdle();
            askAt = NowMs() + kInhibitedRecheckMs;
            if (!waiting && g_saver == 0) g_saver = StartSaver(program, watched);
        }
    }
}

}  // namespace quellora::linux_entry
