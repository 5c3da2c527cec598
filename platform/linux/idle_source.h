// Where the idle watcher learns that the session went idle and active again:
// a Wayland idle protocol, GNOME's idle monitor on the session bus, or the X
// server's screen-saver extension. Each source is a file descriptor for the
// watcher's poll loop and the events read from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quellora::linux_entry {

class IdleSource {
public:
    enum class Event { Idle, Active };
    virtual ~IdleSource() = default;
    // What it listens to, for the watcher's first line ("org_kde_kwin_idle").
    virtual std::string Name() const = 0;
    virtual int Fd() const = 0;
    // Called before each poll: sends what is queued. The milliseconds until
    // Read must be called even without input on Fd, or -1.
    virtual int Prepare() = 0;
    // Reads and handles what arrived (`readable`: Fd had input), adding the
    // transitions to `events`. False, with `error` (one line), when the
    // compositor, the X server or the bus is gone.
    virtual bool Read(bool readable, std::vector<Event>& events, std::string& error) = 0;
};

// The outcome of looking for a source.
struct IdleSourceChoice {
    std::unique_ptr<IdleSource> source;
    std::string error;  // when there is none: why, in one line
};

// The first source that works for `seconds` of idle time: ext_idle_notifier_v1
// or org_kde_kwin_idle when WAYLAND_DISPLAY or WAYLAND_SOCKET names a
// compositor, GNOME's idle monitor, the X screen-saver extension on DISPLAY.
IdleSourceChoice OpenIdleSource(uint32_t seconds);

// Each kind of source; nullptr with `why` when it is not there.
std::unique_ptr<IdleSource> OpenWaylandIdle(uint32_t seconds, std::string& why);
std::unique_ptr<IdleSource> OpenMutterIdle(uint32_t seconds, std::string& why);
// `fatal`: the X display runs an XScreenSaver daemon, which starts savers
// itself; the watcher must not run beside it.
std::unique_ptr<IdleSource> OpenX11Idle(uint32_t seconds, std::string& why, bool& fatal);

// Ends the watcher from where the loop cannot be reached again (Xlib's I/O
// error handler): ends the saver, prints `line`, exits with status 1.
[[noreturn]] void EndWatcher(const std::string& line);

// Whether GNOME's session manager says something inhibits idle now (a video
// player, a presentation); false when there is no such service.
bool SessionInhibitsIdle();

}  // namespace quellora::linux_entry
