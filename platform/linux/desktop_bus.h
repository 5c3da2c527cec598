// What the desktop itself says on D-Bus, for the idle watcher: whether
// something inhibits idle (GNOME's session manager), and whether the
// desktop's own screen shield is up (GNOME Shell's or KDE Plasma's blank and
// lock, or logind's LockedHint of the session), each followed through its
// signals. One connection to the session bus for the watcher's whole life,
// which GNOME's idle monitor shares, and one to the system bus.
#pragma once

#include <poll.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/linux/watcher_machine.h"

struct sd_bus;

namespace quellora::linux_entry {

class DesktopBus {
public:
    // Connects to the buses where there are; without them there is nothing
    // to follow, which is no error. `sessionId`: XDG_SESSION_ID, the login
    // session whose LockedHint counts; empty: logind's choice for this
    // process ("auto": its session, else the user's display session).
    explicit DesktopBus(const std::string& sessionId);
    ~DesktopBus();
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;

    // The session bus, for GNOME's idle monitor; nullptr when there is none.
    sd_bus* Session() const;
    // Adds the descriptors to poll.
    void AddFds(std::vector<pollfd>& fds) const;
    // Before each poll, and before the idle source's own: handles what has
    // come in (for every user of the connection) and sends what waits. 0
    // when Read has events without input, else -1.
    int Prepare();
    // Handles what came and adds the watcher's events (Inhibited,
    // Uninhibited, ShieldUp, ShieldDown). False, with `error` (one line),
    // when the session bus went away.
    bool Read(std::vector<WatcherMachine::Event>& events, std::string& error);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace quellora::linux_entry
