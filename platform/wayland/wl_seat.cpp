#include "platform/wayland/wl_seat.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/posix/keysym.h"
#include "platform/wayland/wl_platform.h"
#include "platform/wayland/wl_window.h"

namespace quellora::wayland {

namespace {

WlSeat* S(void* data) { return static_cast<WlSeat*>(data); }

}  // namespace

// The listeners hand each event to the seat's handler of the same name.
const wl_seat_listener WlSeat::kSeatListener = {
    [](void* data, wl_seat*, uint32_t caps) { S(data)->Capabilities(caps); },
    [](void*, wl_seat*, const char*) {}};

const wl_keyboard_listener WlSeat::kKeyboardListener = {
    [](void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) { S(data)->Keymap(format, fd, size); },
    [](void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {},
    [](void*, wl_keyboard*, uint32_t, wl_surface*) {},
    [](void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) { S(data)->Key(key, state); },
    [](void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
        if (S(data)->state_) xkb_state_update_mask(S(data)->state_, depressed, latched, locked, 0, 0, group);
    },
    [](void*, wl_keyboard*, int32_t, int32_t) {}};

const wl_pointer_listener WlSeat::kPointerListener = {
    [](void* data, wl_pointer*, uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
        S(data)->Enter(serial, surface, wl_fixed_to_double(x), wl_fixed_to_double(y));
    },
    [](void* data, wl_pointer*, uint32_t, wl_surface*) {
        S(data)->left_ = S(data)->focus_;
        S(data)->focus_ = nullptr;
    },
    [](void* data, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
        S(data)->Motion(wl_fixed_to_double(x), wl_fixed_to_double(y));
    },
    [](void* data, wl_pointer*, uint32_t, uint32_t time, uint32_t button, uint32_t state) {
        S(data)->Button(time, button, state);
    },
    [](void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {},
    [](void*, wl_pointer*) {},
    [](void*, wl_pointer*, uint32_t) {},
    [](void*, wl_pointer*, uint32_t, uint32_t) {},
    [](void*, wl_pointer*, uint32_t, int32_t) {},
    [](void*, wl_pointer*, uint32_t, int32_t) {}};

WlSeat::WlSeat(WlPlatform& p, wl_seat* seat, uint32_t globalName)
    : p_(p), seat_(seat), globalName_(globalName), xkb_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    wl_seat_add_listener(seat_, &kSeatListener, this);
}

WlSeat::~WlSeat() {
    Capabilities(0);
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (xkb_) xkb_context_unref(xkb_);
    wl_seat_destroy(seat_);
}

void WlSeat::Capabilities(uint32_t caps) {
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
        focus_ = left_ = nullptr;
        buttons_ = 0;
    }
}

uint32_t WlSeat::Shift() const {
    uint32_t s = buttons_;
    if (state_) {
        if (xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_SHIFT, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kShift;
        if (xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kCtrl;
        if (xkb_state_mod_name_is_active(state_, XKB_MOD_NAME_ALT, XKB_STATE_MODS_EFFECTIVE) > 0) s |= kAlt;
    }
    return s;
}

void WlSeat::Keymap(uint32_t format, int fd, uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        close(fd);
        return;
    }
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (map == MAP_FAILED) return;
    xkb_keymap* keymap = xkb_keymap_new_from_string(xkb_, static_cast<const char*>(map), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(map, size);
    if (!keymap) return;
    if (state_) xkb_state_unref(state_);
    if (keymap_) xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = xkb_state_new(keymap);
}

void WlSeat::Key(uint32_t key, uint32_t state) {
    WlWindow* window = p_.Window();
    if (!keymap_ || !window) return;
    // The key's unshifted symbol: Shift+Escape is Escape, Shift+a is A.
    const xkb_keycode_t code = key + 8;
    const xkb_keysym_t* syms = nullptr;
    const xkb_layout_index_t layout = state_ ? xkb_state_key_get_layout(state_, code) : 0;
    if (xkb_keymap_key_get_syms_by_level(keymap_, code, layout == XKB_LAYOUT_INVALID ? 0 : layout, 0, &syms) < 1)
        return;
    if (const uint16_t vk = posix::VirtualKeyOfKeysym(syms[0]))
        window->Key(state == WL_KEYBOARD_KEY_STATE_PRESSED, vk, Shift());
}

void WlSeat::Enter(uint32_t serial, wl_surface* surface, double x, double y) {
    enterSerial_ = serial;
    // The window's surfaces carry their OutputSurface; a surface already
    // gone arrives as none.
    focus_ = surface && p_.Window() ? static_cast<OutputSurface*>(wl_surface_get_user_data(surface)) : nullptr;
    ApplyCursor();
    // Where the pointer is, for the presses to come. Come from another of
    // the window's surfaces (another output's), the pointer moved, and the
    // core hears of it; else it has not, so the core hears of no motion (as
    // on X11, where a window that appears under the pointer gets no motion
    // event).
    const bool moved = left_ != nullptr;
    left_ = nullptr;
    if (focus_) focus_->pointerCame = true;
    if (focus_) p_.Window()->PointerAt(*focus_, x, y, Shift(), moved);
}

void WlSeat::Motion(double x, double y) {
    if (focus_ && p_.Window()) p_.Window()->PointerAt(*focus_, x, y, Shift(), true);
}

void WlSeat::Button(uint32_t time, uint32_t button, uint32_t state) {
    MouseButton which;
    uint32_t bit;
    switch (button) {
        case BTN_LEFT: which = MouseButton::Left, bit = kLeftButton; break;
        case BTN_RIGHT: which = MouseButton::Right, bit = kRightButton; break;
        case BTN_MIDDLE: which = MouseButton::Middle, bit = kMiddleButton; break;
        default: return;
    }
    if (state != WL_POINTER_BUTTON_STATE_PRESSED) {
        buttons_ &= ~bit;
        return;
    }
    // As on the other hosts, the shift state of a press is the state before it.
    const uint32_t shift = Shift();
    buttons_ |= bit;
    if (focus_ && p_.Window()) p_.Window()->Button(which, shift, time);
}

void WlSeat::ApplyCursor() {
    if (pointer_ && focus_ && p_.CursorHidden()) wl_pointer_set_cursor(pointer_, enterSerial_, nullptr, 0, 0);
}

void WlSeat::Forget(const OutputSurface* s) {
    if (focus_ == s) focus_ = nullptr;
    if (left_ == s) left_ = nullptr;
}

}  // namespace quellora::wayland
