// X key events as Windows virtual key codes (posix/keysym.cpp) and shift
// states, so the core's key handlers see the same codes on every platform.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "platform/posix/keysym.h"
#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

uint16_t VirtualKeyOf(XKeyEvent& event) {
    // The key's unshifted symbol: Shift+Escape is Escape, Shift+a is A.
    const KeySym sym = XkbKeycodeToKeysym(event.display, static_cast<KeyCode>(event.keycode), 0, 0);
    return posix::VirtualKeyOfKeysym(static_cast<uint32_t>(sym));
}

uint32_t ShiftStateOf(unsigned int state) {
    uint32_t s = 0;
    if (state & ShiftMask) s |= kShift;
    if (state & ControlMask) s |= kCtrl;
    if (state & Mod1Mask) s |= kAlt;
    if (state & Button1Mask) s |= kLeftButton;
    if (state & Button2Mask) s |= kMiddleButton;
    if (state & Button3Mask) s |= kRightButton;
    return s;
}

}  // namespace quellora::x11
