// Rectangle copies between 1-bit bitmaps, 64 pixels at a time.
#include "moire/raster.h"

#include <algorithm>

namespace quellora::moire {

namespace {

// 64 pixels of a row starting at pixel p (0 <= p < width); bits past the row's
// last word read as 0.
inline uint64_t Load64(const uint64_t* row, int words, int p) {
    const int i = p >> 6;
    const int s = p & 63;
    const uint64_t hi = row[i];
    if (s == 0) return hi;
    const uint64_t lo = (i + 1 < words) ? row[i + 1] : 0;
    return (hi << s) | (lo >> (64 - s));
}

template <RasterOp Op>
inline void Apply(uint64_t& d, uint64_t v, uint64_t mask) {
    if constexpr (Op == RasterOp::Xor) {
        d ^= v & mask;
    } else {
        d = (d & ~mask) | (v & mask);
    }
}

template <RasterOp Op>
void BlitRow(uint64_t* dst, int dx, const uint64_t* src, int srcWords, int sx, int w) {
    int x = dx;           // destination pixel
    int p = sx;           // source pixel
    const int end = dx + w;
    // Leading partial word.
    if (x & 63) {
        const int o = x & 63;
        const int lead = std::min(64 - o, end - x);
        const uint64_t v = Load64(src, srcWords, p) >> o;
        uint64_t mask = ~uint64_t{0} >> o;
        if (o + lead < 64) mask &= ~(~uint64_t{0} >> (o + lead));
        Apply<Op>(dst[x >> 6], v, mask);
        x += lead;
        p += lead;
    }
    // Whole words.
    const int s = p & 63;
    const uint64_t* sp = src + (p >> 6);
    uint64_t* dp = dst + (x >> 6);
    int full = (end - x) >> 6;
    if (s == 0) {
        for (int k = 0; k < full; ++k) Apply<Op>(dp[k], sp[k], ~uint64_t{0});
    } else {
        // The last whole word may need the source word past the end of the row.
        const int safe = std::min(full, srcWords - (p >> 6) - 1);
        int k = 0;
        for (; k < safe; ++k) Apply<Op>(dp[k], (sp[k] << s) | (sp[k + 1] >> (64 - s)), ~uint64_t{0});
        for (; k < full; ++k) Apply<Op>(dp[k], Load64(src, srcWords, p + 64 * k), ~uint64_t{0});
    }
    x += full * 64;
    p += full * 64;
    // Trailing partial word.
    if (x < end) {
        const int tail = end - x;
        const uint64_t mask = ~(~uint64_t{0} >> tail);
        Apply<Op>(dst[x >> 6], Load64(src, srcWords, p), mask);
    }
}

}  // namespace

void Blit(Bitmap1& dst, int dx, int dy, const Bitmap1& src, int sx, int sy, int w, int h, RasterOp op) {
    // Clip against the source, then the destination, moving both corners together.
    auto clip = [&](int& a, int& b, int& len, int limitA, int limitB) {
        if (a < 0) { len += a; b -= a; a = 0; }
        if (b < 0) { len += b; a -= b; b = 0; }
        len = std::min({len, limitA - a, limitB - b});
    };
    clip(sx, dx, w, src.Width(), dst.Width());
    clip(sy, dy, h, src.Height(), dst.Height());
    if (w <= 0 || h <= 0) return;
    for (int r = 0; r < h; ++r) {
        const uint64_t* s = src.Row(sy + r);
        uint64_t* d = dst.Row(dy + r);
        if (op == RasterOp::Xor)
            BlitRow<RasterOp::Xor>(d, dx, s, src.WordsPerRow(), sx, w);
        else
            BlitRow<RasterOp::Copy>(d, dx, s, src.WordsPerRow(), sx, w);
    }
}

Bitmap1 Crop(const Bitmap1& src, int x, int y, int w, int h) {
    Bitmap1 out(w, h);
    Blit(out, 0, 0, src, x, y, w, h, RasterOp::Copy);
    return out;
}

}  // namespace quellora::moire
