// The idle watcher's loop: it polls the signals, the desktop's buses, the
// idle source and the settings folder, feeds what they say to the watcher's
// state machine, and carries out what that answers with the saver child and
// one timer.
#include "platform/linux/idle_watcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/linux/desktop_bus.h"
#include "platform/linux/idle_source.h"
#include "platform/linux/saver_child.h"
#include "platform/linux/settings_watch.h"
#include "platform/linux/watcher_lock.h"
#include "platform/linux/watcher_machine.h"
#include "platform/posix/command_line.h"
#include "platform/posix/settings_file.h"
#include "platform/posix/user_paths.h"
#include "settings/idle_timeout.h"
#include "settings/settings_store.h"

namespace quellora::linux_entry {

namespace {

using posix::Fail;
using posix::Quoted;
using Event = WatcherMachine::Event;

int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool Set(const std::optional<std::string>& v) { return v && !v->empty(); }

// The lock that makes this the one watcher of the session; its file holds
// the watcher's pid. -1 after printing why when another one runs or the
// lock can't be had.
int TakeLock(const LaunchEnvironment& env) {
    const std::string path = WatcherLockPath(env);
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

// This program, to run again as the saver: its path, so that the saver is
// named quellora for pkill and ps; /proc/self/exe when the file is gone.
std::string SaverProgram() {
    std::string error;
    const std::string path = posix::ThisProgram(error);
    if (path.empty() || access(path.c_str(), X_OK) != 0) return "/proc/self/exe";
    return path;
}

// The machine, the saver and the timer together: an event in, its actions
// carried out.
class Watcher {
public:
    Watcher(uint32_t seconds, const sigset_t& watched) : machine_(seconds * 1000), saver_(SaverProgram(), watched) {}

    void Feed(Event event) {
        for (;;) {
            const auto a = machine_.On(event);
            if (a.endSaver) saver_.End();  // its end comes back as SIGCHLD
            if (a.timer == WatcherMachine::Actions::Timer::Arm) timerAt_ = NowMs() + a.timerMs;
            if (a.timer == WatcherMachine::Actions::Timer::Cancel) timerAt_ = -1;
            if (!a.startSaver) return;
            std::string error;
            if (saver_.Start(error)) return;
            Fail(error);  // and tried again later: the watcher goes on
            event = Event::SaverFailed;
        }
    }
    // After a SIGCHLD.
    void Reap() {
        if (saver_.Reap()) Feed(Event::SaverExited);
    }
    // The poll's timeout, cut short where the timer runs out sooner.
    int Timeout(int timeout) const {
        if (timerAt_ < 0) return timeout;
        const int untilTimer = static_cast<int>(std::max<int64_t>(0, timerAt_ - NowMs()));
        return timeout < 0 ? untilTimer : std::min(timeout, untilTimer);
    }
    // Feeds Timer once it has run out.
    void CheckTimer() {
        if (timerAt_ >= 0 && NowMs() >= timerAt_) {
            timerAt_ = -1;
            Feed(Event::Timer);
        }
    }
    // The saver ended and waited for, before the watcher ends.
    void End() { saver_.EndAndWait(); }
    void SetTimeout(uint32_t seconds) { machine_.SetIdleMs(seconds * 1000); }

private:
    WatcherMachine machine_;
    SaverChild saver_;
    int64_t timerAt_ = -1;  // when the timer runs out, on the monotonic clock in ms; -1: not armed
};

}  // namespace

uint32_t IdleSecondsFromSettings() {
    posix::SettingsFile keys(posix::SettingsFile::DefaultFolder());
    SettingsStore store(keys, kSettingsKey);
    const std::string text = store.ReadString(kSettingsSection, kIdleTimeoutEntry, "");
    return ParseIdleSeconds(text).value_or(kDefaultIdleSeconds);
}

IdleSourceChoice OpenIdleSource(uint32_t seconds, const LaunchEnvironment& env, sd_bus* sessionBus) {
    IdleSourceChoice choice;
    std::string why, reasons;
    auto note = [&](const std::string& r) { reasons += (reasons.empty() ? "" : "; ") + r; };
    if (env.NamesWayland()) {
#ifdef QUELLORA_WAYLAND
        if ((choice.source = OpenWaylandIdle(seconds, env.waylandDisplay.value_or(""), why))) return choice;
        note(why);
#endif
    }
#ifdef QUELLORA_SD_BUS
    if ((choice.source = OpenMutterIdle(sessionBus, seconds, why))) return choice;
    note(why);
#else
    (void)sessionBus;
#endif
#ifdef QUELLORA_XSS
    bool fatal = false;
    if ((choice.source = OpenX11Idle(seconds, env.display.value_or(""), why, fatal))) return choice;
    if (fatal) {
        choice.error = why;
        return choice;
    }
    note(why);
#endif
    choice.error = "no way to tell when the session is idle: " + reasons;
    return choice;
}

int RunIdleWatcher(std::optional<uint32_t> givenSeconds, const LaunchEnvironment& env) {
    // libwayland hands a WAYLAND_SOCKET to the first connection and takes
    // it out of the environment: the watcher's own would leave none for the
    // saver it starts.
    if (Set(env.waylandSocket) && !Set(env.waylandDisplay))
        return Fail("WAYLAND_SOCKET is one connection, for one program: the saver the watcher starts could not "
                    "connect; run quellora --idle with WAYLAND_DISPLAY set");
    uint32_t seconds = givenSeconds ? *givenSeconds : IdleSecondsFromSettings();
    const int lock = TakeLock(env);
    if (lock < 0) return 1;

    // The signals come through a descriptor; the saver gets them back as usual.
    sigset_t watched;
    sigemptyset(&watched);
    for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&watched, s);
    sigprocmask(SIG_BLOCK, &watched, nullptr);
    const int signals = signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals < 0) return Fail(std::string("cannot watch for signals: ") + std::strerror(errno));

    DesktopBus desktop(env.sessionId.value_or(""));
    IdleSourceChoice choice = OpenIdleSource(seconds, env, desktop.Session());
    if (!choice.source) return Fail(choice.error);
    IdleSource& source = *choice.source;
    Watcher watcher(seconds, watched);
    posix::Tell("starts the saver after " + std::to_string(seconds) + " s of idle time (" + source.Name() + ")");
    // Without --idle SECONDS, a new IdleTimeout counts from when it is written.
    SettingsWatch settings(givenSeconds ? std::string() : posix::SettingsFile::DefaultFolder());

    for (;;) {
        std::vector<pollfd> fds = {{signals, POLLIN, 0}};
        desktop.AddFds(fds);
        const size_t sourceFd = fds.size();
        fds.push_back({source.Fd(), POLLIN, 0});
        fds.push_back({settings.Fd(), POLLIN, 0});
        // The bus first: it hands GNOME's idle monitor its signals.
        const int busTimeout = desktop.Prepare(), sourceTimeout = source.Prepare();
        const int timeout = watcher.Timeout(
            busTimeout < 0 ? sourceTimeout : sourceTimeout < 0 ? busTimeout : std::min(busTimeout, sourceTimeout));
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            watcher.End();
            return Fail(std::string("poll: ") + std::strerror(errno));
        }

        signalfd_siginfo info;
        while (read(signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int sig = static_cast<int>(info.ssi_signo);
            if (sig == SIGCHLD) {
                watcher.Reap();
                continue;
            }
            // Ended: the saver with it, then by the same signal.
            watcher.End();
            choice.source.reset();
            signal(sig, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            sigprocmask(SIG_UNBLOCK, &one, nullptr);
            raise(sig);
            return 128 + sig;
        }

        std::vector<Event> events;
        std::vector<IdleSource::Event> idle;
        std::string error;
        if (!desktop.Read(events, error) ||
            !source.Read((fds[sourceFd].revents & (POLLIN | POLLHUP | POLLERR)) != 0, idle, error)) {
            watcher.End();
            return Fail(error);
        }
        if (settings.Changed()) {
            const uint32_t now = IdleSecondsFromSettings();
            if (now != seconds) {
                seconds = now;
                if (!source.SetTimeout(seconds, idle, error)) {
                    watcher.End();
                    return Fail(error);
                }
                watcher.SetTimeout(seconds);
                posix::Tell("starts the saver after " + std::to_string(seconds) + " s of idle time from now on");
            }
        }
        for (const auto e : idle) events.push_back(e == IdleSource::Event::Idle ? Event::Idle : Event::Active);
        for (const Event e : events) watcher.Feed(e);
        watcher.CheckTimer();
    }
}

#ifndef QUELLORA_SD_BUS
// Without sd-bus there is no bus to follow.
struct DesktopBus::State {};
DesktopBus::DesktopBus(const std::string&) {}
DesktopBus::~DesktopBus() = default;
sd_bus* DesktopBus::Session() const { return nullptr; }
void DesktopBus::AddFds(std::vector<pollfd>&) const {}
int DesktopBus::Prepare() { return -1; }
bool DesktopBus::Read(std::vector<WatcherMachine::Event>&, std::string&) { return true; }
#endif

}  // namespace quellora::linux_entry
