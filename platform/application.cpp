// The main message loop with its idle hook.
#include "platform/application.h"

namespace quellora {

void Application::ProcessMessages() {
    while (!platform_.QuitPosted() && platform_.ProcessOneMessage()) {
    }
}

void Application::Run(Window* mainWindow) {
    if (platform_.QuitPosted()) return;
    if (mainWindow) mainWindow->Show();
    while (!platform_.QuitPosted()) {
        if (platform_.ProcessOneMessage()) continue;
        if (platform_.QuitPosted()) break;
        if (!idle_.onIdle) {
            platform_.WaitUntil(std::nullopt);
            continue;
        }
        if (idle_.msUntilNextPass) {
            // Sleep until the tick the next pass is due at, so that the pass
            // runs on that tick: the pacer restarts its interval from the tick
            // it sees, and a pass a tick late would make every frame late.
            const uint32_t now = platform_.TickCount();
            const uint32_t wait = idle_.msUntilNextPass(now);
            if (wait > 0) {
                platform_.WaitUntil(now + wait);
                continue;
            }
        }
        bool done = true;
        ++idlePasses_;
        idle_.onIdle(done);
        if (done) platform_.WaitUntil(std::nullopt);
    }
}

}  // namespace quellora
