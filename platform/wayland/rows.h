// The row work of the Wayland window, without a compositor: what changed in
// a 1-bit picture row by row, putting bits into it while noting the change,
// and expanding its bits into 32-bit buffer pixels. Pure, so tests can run
// it alone.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace quellora::wayland {

// The columns [lo, hi) of a row.
struct Span {
    int lo = 0, hi = 0;
    bool Empty() const { return lo >= hi; }
    void Add(int l, int h) {
        if (l >= h) return;
        if (Empty()) {
            lo = l, hi = h;
        } else {
            lo = std::min(lo, l), hi = std::max(hi, h);
        }
    }
};

// What changed in a picture: a span per row, and the range of rows with one.
class RowChanges {
public:
    void Resize(int rows);  // and nothing changed
    void Add(int y, int lo, int hi);
    void AddRect(const Rect& r);
    void Clear();
    bool Empty() const { return top_ >= bottom_; }
    int Top() const { return top_; }
    int Bottom() const { return bottom_; }
    int Rows() const { return static_cast<int>(rows_.size()); }
    const Span& Row(int y) const { return rows_[static_cast<size_t>(y)]; }
    // A few rectangles covering every change: each run of changed rows with
    // its widest span, runs a few rows apart taken together, and the
    // bounding box when there would still be many.
    std::vector<Rect> Rects() const;

private:
    std::vector<Span> rows_;
    int top_ = 0, bottom_ = 0;
};

// Puts `n` bits of `src` (a row of `srcWords` words, starting at bit `sx`)
// into `dst` at bit `dx`; the first pixel of a word is its top bit. Returns
// the columns of `dst` that changed, to the word.
Span PutBits(uint64_t* dst, int dx, const uint64_t* src, int srcWords, int sx, int n);
// Sets `n` bits of `dst` from bit `dx` to `black`; returns what changed.
Span FillBits(uint64_t* dst, int dx, int n, bool black);
// Whether bits [x0, x1) of two rows are the same.
bool SameBits(const uint64_t* a, const uint64_t* b, int x0, int x1);

// The unused byte of XRGB8888 set as well: a compositor that reads the buffer
// as ARGB (weston's pixman renderer into its output, which its screenshots
// show) sees it opaque.
constexpr uint32_t kBlackPixel = 0xff000000u, kWhitePixel = 0xffffffffu;

// Writes the `n` pixels from bit `x` of a 1-bit row (1 black) as XRGB8888
// at column `at` of each of `count` rows, expanding them once. The rows'
// pixels may bypass the cache: WrittenPixels() before anyone else reads them.
void ExpandBits(const uint64_t* row, int x, uint32_t* const* rows, int count, int at, int n);
// Sets `n` pixels from column `at` of each of `count` rows to `pixel`.
void FillPixels(uint32_t* const* rows, int count, int at, int n, uint32_t pixel);
// Makes every pixel written so far visible to other processes.
void WrittenPixels();

}  // namespace quellora::wayland
