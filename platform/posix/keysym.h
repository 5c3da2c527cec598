// Key symbols (the X11 and xkbcommon numbering, which are the same) as
// Windows virtual key codes, so the core's key handlers see the same codes
// on every platform. Both the X11 and the Wayland host use it.
#pragma once

#include <cstdint>

namespace quellora::posix {

// The virtual key of a key's unshifted symbol; 0 for keys without one.
uint16_t VirtualKeyOfKeysym(uint32_t sym);

}  // namespace quellora::posix
