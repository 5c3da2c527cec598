#include "platform/wayland/rows.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quellora::wayland {

void RowChanges::Resize(int rows) {
    rows_.assign(static_cast<size_t>(std::max(0, rows)), Span{});
    top_ = bottom_ = 0;
}

void RowChanges::Add(int y, int lo, int hi) {
    if (lo >= hi || y < 0 || y >= Rows()) return;
    rows_[static_cast<size_t>(y)].Add(lo, hi);
    if (Empty()) {
        top_ = y, bottom_ = y + 1;
    } else {
        top_ = std::min(top_, y), bottom_ = std::max(bottom_, y + 1);
    }
}

void RowChanges::AddRect(const Rect& r) {
    for (int y = std::max(0, r.top); y < std::min(Rows(), r.bottom); ++y) Add(y, r.left, r.right);
}

void RowChanges::Clear() {
    for (int y = top_; y < bottom_; ++y) rows_[static_cast<size_t>(y)] = Span{};
    top_ = bottom_ = 0;
}

std::vector<Rect> RowChanges::Rects() const {
    // Rows this close to the run above join it: a damage rectangle is worth
    // a few rows more.
    constexpr int kJoin = 8;
    constexpr size_t kMany = 16;
    std::vector<Rect> out;
    for (int y = top_; y < bottom_; ++y) {
        const Span& s = rows_[static_cast<size_t>(y)];
        if (s.Empty()) continue;
        if (!out.empty() && y - out.back().bottom <= kJoin) {
            Rect& r = out.back();
            r.left = std::min(r.left, s.lo), r.right = std::max(r.right, s.hi), r.bottom = y + 1;
        } else {
            out.push_back(Rect{s.lo, y, s.hi, y + 1});
        }
    }
    if (out.size() > kMany) {
        Rect all = out.front();
        for (const Rect& r : out) all = Union(all, r);
        out.assign(1, all);
    }
    return out;
}

namespace {

// Bits [s, s + 64) of a row of `words` words, 0 outside it.
inline uint64_t Fetch64(const uint64_t* src, int words, long s) {
    const long w = s >> 6;  // floor, also below 0
    const int b = static_cast<int>(s & 63);
    const uint64_t hi = (w >= 0 && w < words) ? src[w] : 0;
    if (b == 0) return hi;
    const uint64_t lo = (w + 1 >= 0 && w + 1 < words) ? src[w + 1] : 0;
    return (hi << b) | (lo >> (64 - b));
}

// The bits of word `wi` in [x0, x1), the first pixel in the top bit.
inline uint64_t Mask(int wi, int x0, int x1) {
    const int a = std::max(0, x0 - wi * 64), b = std::min(64, x1 - wi * 64);
    const uint64_t from = ~uint64_t{0} >> a;
    const uint64_t to = b >= 64 ? 0 : ~uint64_t{0} >> b;
    return from & ~to;
}

template <typename Source>
Span Put(uint64_t* dst, int dx, int n, Source source) {
    Span changed;
    if (n <= 0) return changed;
    const int x1 = dx + n;
    int first = -1, last = -1;
    for (int wi = dx >> 6; wi <= (x1 - 1) >> 6; ++wi) {
        const uint64_t m = Mask(wi, dx, x1);
        const uint64_t old = dst[wi];
        const uint64_t now = (old & ~m) | (source(wi) & m);
        if (now != old) {
            dst[wi] = now;
            if (first < 0) first = wi;
            last = wi;
        }
    }
    if (first >= 0) changed = Span{std::max(dx, first * 64), std::min(x1, last * 64 + 64)};
    return changed;
}

struct Table {
    alignas(64) uint32_t pixels[256][8];
    Table() {
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i) pixels[b][i] = ((b >> (7 - i)) & 1) ? kBlackPixel : kWhitePixel;
    }
};
const Table kTable;

}  // namespace

Span PutBits(uint64_t* dst, int dx, const uint64_t* src, int srcWords, int sx, int n) {
    const long shift = static_cast<long>(sx) - dx;
    if ((shift & 63) == 0) {
        // Word for word (an enlarged picture at a whole word's place).
        const long ws = shift >> 6;
        return Put(dst, dx, n, [&](int wi) {
            const long w = wi + ws;
            return w >= 0 && w < srcWords ? src[w] : uint64_t{0};
        });
    }
    return Put(dst, dx, n, [&](int wi) { return Fetch64(src, srcWords, static_cast<long>(wi) * 64 + shift); });
}

Span FillBits(uint64_t* dst, int dx, int n, bool black) {
    const uint64_t v = black ? ~uint64_t{0} : 0;
    return Put(dst, dx, n, [v](int) { return v; });
}

bool SameBits(const uint64_t* a, const uint64_t* b, int x0, int x1) {
    for (int wi = x0 >> 6; wi <= (x1 - 1) >> 6 && x0 < x1; ++wi)
        if ((a[wi] ^ b[wi]) & Mask(wi, x0, x1)) return false;
    return true;
}

void ExpandBits(const uint64_t* row, int x, uint32_t* const* rows, int count, int at, int n) {
    auto pixel = [row](int bit) { return ((row[bit >> 6] >> (63 - (bit & 63))) & 1u) ? kBlackPixel : kWhitePixel; };
    // Pixel by pixel up to a byte of the row.
    for (; n > 0 && (x & 7); ++x, ++at, --n)
        for (int i = 0; i < count; ++i) rows[i][at] = pixel(x);
    // A byte, 8 pixels, at a time: one look-up, 32 bytes stored in each row;
    // past the cache where every row is 16-byte aligned, since the picture
    // is far bigger than the cache and nothing here reads it back.
    bool aligned = true;
    for (int i = 0; i < count; ++i) aligned = aligned && (reinterpret_cast<uintptr_t>(rows[i] + at) & 15) == 0;
#if defined(__SSE2__)
    if (aligned) {
        for (; n >= 8; x += 8, at += 8, n -= 8) {
            const unsigned byte = static_cast<unsigned>(row[x >> 6] >> (56 - (x & 63))) & 0xffu;
            const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(kTable.pixels[byte]));
            const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(kTable.pixels[byte] + 4));
            for (int i = 0; i < count; ++i) {
                _mm_stream_si128(reinterpret_cast<__m128i*>(rows[i] + at), a);
                _mm_stream_si128(reinterpret_cast<__m128i*>(rows[i] + at + 4), b);
            }
        }
    }
#endif
    for (; n >= 8; x += 8, at += 8, n -= 8) {
        const unsigned byte = static_cast<unsigned>(row[x >> 6] >> (56 - (x & 63))) & 0xffu;
        for (int i = 0; i < count; ++i) std::memcpy(rows[i] + at, kTable.pixels[byte], sizeof kTable.pixels[0]);
    }
    for (; n > 0; ++x, ++at, --n)
        for (int i = 0; i < count; ++i) rows[i][at] = pixel(x);
}

void FillPixels(uint32_t* const* rows, int count, int at, int n, uint32_t pixel) {
    if (n <= 0) return;
    for (int i = 0; i < count; ++i) std::fill_n(rows[i] + at, n, pixel);
}

void WrittenPixels() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace quellora::wayland
