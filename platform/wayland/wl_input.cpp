// Input on Wayland: the seat's keyboard and pointer, reported to the saver's
// window as they are (keys as virtual keys of their unshifted symbols,
// motion and presses in the window's coordinates); the core decides what
// they mean.
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>

#include "platform/posix/keysym.h"
#include "platform/wayland/wl_window.h"

namespace quellora::wayland {

namespace {

WlPlatform* P(void* data) { return static_cast<WlPlatform*>(data); }

// --- keyboard ------------------------------------------------------------------

void OnKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    WlPlatform& p = *P(data);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        close(fd);
        return;
    }
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return;
    xkb_keymap* keymap = xkb_keymap_new_from_string(p.xkb_, static_cast<const char*>(map), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(map, size);
    if (!keymap) return;
    if (p.xkbState_) xkb_state_unref(p.xkbState_);
    if (p.keymap_) xkb_keymap_unref(p.keymap_);
    p.keymap_ = keymap;
    p.xkbState_ = xkb_state_new(keymap);
}

void OnKeyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void OnKeyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}

void OnKey(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    WlPlatform& p = *P(data);
    if (!p.keymap_ || !p.window_) return;
    // The key's unshifted symbol: Shift+Escape is Escape, Shift+a is A.
    const xkb_keycode_t code = key + 8;
    const xkb_keysym_t* syms = nullptr;
    const xkb_layout_index_t layout = p.xkbState_ ? xkb_state_key_get_layout(p.xkbState_, code) : 0;
    if (xkb_keymap_key_get_syms_by_level(p.keymap_, code, layout == XKB_LAYOUT_INVALID ? 0 : layout, 0, &syms) < 1)
        return;
    if (const uint16_t vk = posix::VirtualKeyOfKeysym(syms[0]))
        p.window_->Key(state == WL_KEYBOARD_KEY_STATE_PRESSED, vk, ShiftState(p));
}

void OnModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                 uint32_t group) {
    WlPlatform& p = *P(data);
    if (p.xkbState_) xkb_state_update_mask(p.xkbState_, depressed, latched, locked, 0, 0, group);
}

void OnRepeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}

const wl_keyboard_listener kKeyboardListener = {OnKeymap, OnKeyboardEnter, OnKeyboardLeave,
                                                OnKey,    OnModifiers,     OnRepeatInfo};

// --- pointer -------------------------------------------------------------------

wl_surface* g_surface = nullptr;  // the surface the pointer is over

OutputSurface* Under(WlPlatform& p) { return p.window_ && g_surface ? p.window_->SurfaceOf(g_surface) : nullptr; }

void OnPointerEnter(void* data, wl_pointer* pointer, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    WlPlatform& p = *P(data);
    if (!p.window_) return;
    g_surface = surface;
    p.window_->PointerEntered(pointer, serial);
    // Where the pointer is, for the presses to come; the pointer has not
    // moved, so the core hears of no motion (as on X11, where a window that
    // appears under the pointer gets no motion event).
    if (OutputSurface* s = Under(p)) p.window_->PointerAt(s, wl_fixed_to_double(x), wl_fixed_to_double(y), ShiftState(p), false);
}

void OnPointerLeave(void*, wl_pointer*, uint32_t, wl_surface*) { g_surface = nullptr; }

void OnMotion(void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    WlPlatform& p = *P(data);
    if (OutputSurface* s = Under(p)) p.window_->PointerAt(s, wl_fixed_to_double(x), wl_fixed_to_double(y), ShiftState(p), true);
}

void OnButton(void* data, wl_pointer*, uint32_t, uint32_t time, uint32_t button, uint32_t state) {
    WlPlatform& p = *P(data);
    MouseButton which;
    uint32_t bit;
    switch (button) {
        case BTN_LEFT: which = MouseButton::Left, bit = kLeftButton; break;
        case BTN_RIGHT: which = MouseButton::Right, bit = kRightButton; break;
        case BTN_MIDDLE: which = MouseButton::Middle, bit = kMiddleButton; break;
        default: return;
    }
    if (state != WL_POINTER_BUTTON_STATE_PRESSED) {
        p.buttons_ &= ~bit;
        return;
    }
    // As on the other hosts, the shift state of a press is the state before it.
    const uint32_t shift = ShiftState(p);
    p.buttons_ |= bit;
    if (Under(p)) p.window_->Button(which, shift, time);
}

void OnAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
void OnFrame(void*, wl_pointer*) {}
void OnAxisSource(void*, wl_pointer*, uint32_t) {}
void OnAxisStop(void*, wl_pointer*, uint32_t, uint32_t) {}
void OnAxisDiscrete(void*, wl_pointer*, uint32_t, int32_t) {}
void OnAxisValue120(void*, wl_pointer*, uint32_t, int32_t) {}

const wl_pointer_listener kPointerListener = {OnPointerEnter, OnPointerLeave, OnMotion,       OnButton,      OnAxis,
                                              OnFrame,        OnAxisSource,   OnAxisStop,     OnAxisDiscrete, OnAxisValue120};

}  // namespace

uint32_t ShiftState(WlPlatform& p) {
    uint32_t s = p.buttons_;
    if (p.xkbState_) {
        if (xkb_state_mod_name_is_active(p.xkbState_, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kShift;
        if (xkb_state_mod_name_is_active(p.xkbState_, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kCtrl;
        if (xkb_state_mod_name_is_active(p.xkbState_, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kAlt;
    }
    return s;
}

void WlPlatform::SetSeatCapabilities(uint32_t caps) {
    const bool keyboard = caps & WL_SEAT_CAPABILITY_KEYBOARD, pointer = caps & WL_SEAT_CAPABILITY_POINTER;
    if (keyboard && !keyboard_) {
        keyboard_ = wl_seat_get_keyboard(seat_);
        wl_keyboard_add_listener(keyboard_, &kKeyboardListener, this);
    } else if (!keyboard && keyboard_) {
        wl_keyboard_destroy(keyboard_);
        keyboard_ = nullptr;
    }
    if (pointer && !pointer_) {
        pointer_ = wl_seat_get_pointer(seat_);
        wl_pointer_add_listener(pointer_, &kPointerListener, this);
    } else if (!pointer && pointer_) {
        wl_pointer_destroy(pointer_);
        pointer_ = nullptr;
        g_surface = nullptr;
    }
}

OutputSurface* WlWindow::SurfaceOf(wl_surface* surface) {
    for (auto& s : surfaces_)
        if (s->surface == surface) return s.get();
    return nullptr;
}

void WlWindow::PointerEntered(wl_pointer* pointer, uint32_t serial) {
    pointer_ = pointer;
    enterSerial_ = serial;
    CursorChanged();
}

void WlWindow::CursorChanged() {
    // The saver hides the pointer over its surfaces.
    if (pointer_ && p_.CursorHidden()) wl_pointer_set_cursor(pointer_, enterSerial_, nullptr, 0, 0);
}

void WlWindow::PointerAt(OutputSurface* s, double sx, double sy, uint32_t shift, bool moved) {
    // Surface coordinates are logical: the output's device pixels per
    // logical pixel take them into the window's coordinates.
    const double fx = s->logicalWidth > 0 ? static_cast<double>(s->rect.Width()) / s->logicalWidth : 1.0;
    const double fy = s->logicalHeight > 0 ? static_cast<double>(s->rect.Height()) / s->logicalHeight : 1.0;
    lastX_ = s->rect.left + static_cast<int>(std::floor(sx * fx));
    lastY_ = s->rect.top + static_cast<int>(std::floor(sy * fy));
    if (moved) events_.OnMouseMove(lastX_, lastY_, shift);
}

void WlWindow::Button(MouseButton button, uint32_t shift, uint32_t time) {
    events_.OnMouseDown(button, lastX_, lastY_, shift, time);
}

void WlWindow::Key(bool down, uint16_t vk, uint32_t shift) {
    if (down)
        events_.OnKeyDown(vk, shift);
    else
        events_.OnKeyUp(vk, shift);
}

}  // namespace quellora::wayland
