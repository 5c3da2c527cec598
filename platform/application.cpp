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
            platform_.WaitForMessage(std::nullopt);
            continue;
        }
        if (idle_.msUntilNextPass) {
            const uint32_t wait = idle_.msUntilNextPass(platform_.TickCount());
            if (wait > 0) {
                platform_.WaitForMessage(wait);
                continue;
            }
        }
        bool done = true;
        ++idlePasses_;
        idle_.onIdle(done);
        if (done) platform_.WaitForMessage(std::nullopt);
    }
}

}  // namespace quellora
