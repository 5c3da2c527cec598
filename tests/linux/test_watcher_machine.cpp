// The idle watcher's transitions, as one table: from the phase a run of
// events leads to, one event, and the phase and actions it gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/watcher_machine.h"

using quellora::linux_entry::WatcherMachine;
using E = WatcherMachine::Event;
using P = WatcherMachine::Phase;

namespace {

constexpr uint32_t kIdleMs = 7000;

// "end start arm 7000" and the like; "-" for nothing.
std::string Describe(const WatcherMachine::Actions& a) {
    std::string s;
    if (a.endSaver) s += " end";
    if (a.startSaver) s += " start";
    if (a.timer == WatcherMachine::Actions::Timer::Arm) s += " arm " + std::to_string(a.timerMs);
    if (a.timer == WatcherMachine::Actions::Timer::Cancel) s += " cancel";
    return s.empty() ? "-" : s.substr(1);
}

const char* Name(E e) {
    static const char* const names[] = {"Idle",       "Active",      "Inhibited",   "Uninhibited", "ShieldUp",
                                        "ShieldDown", "SaverExited", "SaverFailed", "Timer"};
    return names[static_cast<int>(e)];
}

}  // namespace

TEST(WatcherMachine, Transitions) {
    struct Row {
        std::vector<E> before;  // from a fresh watcher: the session active, no saver
        E event;
        P phase;
        const char* actions;
    };
    const Row rows[] = {
        // An idle period starts the saver; input ends it.
        {{}, E::Idle, P::SaverRunning, "start"},
        {{}, E::Active, P::Active, "-"},
        {{E::Idle}, E::Idle, P::SaverRunning, "-"},
        {{E::Idle}, E::Active, P::SaverEnding, "end"},
        {{E::Idle, E::Active}, E::SaverExited, P::Active, "-"},
        // A saver that ends by itself (Escape) leaves the period without one,
        // until the session has been active and idle again.
        {{E::Idle}, E::SaverExited, P::Idle, "-"},
        {{E::Idle, E::SaverExited}, E::Active, P::Active, "-"},
        {{E::Idle, E::SaverExited, E::Active}, E::Idle, P::SaverRunning, "start"},
        // Idleness back while the last saver still ends: the next comes once it has gone.
        {{E::Idle, E::Active}, E::Idle, P::SaverEnding, "-"},
        {{E::Idle, E::Active, E::Idle}, E::SaverExited, P::SaverRunning, "start"},
        {{E::Idle, E::Active, E::Idle}, E::Active, P::SaverEnding, "-"},
        {{E::Idle, E::Active, E::Idle, E::Active}, E::SaverExited, P::Active, "-"},
        // A start that failed is tried again when the timer runs out, the
        // session still idle; input meanwhile calls it off.
        {{E::Idle}, E::SaverFailed, P::SaverFailed, "arm 5000"},
        {{E::Idle, E::SaverFailed}, E::Timer, P::SaverRunning, "start"},
        {{E::Idle, E::SaverFailed, E::Timer}, E::SaverFailed, P::SaverFailed, "arm 5000"},
        {{E::Idle, E::SaverFailed}, E::Active, P::Active, "cancel"},
        {{E::Idle, E::SaverFailed, E::Active}, E::Timer, P::Active, "-"},
        {{}, E::SaverFailed, P::Active, "-"},
        // Something that inhibits idle keeps the saver away, not one that runs.
        {{E::Inhibited}, E::Idle, P::Inhibited, "-"},
        {{E::Inhibited, E::Idle}, E::Uninhibited, P::SaverRunning, "start"},
        {{E::Inhibited, E::Idle}, E::Active, P::Active, "-"},
        {{E::Inhibited, E::Idle, E::Active, E::Uninhibited}, E::Idle, P::SaverRunning, "start"},
        {{E::Idle}, E::Inhibited, P::SaverRunning, "-"},
        {{E::Idle, E::SaverFailed}, E::Inhibited, P::SaverFailed, "-"},
        {{E::Idle, E::SaverFailed, E::Inhibited}, E::Timer, P::Inhibited, "-"},
        // The desktop's own shield ends a saver and lets none start; once it
        // is gone, idleness counts afresh.
        {{E::Idle}, E::ShieldUp, P::SaverEnding, "end"},
        {{E::Idle, E::ShieldUp}, E::SaverExited, P::Shielded, "-"},
        {{E::ShieldUp}, E::Idle, P::Shielded, "-"},
        {{E::Idle, E::SaverExited}, E::ShieldUp, P::Shielded, "-"},
        {{E::Idle, E::ShieldUp, E::SaverExited}, E::ShieldDown, P::Idle, "arm 7000"},
        {{E::Idle, E::ShieldUp, E::SaverExited, E::ShieldDown}, E::Timer, P::SaverRunning, "start"},
        {{E::Idle, E::ShieldUp, E::SaverExited, E::ShieldDown}, E::Active, P::Active, "cancel"},
        {{E::Idle, E::ShieldUp, E::SaverExited, E::ShieldDown}, E::ShieldUp, P::Shielded, "cancel"},
        {{E::ShieldUp, E::Idle}, E::Active, P::Shielded, "-"},
        {{E::ShieldUp, E::Idle, E::Active}, E::ShieldDown, P::Active, "-"},
        {{E::ShieldUp, E::Idle, E::Active, E::ShieldDown}, E::Idle, P::SaverRunning, "start"},
        {{E::ShieldUp}, E::ShieldUp, P::Shielded, "-"},
        {{}, E::ShieldDown, P::Active, "-"},
        {{E::Idle, E::SaverFailed}, E::ShieldUp, P::Shielded, "cancel"},
        {{E::Idle, E::Active}, E::ShieldUp, P::SaverEnding, "-"},
        {{E::Idle, E::Active, E::ShieldUp}, E::SaverExited, P::Shielded, "-"},
        // The shield down while idleness is inhibited: the saver waits for both.
        {{E::Inhibited, E::Idle, E::ShieldUp, E::ShieldDown}, E::Timer, P::Inhibited, "-"},
    };
    for (const Row& row : rows) {
        WatcherMachine m(kIdleMs);
        std::string label;
        for (const E e : row.before) {
            m.On(e);
            label += std::string(Name(e)) + " ";
        }
        label += "then " + std::string(Name(row.event));
        const auto actions = m.On(row.event);
        EXPECT_EQ(Describe(actions), row.actions) << label;
        EXPECT_EQ(static_cast<int>(m.Now()), static_cast<int>(row.phase)) << label;
    }
}

TEST(WatcherMachine, ANewTimeoutCountsAfterTheShield) {
    WatcherMachine m(kIdleMs);
    for (const E e : {E::Idle, E::ShieldUp, E::SaverExited}) m.On(e);
    m.SetIdleMs(60000);
    EXPECT_EQ(Describe(m.On(E::ShieldDown)), "arm 60000");
}
