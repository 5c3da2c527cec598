// The seat: its keyboard and pointer, the keymap that names the keys, the
// buttons held and the surface the pointer is over. It reports keys as
// virtual keys of their unshifted symbols, and motion and presses in the
// window's coordinates, as they are: the core decides what they mean.
#pragma once

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>

namespace quellora::wayland {

class WlPlatform;
struct OutputSurface;

class WlSeat {
public:
    WlSeat(WlPlatform& p, wl_seat* seat, uint32_t globalName);
    ~WlSeat();
    WlSeat(const WlSeat&) = delete;
    WlSeat& operator=(const WlSeat&) = delete;

    uint32_t GlobalName() const { return globalName_; }
    // Hides the pointer over the saver's surface it is over, while the
    // cursor's display count is below 0.
    void ApplyCursor();
    // A surface of the window's is going: the pointer is over it no more.
    void Forget(const OutputSurface* s);

private:
    void Capabilities(uint32_t caps);
    uint32_t Shift() const;
    void Keymap(uint32_t format, int fd, uint32_t size);
    void Key(uint32_t key, uint32_t state);
    void Enter(uint32_t serial, wl_surface* surface, double x, double y);
    void Motion(double x, double y);
    void Button(uint32_t time, uint32_t button, uint32_t state);

    static const wl_seat_listener kSeatListener;
    static const wl_keyboard_listener kKeyboardListener;
    static const wl_pointer_listener kPointerListener;

    WlPlatform& p_;
    wl_seat* seat_;
    uint32_t globalName_;
    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    xkb_context* xkb_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    uint32_t buttons_ = 0;           // kLeftButton, kRightButton, kMiddleButton held
    OutputSurface* focus_ = nullptr;  // the surface the pointer is over
    OutputSurface* left_ = nullptr;   // the one it left last, until it enters another
    uint32_t enterSerial_ = 0;
};

}  // namespace quellora::wayland
