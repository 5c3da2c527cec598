// The sweep of the two patterns and the frame pacing rule.
// The first pattern rides on the display image (Left); the second pattern's
// origin sits at offX. Each step moves one of them by one pixel, alternately,
// in opposite directions, turning 5 pixels before either end of the travel.
#pragma once

#include <cstdint>

#include "moire/patterns.h"

namespace quellora::moire {

constexpr int kViewportWidth = 1024;
constexpr int kViewportHeight = 768;
constexpr int32_t kFrameInterval = 40;   // ms per frame
constexpr int32_t kTitleDuration = 4500;  // ms the title card shows after the start

struct Motion {
    int32_t left = 0;          // display image's x inside the viewport
    int32_t offX = 0;          // second pattern's x inside the viewport
    int32_t offY = 0;          // always 0
    int32_t moveCounter = 0;   // never reset except by its own wrap
    int32_t direction = 0;     // 0: first pattern right, second left; 1: the opposite
};

// The state that BmpInit leaves: first pattern flush right, second flush left.
void ResetMotion(Motion& m, int viewportWidth = kViewportWidth, int patternWidth = kPatternWidth);

// One step. W is the viewport width, P the pattern width.
void AutoMove(Motion& m, int viewportWidth = kViewportWidth, int patternWidth = kPatternWidth);

// Whether an idle pass at `now` is due, given the tick of the last due pass.
// Not due only while last < now < last + interval (unsigned, the sum modulo
// 2^32); so a tick that has not moved on, or has wrapped, counts as due.
constexpr bool IsDue(uint32_t now, uint32_t lastFrameTick, int32_t interval) {
    const uint32_t sum = lastFrameTick + static_cast<uint32_t>(interval);
    return !(now < sum && now > lastFrameTick);
}

// How long the application loop may sleep before the next idle pass is worth
// making: 0 once a full interval has passed since the last due pass (modulo
// 2^32), otherwise the rest of the interval. Waiting for this keeps the
// pacer from polling, and from drawing several frames within one tick.
constexpr uint32_t MsUntilNextPass(uint32_t now, uint32_t lastFrameTick, int32_t interval) {
    const uint32_t since = now - lastFrameTick;
    const uint32_t iv = interval > 0 ? static_cast<uint32_t>(interval) : 0;
    return since < iv ? iv - since : 0;
}

}  // namespace quellora::moire
