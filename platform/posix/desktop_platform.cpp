#include "platform/posix/desktop_platform.h"

#include "platform/posix/clock.h"

namespace quellora::posix {

int DesktopPlatform::ShowCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    CursorChanged();
    return cursorCount_;
}

uint32_t DesktopPlatform::TickCount() { return posix::TickCount(); }

std::unique_ptr<LineFile> DesktopPlatform::OpenFrameLog() { return OpenFrameLogOfEnvironment(); }

}  // namespace quellora::posix
