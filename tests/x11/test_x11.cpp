// Packing frames into the X server's own bitmap layout, for every layout a
// server may ask for.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/x11/bitmap_pack.h"

namespace quellora::x11 {
namespace {

// What the server reads for pixel (x, y) of a packed image: the bit the
// layout puts there, unit by unit.
bool ServerPixel(const std::vector<uint8_t>& data, size_t stride, const BitmapLayout& l, int x, int y) {
    const int unitBytes = l.unit / 8;
    const size_t unitStart = static_cast<size_t>(y) * stride + static_cast<size_t>(x / l.unit) * unitBytes;
    uint32_t unit = 0;
    for (int b = 0; b < unitBytes; ++b) {
        const uint8_t byte = data[unitStart + b];
        const int shift = l.msbFirstBytes ? 8 * (unitBytes - 1 - b) : 8 * b;
        unit |= static_cast<uint32_t>(byte) << shift;
    }
    const int bit = x % l.unit;
    return (unit >> (l.msbFirstBits ? l.unit - 1 - bit : bit)) & 1u;
}

TEST(BitmapPack, EveryServerLayoutSeesThePicture) {
    std::mt19937 rng(7);
    Bitmap1 pic(200, 9);
    for (int y = 0; y < pic.Height(); ++y)
        for (int x = 0; x < pic.Width(); ++x) pic.Set(x, y, rng() & 1);
    struct Put {
        int sx, sy, w, h;
    };
    const Put puts[] = {{0, 0, 200, 9}, {0, 0, 64, 1}, {3, 1, 120, 5}, {63, 2, 129, 7}, {100, 8, 100, 1}, {5, 0, 1, 1}};
    for (int unit : {8, 16, 32})
        for (bool bits : {false, true})
            for (bool bytes : {false, true}) {
                const BitmapLayout layout{unit, bits, bytes};
                for (const auto& p : puts) {
                    const size_t stride = PackedStride(p.w);
                    std::vector<uint8_t> out(stride * p.h, 0xAA);
                    PackBitmapRows(pic, p.sx, p.sy, p.w, p.h, layout, out.data(), stride);
                    int wrong = 0;
                    for (int y = 0; y < p.h; ++y)
                        for (int x = 0; x < p.w; ++x)
                            wrong += ServerPixel(out, stride, layout, x, y) != pic.Get(p.sx + x, p.sy + y);
                    EXPECT_EQ(wrong, 0) << "unit " << unit << " bits " << (bits ? "MSB" : "LSB") << " bytes "
                                        << (bytes ? "MSB" : "LSB") << " put " << p.sx << "," << p.sy << " " << p.w
                                        << "x" << p.h;
                }
            }
}

}  // namespace
}  // namespace quellora::x11
