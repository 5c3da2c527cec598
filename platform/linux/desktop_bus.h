// What the desktop itself says on D-Bus, for the idle watcher: whether
// something inhibits idle (GNOME's session manager, followed through its
// signals). One connection to the session bus for the watcher's whole life,
// which GNOME's idle monitor shares.
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
    // Connects to the session bus where there is one; without it there is
    // nothing to follow, which is no error.
    DesktopBus();
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
    // Uninhibited). False, with `error` (one line), when the session bus
    // went away.
    bool Read(std::vector<WatcherMachine::Event>& events, std::string& error);

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace quellora::linux_entry
