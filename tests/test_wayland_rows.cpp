// The Wayland window's row work against pixel-by-pixel references: putting
// bits at any alignment while noting what changed, expanding bits into
// buffer pixels, and the damage rectangles of the rows that changed.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/wayland/rows.h"

using quellora::Rect;
using namespace quellora::wayland;

namespace {

bool Bit(const std::vector<uint64_t>& row, int x) { return (row[x >> 6] >> (63 - (x & 63))) & 1u; }

std::vector<uint64_t> RandomRow(std::mt19937& rng, int words) {
    std::vector<uint64_t> row(static_cast<size_t>(words));
    for (uint64_t& w : row) w = (uint64_t{rng()} << 32) | rng();
    return row;
}

}  // namespace

// Every alignment of source and destination, spans inside one word and
// across many, a source read up to its row's last bit: the destination
// takes exactly the source's bits, nothing outside moves, and the span
// reported holds every bit that changed.
TEST(WaylandRows, PutBitsAtAnyAlignment) {
    std::mt19937 rng(19);
    for (int trial = 0; trial < 3000; ++trial) {
        const int srcWords = 1 + static_cast<int>(rng() % 5), dstWords = 1 + static_cast<int>(rng() % 5);
        const std::vector<uint64_t> src = RandomRow(rng, srcWords);
        std::vector<uint64_t> dst = RandomRow(rng, dstWords);
        if (trial % 3 == 0) dst = src.size() == dst.size() ? src : dst;  // much the same: small changes
        const int n = 1 + static_cast<int>(rng() % std::min(srcWords * 64, dstWords * 64));
        const int sx = static_cast<int>(rng() % (srcWords * 64 - n + 1));
        const int dx = static_cast<int>(rng() % (dstWords * 64 - n + 1));
        const std::vector<uint64_t> before = dst;
        const Span changed = PutBits(dst.data(), dx, src.data(), srcWords, sx, n);
        for (int x = 0; x < dstWords * 64; ++x) {
            const bool expect = x >= dx && x < dx + n ? Bit(src, sx + x - dx) : Bit(before, x);
            ASSERT_EQ(Bit(dst, x), expect) << "trial " << trial << " bit " << x;
            if (Bit(dst, x) != Bit(before, x)) ASSERT_TRUE(x >= changed.lo && x < changed.hi) << "trial " << trial;
        }
        ASSERT_TRUE(changed.Empty() || (changed.lo >= dx && changed.hi <= dx + n)) << "trial " << trial;
        EXPECT_EQ(SameBits(dst.data(), before.data(), 0, dstWords * 64), changed.Empty()) << "trial " << trial;
    }
}

// Any start bit, any column, 1 to 3 rows at once, rows aligned for the
// streaming stores and not: each pixel black for a 1 bit, white for a 0,
// and the pixels around untouched.
TEST(WaylandRows, ExpandBitsIntoRows) {
    std::mt19937 rng(7);
    const std::vector<uint64_t> bits = RandomRow(rng, 6);
    for (int trial = 0; trial < 2000; ++trial) {
        const int count = 1 + static_cast<int>(rng() % 3);
        const int n = static_cast<int>(rng() % 300), x = static_cast<int>(rng() % (6 * 64 - n + 1));
        const int at = static_cast<int>(rng() % 40), width = at + n + 8;
        std::vector<std::vector<uint32_t>> store(3, std::vector<uint32_t>(static_cast<size_t>(width) + 4, 0x12345678u));
        uint32_t* rows[3];
        for (int i = 0; i < count; ++i) rows[i] = store[i].data() + (trial % 4);  // 4 alignments
        ExpandBits(bits.data(), x, rows, count, at, n);
        WrittenPixels();
        for (int i = 0; i < count; ++i)
            for (int c = 0; c < width; ++c) {
                const uint32_t expect =
                    c >= at && c < at + n ? (Bit(bits, x + c - at) ? kBlackPixel : kWhitePixel) : 0x12345678u;
                ASSERT_EQ(rows[i][c], expect) << "trial " << trial << " row " << i << " column " << c;
            }
    }
}

// The damage of the rows that changed: every change inside a rectangle,
// runs a few rows apart together, never a long list.
TEST(WaylandRows, DamageRectangles) {
    RowChanges c;
    c.Resize(1000);
    EXPECT_TRUE(c.Rects().empty());
    c.Add(10, 5, 9);
    c.Add(11, 3, 4);
    c.Add(15, 100, 101);  // 4 rows below: the same rectangle
    c.Add(500, 7, 8);     // far below: one of its own
    EXPECT_EQ(c.Rects(), (std::vector<Rect>{{3, 10, 101, 16}, {7, 500, 8, 501}}));
    for (int y = 600; y < 1000; y += 20) c.Add(y, y, y + 1);  // many runs: the bounding box
    EXPECT_EQ(c.Rects(), (std::vector<Rect>{{3, 10, 981, 981}}));
    c.Clear();
    EXPECT_TRUE(c.Empty());
    EXPECT_TRUE(c.Rects().empty());
    EXPECT_TRUE(c.Row(10).Empty());
}
