// The idle watcher's transitions.
#include "platform/linux/watcher_machine.h"

namespace quellora::linux_entry {

WatcherMachine::Actions WatcherMachine::On(Event event) {
    Actions a;
    const Timer timerBefore = timer_;
    switch (event) {
        case Event::Idle:
            if (idle_) break;
            idle_ = true;
            due_ = !shielded_;  // idleness under the shield counts afresh once it is gone
            break;
        case Event::Active:
            if (!idle_) break;
            idle_ = due_ = false;
            timer_ = Timer::None;
            if (saver_ == Saver::Running) {
                a.endSaver = true;
                saver_ = Saver::Ending;
            }
            break;
        case Event::Inhibited: inhibited_ = true; break;
        case Event::Uninhibited: inhibited_ = false; break;
        case Event::ShieldUp:
            if (shielded_) break;
            shielded_ = true;
            due_ = false;
            timer_ = Timer::None;
            if (saver_ == Saver::Running) {
                a.endSaver = true;
                saver_ = Saver::Ending;
            }
            break;
        case Event::ShieldDown:
            if (!shielded_) break;
            shielded_ = false;
            // Still idle: the saver comes after a whole timeout from here.
            if (idle_) timer_ = Timer::Count;
            break;
        case Event::SaverExited:
            // One that ended by itself (Escape) leaves this idle period
            // without a saver; one that was told to end makes way for the
            // next, should idleness have come back meanwhile.
            saver_ = Saver::None;
            break;
        case Event::SaverFailed:
            if (saver_ != Saver::Running) break;
            saver_ = Saver::None;
            due_ = true;
            timer_ = Timer::Retry;
            break;
        case Event::Timer:
            if (timer_ == Timer::None) break;
            timer_ = Timer::None;
            due_ = true;
            break;
    }
    if (idle_ && due_ && !inhibited_ && !shielded_ && saver_ == Saver::None && timer_ == Timer::None) {
        a.startSaver = true;
        saver_ = Saver::Running;
        due_ = false;
    }
    if (timer_ != timerBefore) {
        if (timer_ == Timer::None) {
            // One that ran out needs no cancelling.
            if (event != Event::Timer) a.timer = Actions::Timer::Cancel;
        } else {
            a.timer = Actions::Timer::Arm;
            a.timerMs = timer_ == Timer::Retry ? kRetryMs : static_cast<int>(idleMs_);
        }
    }
    return a;
}

WatcherMachine::Phase WatcherMachine::Now() const {
    if (saver_ == Saver::Running) return Phase::SaverRunning;
    if (saver_ == Saver::Ending) return Phase::SaverEnding;
    if (shielded_) return Phase::Shielded;
    if (timer_ == Timer::Retry) return Phase::SaverFailed;
    if (idle_ && due_ && inhibited_) return Phase::Inhibited;
    return idle_ ? Phase::Idle : Phase::Active;
}

}  // namespace quellora::linux_entry
