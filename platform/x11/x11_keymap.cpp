// X key events as Windows virtual key codes and shift states, so the core's
// key handlers see the same codes on every platform.
#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

namespace {

struct KeyCodeEntry {
    KeySym sym;
    uint16_t vk;
};

constexpr KeyCodeEntry kKeys[] = {
    {XK_BackSpace, 0x08}, {XK_Tab, 0x09},       {XK_ISO_Left_Tab, 0x09}, {XK_Return, 0x0D},
    {XK_KP_Enter, 0x0D},  {XK_Shift_L, 0x10},   {XK_Shift_R, 0x10},      {XK_Control_L, 0x11},
    {XK_Control_R, 0x11}, {XK_Alt_L, 0x12},     {XK_Alt_R, 0x12},        {XK_Meta_L, 0x12},
    {XK_Meta_R, 0x12},    {XK_Pause, 0x13},     {XK_Caps_Lock, 0x14},    {XK_Escape, 0x1B},
    {XK_space, 0x20},     {XK_KP_Space, 0x20},  {XK_Prior, 0x21},        {XK_Next, 0x22},
    {XK_End, 0x23},       {XK_Home, 0x24},      {XK_Left, 0x25},         {XK_Up, 0x26},
    {XK_Right, 0x27},     {XK_Down, 0x28},      {XK_Print, 0x2C},        {XK_Insert, 0x2D},
    {XK_Delete, 0x2E},    {XK_Super_L, 0x5B},   {XK_Super_R, 0x5C},      {XK_Menu, 0x5D},
    {XK_KP_Multiply, 0x6A}, {XK_KP_Add, 0x6B},  {XK_KP_Subtract, 0x6D},  {XK_KP_Decimal, 0x6E},
    {XK_KP_Divide, 0x6F}, {XK_Num_Lock, 0x90},  {XK_Scroll_Lock, 0x91},
};

}  // namespace

uint16_t VirtualKeyOf(XKeyEvent& event) {
    // The key's unshifted symbol: Shift+Escape is Escape, Shift+a is A.
    const KeySym sym = XkbKeycodeToKeysym(event.display, static_cast<KeyCode>(event.keycode), 0, 0);
    if (sym >= XK_a && sym <= XK_z) return static_cast<uint16_t>('A' + (sym - XK_a));
    if (sym >= XK_A && sym <= XK_Z) return static_cast<uint16_t>(sym);
    if (sym >= XK_0 && sym <= XK_9) return static_cast<uint16_t>(sym);
    if (sym >= XK_KP_0 && sym <= XK_KP_9) return static_cast<uint16_t>(0x60 + (sym - XK_KP_0));
    if (sym >= XK_F1 && sym <= XK_F24) return static_cast<uint16_t>(0x70 + (sym - XK_F1));
    for (const auto& k : kKeys)
        if (k.sym == sym) return k.vk;
    return 0;
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
