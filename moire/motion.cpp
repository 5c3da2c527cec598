// The sweep of the two patterns.
#include "moire/motion.h"

#include <limits>

namespace quellora::moire {

namespace {
constexpr int32_t kTurnMargin = 5;
}

void ResetMotion(Motion& m, int viewportWidth, int patternWidth) {
    m.left = viewportWidth - patternWidth;
    m.offX = 0;
    m.offY = 0;
    m.direction = 0;
}

void AutoMove(Motion& m, int viewportWidth, int patternWidth) {
    const int32_t low = viewportWidth - patternWidth;  // W - P
    // The counter wraps to 1, not 0, so even and odd steps keep alternating.
    m.moveCounter = (m.moveCounter == std::numeric_limits<int32_t>::max() - 1) ? 1 : m.moveCounter + 1;

    if (m.moveCounter % 2 == 0) {
        if (m.direction == 0) {
            ++m.left;
            if (m.left > -kTurnMargin) {
                m.direction = 1;
                m.left = -(kTurnMargin - 1);
                m.offX = low + (kTurnMargin - 1);
            }
        } else {
            --m.left;
            if (m.left < low + kTurnMargin) {
                m.direction = 0;
                m.left = low + (kTurnMargin - 1);
                m.offX = -(kTurnMargin - 1);
            }
        }
    } else {
        m.offX += (m.direction == 0) ? -1 : 1;
    }
}

}  // namespace quellora::moire
