// Packing 1-bit rows into the X server's bitmap layout, 64 pixels at a time.
#include "platform/x11/bitmap_pack.h"

#include <bit>
#include <cstring>

namespace quellora::x11 {

namespace {

constexpr uint64_t ByteSwap(uint64_t v) { return __builtin_bswap64(v); }

constexpr uint64_t BitReverse(uint64_t v) {
    v = ((v >> 1) & 0x5555555555555555ull) | ((v & 0x5555555555555555ull) << 1);
    v = ((v >> 2) & 0x3333333333333333ull) | ((v & 0x3333333333333333ull) << 2);
    v = ((v >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((v & 0x0F0F0F0F0F0F0F0Full) << 4);
    return ByteSwap(v);
}

// Reverses the byte order inside each 16- or 32-bit unit of a word.
constexpr uint64_t SwapUnits(uint64_t v, int unit) {
    if (unit == 16) return ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
    v = ((v >> 8) & 0x00FF00FF00FF00FFull) | ((v & 0x00FF00FF00FF00FFull) << 8);
    return ((v >> 16) & 0x0000FFFF0000FFFFull) | ((v & 0x0000FFFF0000FFFFull) << 16);
}

// A picture word holds its leftmost pixel in bit 63. The result, stored
// little-endian, has the bytes in screen order with the bit order the
// server wants, and the bytes of each unit swapped when its byte order
// differs from its bit order.
template <bool kMsbBits, int kSwapUnit>
void PackRows(const Bitmap1& pic, int sx, int sy, int w, int h, uint8_t* out, size_t stride) {
    const int words = (w + 63) / 64;
    const int k0 = sx >> 6, shift = sx & 63;
    const int srcWords = pic.WordsPerRow();
    for (int y = 0; y < h; ++y) {
        const uint64_t* row = pic.Row(sy + y);
        uint8_t* dst = out + static_cast<size_t>(y) * stride;
        for (int j = 0; j < words; ++j) {
            const int k = k0 + j;
            uint64_t v = row[k];
            if (shift) v = (v << shift) | (k + 1 < srcWords ? row[k + 1] >> (64 - shift) : 0);
            v = kMsbBits ? ByteSwap(v) : BitReverse(v);
            if constexpr (kSwapUnit != 0) v = SwapUnits(v, kSwapUnit);
            if constexpr (std::endian::native == std::endian::big) v = ByteSwap(v);
            std::memcpy(dst + static_cast<size_t>(j) * 8, &v, 8);
        }
    }
}

}  // namespace

void PackBitmapRows(const Bitmap1& picture, int sx, int sy, int w, int h, const BitmapLayout& layout, uint8_t* out,
                    size_t stride) {
    if (w <= 0 || h <= 0) return;
    const bool swap = layout.unit > 8 && layout.msbFirstBits != layout.msbFirstBytes;
    if (!swap) {
        if (layout.msbFirstBits)
            PackRows<true, 0>(picture, sx, sy, w, h, out, stride);
        else
            PackRows<false, 0>(picture, sx, sy, w, h, out, stride);
    } else if (layout.unit == 16) {
        if (layout.msbFirstBits)
            PackRows<true, 16>(picture, sx, sy, w, h, out, stride);
        else
            PackRows<false, 16>(picture, sx, sy, w, h, out, stride);
    } else {
        if (layout.msbFirstBits)
            PackRows<true, 32>(picture, sx, sy, w, h, out, stride);
        else
            PackRows<false, 32>(picture, sx, sy, w, h, out, stride);
    }
}

}  // namespace quellora::x11
