// Packs rows of a 1-bit picture into the X server's own bitmap layout, so a
// frame goes out with one XPutImage (or XShmPutImage) and no conversion in
// Xlib or the server. No X header needed: the layout is described here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "moire/bitmap1.h"

namespace quellora::x11 {

// The server's bitmap format: scanline unit (8, 16 or 32 bits), the bit
// order within a unit and the byte order within a unit.
struct BitmapLayout {
    int unit = 32;
    bool msbFirstBits = false;   // BitmapBitOrder == MSBFirst
    bool msbFirstBytes = false;  // ImageByteOrder == MSBFirst
};

// Bytes per row of a packed image `width` pixels wide: whole 64-bit words,
// which suits every scanline pad of 8, 16 or 32 bits.
inline size_t PackedStride(int width) { return static_cast<size_t>((width + 63) / 64) * 8; }

// Writes the w x h rectangle at (sx, sy) of `picture` to `out`, one row every
// `stride` bytes, in `layout`: a 1 bit is black (palette index 1), which the
// X server draws in the GC's foreground. Bits past w in a row's last word
// are whatever the picture holds there; the server ignores them.
void PackBitmapRows(const Bitmap1& picture, int sx, int sy, int w, int h, const BitmapLayout& layout, uint8_t* out,
                    size_t stride);

}  // namespace quellora::x11
