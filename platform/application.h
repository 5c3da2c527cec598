// The application object: the main message loop with its idle hook, built
// over the platform's message primitives. When the idle handler says nothing
// is due yet, the loop sleeps until the next message or until the tick the
// next pass is due at, instead of polling.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/platform.h"

namespace quellora {

struct IdleHandler {
    // Called with Done set to true; the loop waits for a message only when
    // Done is still true afterwards.
    std::function<void(bool& done)> onIdle;
    // How many milliseconds from `now` until the next pass is worth making;
    // 0 means now. The loop never calls onIdle earlier than this says.
    std::function<uint32_t(uint32_t now)> msUntilNextPass;
};

class Application {
public:
    explicit Application(Platform& platform) : platform_(platform) {}

    void SetIdleHandler(IdleHandler handler) { idle_ = std::move(handler); }
    void ClearIdleHandler() { idle_ = IdleHandler{}; }
    bool HasIdleHandler() const { return static_cast<bool>(idle_.onIdle); }

    // Shows the main window (unless the application is already terminating)
    // and handles messages until the quit message.
    void Run(Window* mainWindow);
    // Handles every pending message without waiting.
    void ProcessMessages();
    // Posts the quit message.
    void Terminate() { platform_.PostQuit(); }
    bool Terminated() const { return platform_.QuitPosted(); }

    uint64_t IdlePasses() const { return idlePasses_; }

private:
    Platform& platform_;
    IdleHandler idle_;
    uint64_t idlePasses_ = 0;
};

}  // namespace quellora
