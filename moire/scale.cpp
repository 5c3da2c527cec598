// Whole-factor nearest-neighbour enlargement, a source byte at a time.
#include "moire/scale.h"

#include <array>
#include <cstring>

#include "moire/raster.h"

namespace quellora::moire {

namespace {

// For each factor, each byte's 8 pixels repeated n times each: 8n bits,
// leftmost first, from the top of a 64-bit word.
using ByteTable = std::array<uint64_t, 256>;

const ByteTable& TableFor(int n) {
    static const auto tables = [] {
        std::array<ByteTable, kMaxScale + 1> t{};
        for (int f = 1; f <= kMaxScale; ++f)
            for (int b = 0; b < 256; ++b) {
                uint64_t bits = 0;
                for (int i = 0; i < 8; ++i)
                    if (b & (0x80 >> i))
                        for (int k = 0; k < f; ++k) bits |= uint64_t{1} << (63 - (i * f + k));
                t[f][b] = bits;
            }
        return t;
    }();
    return tables[n];
}

}  // namespace

void ScaleUp(const Bitmap1& src, int x, int y, int w, int h, int n, Bitmap1& out) {
    if (out.Width() != w * n || out.Height() != h * n) out.Resize(w * n, h * n);
    // The rectangle, moved to a word boundary: Crop does it 64 bits at a time.
    static thread_local Bitmap1 rows;
    const Bitmap1* from = &src;
    if (x != 0 || y != 0 || w != src.Width() || h != src.Height()) {
        if (rows.Width() != w || rows.Height() != h) rows.Resize(w, h);
        Blit(rows, 0, 0, src, x, y, w, h, RasterOp::Copy);
        from = &rows;
    }
    if (n == 1) {
        out = *from;
        return;
    }
    const ByteTable& table = TableFor(n);
    const int bytes = (w + 7) / 8;
    const int words = out.WordsPerRow();
    const int bitsPerByte = 8 * n;
    const int tail = (w * n) & 63;
    for (int row = 0; row < h; ++row) {
        const uint64_t* in = from->Row(row);
        uint64_t* o = out.Row(row * n);
        uint64_t acc = 0;
        int fill = 0, oi = 0;
        for (int b = 0; b < bytes && oi < words; ++b) {
            const uint64_t bits = table[(in[b >> 3] >> (56 - 8 * (b & 7))) & 0xFF];
            acc |= bits >> fill;
            fill += bitsPerByte;
            if (fill >= 64) {
                o[oi++] = acc;
                fill -= 64;
                acc = fill ? bits << (bitsPerByte - fill) : 0;
            }
        }
        if (oi < words) o[oi] = acc;
        if (tail) o[words - 1] &= ~uint64_t{0} << (64 - tail);  // nothing past the row's last pixel
        for (int k = 1; k < n; ++k) std::memcpy(out.Row(row * n + k), o, sizeof(uint64_t) * words);
    }
}

}  // namespace quellora::moire
