// Double clicks, recognised from the presses a backend reports: a second
// press of the left button soon after the first, close to where it was.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace quellora {

enum class MouseButton { Left, Right, Middle };

// How far apart two presses may be and still make a double click: `ms`
// milliseconds, and a `width` x `height` rectangle centred on the first.
struct DoubleClickLimits {
    uint32_t ms = 500;
    int width = 4, height = 4;
};

class DoubleClicks {
public:
    explicit DoubleClicks(DoubleClickLimits limits = {}) : limits_(limits) {}

    // A press at (x, y) at `time` (milliseconds of any clock that only moves
    // on, modulo 2^32). True when it completes a double click; the press
    // after that starts afresh.
    bool Press(MouseButton button, int x, int y, uint32_t time) {
        const bool second = armed_ && button == MouseButton::Left && time - time_ <= limits_.ms &&
                            2 * std::abs(x - x_) <= limits_.width && 2 * std::abs(y - y_) <= limits_.height;
        armed_ = button == MouseButton::Left && !second;
        time_ = time;
        x_ = x;
        y_ = y;
        return second;
    }

private:
    DoubleClickLimits limits_;
    bool armed_ = false;  // the last press was a left press that may start one
    uint32_t time_ = 0;
    int x_ = 0, y_ = 0;
};

}  // namespace quellora
