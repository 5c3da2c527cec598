#include "platform/posix/clock.h"

#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/line_file.h"

namespace quellora::posix {

uint32_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

std::optional<timespec> TimeUntilTick(uint32_t dueTick) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t nowNs = static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
    const uint32_t nowTick = static_cast<uint32_t>(nowNs / 1000000u);
    if (TickReached(nowTick, dueTick)) return std::nullopt;
    const uint64_t deadlineNs = (nowNs / 1000000u + (dueTick - nowTick)) * 1000000u;
    const uint64_t waitNs = deadlineNs - nowNs;
    return timespec{static_cast<time_t>(waitNs / 1000000000u), static_cast<long>(waitNs % 1000000000u)};
}

std::unique_ptr<LineFile> OpenFrameLogOfEnvironment() {
    const char* path = std::getenv("QUELLORA_FRAME_LOG");
    return path && *path ? OpenLineFile(path) : nullptr;
}

}  // namespace quellora::posix
