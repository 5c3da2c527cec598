// Where the idle watcher learns that the session went idle and active again:
// a Wayland idle protocol, GNOME's idle monitor on the session bus, or the X
// server's screen-saver extension. Each source is a file descriptor for the
// watcher's poll loop and the events read from it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/launch.h"

struct sd_bus;

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
    // transitions to `events`. Called after every poll. False, with `error`
    // (one line), when the compositor, the X server or the bus is gone.
    virtual bool Read(bool readable, std::vector<Event>& events, std::string& error) = 0;
    // Counts `seconds` of idle time from now on. A source that has to ask
    // its compositor anew, and had said Idle, adds Active: the idle time
    // then counts afresh. False, with `error`, when the compositor or the
    // bus is gone.
    virtual bool SetTimeout(uint32_t seconds, std::vector<Event>& events, std::string& error) = 0;
};

// The outcome of looking for a source.
struct IdleSourceChoice {
    std::unique_ptr<IdleSource> source;
    std::string error;  // when there is none: why, in one line
};

// The first source that works for `seconds` of idle time: ext_idle_notifier_v1
// or org_kde_kwin_idle when WAYLAND_DISPLAY or WAYLAND_SOCKET names a
// compositor, GNOME's idle monitor on `sessionBus` (may be nullptr), the X
// screen-saver extension on DISPLAY.
IdleSourceChoice OpenIdleSource(uint32_t seconds, const LaunchEnvironment& env, sd_bus* sessionBus);

// Each kind of source; nullptr with `why` when it is not there. `display`:
// the Wayland display's or X display's name.
std::unique_ptr<IdleSource> OpenWaylandIdle(uint32_t seconds, const std::string& display, std::string& why);
std::unique_ptr<IdleSource> OpenMutterIdle(sd_bus* bus, uint32_t seconds, std::string& why);
// `fatal`: the X display runs an XScreenSaver daemon, which starts savers
// itself; the watcher must not run beside it.
std::unique_ptr<IdleSource> OpenX11Idle(uint32_t seconds, const std::string& display, std::string& why, bool& fatal);

}  // namespace quellora::linux_entry
