// Input of the saver's own window on X: it takes the keyboard and the
// pointer, and reports keys (held keys as repeated presses), motion and
// button presses to the core as they are; the core decides what they mean.
#include <time.h>

#include "platform/x11/x11_window.h"

namespace quellora::x11 {

void X11Window::GrabInput() {
    // The saver takes the keyboard and the pointer, so every key and every
    // motion comes to it whatever other windows exist. Another client's grab
    // may still be ending: try for a moment.
    const Cursor cursor = p_.CursorHidden() ? p_.BlankCursor() : None;
    bool keyboard = false, pointer = false;
    for (int attempt = 0; attempt < 50 && !(keyboard && pointer); ++attempt) {
        if (attempt) {
            timespec pause{0, 20 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        if (!keyboard)
            keyboard = XGrabKeyboard(dpy_, xwin_, True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
        if (!pointer)
            pointer = XGrabPointer(dpy_, xwin_, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                   GrabModeAsync, GrabModeAsync, None, cursor, CurrentTime) == GrabSuccess;
    }
    grabbed_ = keyboard || pointer;
    if (!keyboard) {
        ErrorTrap trap(dpy_);
        XSetInputFocus(dpy_, xwin_, RevertToParent, CurrentTime);
    }
}

void X11Window::HandleInput(XEvent& e) {
    switch (e.type) {
        case KeyPress:
            if (const uint16_t vk = VirtualKeyOf(e.xkey)) events_.OnKeyDown(vk, ShiftStateOf(e.xkey.state));
            return;
        case KeyRelease: {
            // Without detectable auto-repeat, a held key comes as release and
            // press with the same time: that is a repeat, not a release.
            if (XEventsQueued(dpy_, QueuedAfterReading)) {
                XEvent next;
                XPeekEvent(dpy_, &next);
                if (next.type == KeyPress && next.xkey.keycode == e.xkey.keycode && next.xkey.time == e.xkey.time)
                    return;
            }
            if (const uint16_t vk = VirtualKeyOf(e.xkey)) events_.OnKeyUp(vk, ShiftStateOf(e.xkey.state));
            return;
        }
        case MotionNotify:
            UpdateCursor(e.xmotion.x, e.xmotion.y);
            events_.OnMouseMove(e.xmotion.x, e.xmotion.y, ShiftStateOf(e.xmotion.state));
            return;
        case ButtonPress: {
            const XButtonEvent& b = e.xbutton;
            MouseButton button;
            switch (b.button) {
                case Button1: button = MouseButton::Left; break;
                case Button2: button = MouseButton::Middle; break;
                case Button3: button = MouseButton::Right; break;
                default: return;  // wheel steps are no presses
            }
            events_.OnMouseDown(button, b.x, b.y, ShiftStateOf(b.state), static_cast<uint32_t>(b.time));
            return;
        }
        default:
            return;
    }
}

}  // namespace quellora::x11
