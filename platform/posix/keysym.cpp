#include "platform/posix/keysym.h"

namespace quellora::posix {

namespace {

struct KeyCodeEntry {
    uint32_t sym;
    uint16_t vk;
};

// Symbol values of the X11 keysymdef numbering, which xkbcommon shares.
constexpr KeyCodeEntry kKeys[] = {
    {0xff08, 0x08}, {0xff09, 0x09}, {0xfe20, 0x09}, {0xff0d, 0x0D},  // BackSpace, Tab, ISO_Left_Tab, Return
    {0xff8d, 0x0D}, {0xffe1, 0x10}, {0xffe2, 0x10}, {0xffe3, 0x11},  // KP_Enter, Shift_L/R, Control_L
    {0xffe4, 0x11}, {0xffe9, 0x12}, {0xffea, 0x12}, {0xffe7, 0x12},  // Control_R, Alt_L/R, Meta_L
    {0xffe8, 0x12}, {0xff13, 0x13}, {0xffe5, 0x14}, {0xff1b, 0x1B},  // Meta_R, Pause, Caps_Lock, Escape
    {0x0020, 0x20}, {0xff80, 0x20}, {0xff55, 0x21}, {0xff56, 0x22},  // space, KP_Space, Prior, Next
    {0xff57, 0x23}, {0xff50, 0x24}, {0xff51, 0x25}, {0xff52, 0x26},  // End, Home, Left, Up
    {0xff53, 0x27}, {0xff54, 0x28}, {0xff61, 0x2C}, {0xff63, 0x2D},  // Right, Down, Print, Insert
    {0xffff, 0x2E}, {0xffeb, 0x5B}, {0xffec, 0x5C}, {0xff67, 0x5D},  // Delete, Super_L/R, Menu
    {0xffaa, 0x6A}, {0xffab, 0x6B}, {0xffad, 0x6D}, {0xffae, 0x6E},  // KP_Multiply, Add, Subtract, Decimal
    {0xffaf, 0x6F}, {0xff7f, 0x90}, {0xff14, 0x91},                  // KP_Divide, Num_Lock, Scroll_Lock
};

}  // namespace

uint16_t VirtualKeyOfKeysym(uint32_t sym) {
    if (sym >= 'a' && sym <= 'z') return static_cast<uint16_t>('A' + (sym - 'a'));
    if (sym >= 'A' && sym <= 'Z') return static_cast<uint16_t>(sym);
    if (sym >= '0' && sym <= '9') return static_cast<uint16_t>(sym);
    if (sym >= 0xffb0 && sym <= 0xffb9) return static_cast<uint16_t>(0x60 + (sym - 0xffb0));  // KP_0..KP_9
    if (sym >= 0xffbe && sym <= 0xffd5) return static_cast<uint16_t>(0x70 + (sym - 0xffbe));  // F1..F24
    for (const auto& k : kKeys)
        if (k.sym == sym) return k.vk;
    return 0;
}

}  // namespace quellora::posix
