// The tick clock of the POSIX hosts and how long a wait for a tick lasts, and
// the frame log the measuring scripts ask for: the same for X11 and Wayland.
#pragma once

#include <time.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/frame_log.h"

namespace quellora::posix {

// Milliseconds of CLOCK_MONOTONIC, wrapping.
uint32_t TickCount();

// How long to sleep to reach the start of the due tick's millisecond on the
// clock TickCount reads, so the pass after the wait sees the due tick;
// nullopt when the tick has been reached.
std::optional<timespec> TimeUntilTick(uint32_t dueTick);

// The file named by QUELLORA_FRAME_LOG, or nullptr when it is not set.
std::unique_ptr<LineFile> OpenFrameLogOfEnvironment();

}  // namespace quellora::posix
