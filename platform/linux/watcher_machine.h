// The idle watcher's decisions, apart from any source, bus or process: the
// loop feeds in what happened (the session idle or active, idle inhibited,
// the desktop's own shield, the saver gone, the timer) and carries out what
// comes back (start the saver, end it, arm or cancel the one timer). No
// clock and no I/O: a table of transitions tests it whole.
#pragma once

#include <cstdint>

namespace quellora::linux_entry {

class WatcherMachine {
public:
    enum class Event {
        Idle,         // the idle source: no input for the timeout
        Active,       // the idle source: input again
        Inhibited,    // the session manager: something inhibits idle (a video player)
        Uninhibited,  // ... and nothing does any more
        ShieldUp,     // the desktop blanked or locked the screen itself
        ShieldDown,   // ... and took its shield away again
        SaverExited,  // the saver's process has gone
        SaverFailed,  // the saver could not be started
        Timer,        // the timer last armed has run out
    };
    enum class Phase {
        Active,        // input lately; no saver
        Idle,          // idle, no saver: the last one ended by itself, or idleness counts afresh after the shield
        Inhibited,     // idle, and the saver waits until nothing inhibits idle
        Shielded,      // the desktop's own blank or lock is up: no saver runs or starts
        SaverRunning,  // started for this idle period
        SaverEnding,   // told to end (SIGTERM), not gone yet
        SaverFailed,   // its start failed: tried again when the timer runs out
    };
    // What the loop does now, in this order.
    struct Actions {
        bool endSaver = false;    // SIGTERM to the saver
        bool startSaver = false;  // answered by SaverFailed when it cannot be started
        enum class Timer { Keep, Arm, Cancel } timer = Timer::Keep;
        int timerMs = 0;  // with Arm: from now
    };

    // How long the desktop's shield is followed by idleness before a saver
    // comes, and how long a failed start waits before it is tried again.
    explicit WatcherMachine(uint32_t idleMs) : idleMs_(idleMs) {}
    static constexpr int kRetryMs = 5000;

    Actions On(Event event);
    // A new timeout, for the idle count that follows the shield.
    void SetIdleMs(uint32_t idleMs) { idleMs_ = idleMs; }
    Phase Now() const;

private:
    enum class Saver { None, Running, Ending };
    enum class Timer { None, Retry, Count };

    uint32_t idleMs_;
    bool idle_ = false;       // the source says the session is idle
    bool due_ = false;        // this idle period has had no saver yet
    bool inhibited_ = false;
    bool shielded_ = false;
    Saver saver_ = Saver::None;
    Timer timer_ = Timer::None;
};

}  // namespace quellora::linux_entry
