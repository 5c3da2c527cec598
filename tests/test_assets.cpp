// The four built-in pictures: their files as stored, the band rules the two
// patterns follow, the title card's line boxes and the sample's palette.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>
#include <string>
#include <vector>

#include "moire/assets.h"
#include "moire/bmp.h"
#include "moire/patterns.h"

using namespace quellora;

namespace {

uint32_t U16(std::span<const uint8_t> f, size_t at) { return f[at] | f[at + 1] << 8; }
uint32_t U32(std::span<const uint8_t> f, size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t{f[at + 3]} << 24;
}

int Mod36(int v) { return ((v % 36) + 36) % 36; }

// The second pattern's rule, pixel by pixel, without the wedges of rows 0 to 4.
bool DiagonalBand(double phase, int v) {
    const double period = 36 * std::numbers::sqrt2;
    const int j0 = static_cast<int>(std::floor((v - phase) / period));
    for (int j = j0 - 1; j <= j0 + 1; ++j) {
        const int start = static_cast<int>(std::floor(phase + period * j));
        if (start <= v && v <= start + 25) return true;
    }
    return false;
}
bool SecondRule(int x, int y) {
    return (Mod36(x - 22) < 18) ^ (Mod36(y - 8) < 18) ^ DiagonalBand(45.22, x + y) ^ DiagonalBand(73.10, y - x);
}

// The first pattern's rule, with the angles in degrees.
bool FirstRule(int x, int y) {
    const double families[4][2] = {{22.5, 11.01}, {67.5, 26.42}, {112.5, 21.58}, {157.5, 5.92}};
    bool black = false;
    for (const auto& [degrees, phase] : families) {
        const double a = degrees * std::numbers::pi / 180;
        double m = std::fmod(x * std::cos(a) + y * std::sin(a) - phase, 36.0);
        if (m < 0) m += 36;
        black ^= m < 18.4;
    }
    return black;
}

}  // namespace

TEST(Assets, FilesHaveTheirStoredHeaders) {
    struct Case {
        Asset which;
        uint32_t fileBytes, width, height, bits, used, important, offset, pixelBytes;
    };
    const Case cases[] = {
        {Asset::Pattern1, 153662, 1600, 768, 1, 2, 0, 62, 153600},
        {Asset::Pattern2, 153662, 1600, 768, 1, 2, 0, 62, 153600},
        {Asset::TitleCard, 9662, 320, 240, 1, 2, 0, 62, 9600},
        {Asset::Sample, 34062, 210, 156, 8, 234, 234, 990, 33072},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.which));
        const std::span<const uint8_t> f = AssetFile(c.which);
        ASSERT_EQ(f.size(), c.fileBytes);
        EXPECT_EQ(f[0], 'B');
        EXPECT_EQ(f[1], 'M');
        EXPECT_EQ(U32(f, 2), c.fileBytes);
        EXPECT_EQ(U32(f, 6), 0u);  // both reserved fields
        EXPECT_EQ(U32(f, 10), c.offset);
        EXPECT_EQ(U32(f, 14), 40u);
        EXPECT_EQ(U32(f, 18), c.width);
        EXPECT_EQ(U32(f, 22), c.height);
        EXPECT_EQ(U16(f, 26), 1u);
        EXPECT_EQ(U16(f, 28), c.bits);
        EXPECT_EQ(U32(f, 30), 0u);
        EXPECT_EQ(U32(f, 34), c.pixelBytes);
        EXPECT_EQ(U32(f, 38), 2834u);
        EXPECT_EQ(U32(f, 42), 2834u);
        EXPECT_EQ(U32(f, 46), c.used);
        EXPECT_EQ(U32(f, 50), c.important);
        EXPECT_EQ(54 + 4 * c.used, c.offset);
        EXPECT_EQ(c.offset + c.pixelBytes, c.fileBytes);
        for (uint32_t i = 0; i < c.used; ++i) {
            const size_t at = 54 + 4 * i;
            EXPECT_EQ(f[at], f[at + 1]) << "entry " << i;  // grey: blue = green = red
            EXPECT_EQ(f[at + 1], f[at + 2]) << "entry " << i;
            EXPECT_EQ(f[at + 3], 0) << "entry " << i;
        }
        EXPECT_EQ(f[54], 255);  // index 0 white
        EXPECT_EQ(f[54 + 4 * (c.used - 1)], 0);  // the last index black
    }
}

TEST(Assets, PicturesAreDecodedOnceFromTheFiles) {
    EXPECT_EQ(&Img1Picture(), &Img1Picture());
    EXPECT_EQ(&SamplePicture(), &SamplePicture());
    EXPECT_EQ(Img1Picture(), DecodeBmp1(AssetFile(Asset::Pattern1)));
    EXPECT_EQ(Img2Picture(), DecodeBmp1(AssetFile(Asset::Pattern2)));
    EXPECT_EQ(TitlePicture(), DecodeBmp1(AssetFile(Asset::TitleCard)));
    EXPECT_EQ(SamplePicture(), DecodeBmpGrey(AssetFile(Asset::Sample)));
}

TEST(Assets, PatternsRegenerateByteForByte) {
    const std::vector<uint8_t> p1 = EncodeBmp1(GeneratePattern1());
    const std::vector<uint8_t> p2 = EncodeBmp1(GeneratePattern2());
    const std::span<const uint8_t> f1 = AssetFile(Asset::Pattern1), f2 = AssetFile(Asset::Pattern2);
    EXPECT_TRUE(std::equal(p1.begin(), p1.end(), f1.begin(), f1.end())) << "run quellora-assets assets";
    EXPECT_TRUE(std::equal(p2.begin(), p2.end(), f2.begin(), f2.end())) << "run quellora-assets assets";
}

TEST(Assets, SecondPatternFollowsItsRule) {
    const Bitmap1& p = Img2Picture();
    ASSERT_EQ(p.Width(), 1600);
    ASSERT_EQ(p.Height(), 768);
    EXPECT_EQ(p.CountBlack(), 614378);

    struct Pixel {
        int x, y;
        bool black;
    };
    for (Pixel px : {Pixel{0, 0, false}, Pixel{800, 384, true}, Pixel{21, 8, false}, Pixel{16, 0, true},
                     Pixel{17, 0, true}, Pixel{18, 0, true}, Pixel{19, 0, true}, Pixel{15, 0, false}})
        EXPECT_EQ(p.Get(px.x, px.y), px.black) << "(" << px.x << ", " << px.y << ")";

    // Rows 5 on follow the rule exactly. In rows 0 to 4 the rising diagonal
    // bands end early, which turns 352 pixels around, all inside those bands.
    long long off = 0, offBelow = 0, offOutsideBands = 0;
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x)
            if (p.Get(x, y) != SecondRule(x, y)) {
                ++off;
                offBelow += y >= 5;
                offOutsideBands += !DiagonalBand(45.22, x + y);
            }
    EXPECT_EQ(off, 352);
    EXPECT_EQ(offBelow, 0);
    EXPECT_EQ(offOutsideBands, 0);
}

TEST(Assets, FirstPatternFollowsItsRule) {
    const Bitmap1& p = Img1Picture();
    ASSERT_EQ(p.Width(), 1600);
    ASSERT_EQ(p.Height(), 768);
    EXPECT_FALSE(p.Get(0, 0));
    EXPECT_NEAR(p.CountBlack(), 614949, 0.01 * 1600 * 768);
    long long off = 0;
    for (int y = 0; y < p.Height(); ++y)
        for (int x = 0; x < p.Width(); ++x) off += p.Get(x, y) != FirstRule(x, y);
    EXPECT_LT(off, 100) << "pixels that differ from the rule";
}

// How far each pattern is from repeating itself, within one percentage point
// of the stored patterns' figures.
TEST(Assets, PatternsAreFarFromRepeating) {
    struct Case {
        const Bitmap1* pattern;
        int sideways;
        double sidewaysPercent;
        int vertical;
        double verticalPercent;
    };
    for (const Case& c : {Case{&Img1Picture(), 565, 7.0, 234, 7.7}, Case{&Img2Picture(), 432, 5.8, 179, 11.0}}) {
        const ShiftFigure side = BestSidewaysShift(*c.pattern, 800);
        const ShiftFigure down = BestVerticalShift(*c.pattern, 384);
        EXPECT_EQ(side.shift, c.sideways);
        EXPECT_NEAR(100 * side.differing, c.sidewaysPercent, 1.0);
        EXPECT_EQ(down.shift, c.vertical);
        EXPECT_NEAR(100 * down.differing, c.verticalPercent, 1.0);
    }
    // The second pattern's other near repeat, 611 columns, is as close as 432.
    EXPECT_NEAR(100 * ShiftedDifference(Img2Picture(), 611, 0), 5.8, 0.1);
}

TEST(Assets, ShiftedDifferenceCountsOnlyTheOverlap) {
    // Columns alternate black and white: a shift by 2 matches, by 1 differs everywhere.
    Bitmap1 b(130, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 130; x += 2) b.Set(x, y, true);
    EXPECT_EQ(ShiftedDifference(b, 2, 0), 0.0);
    EXPECT_EQ(ShiftedDifference(b, 1, 0), 1.0);
    EXPECT_EQ(ShiftedDifference(b, 65, 1), 1.0);
    EXPECT_EQ(ShiftedDifference(b, 0, 2), 0.0);
    b.Set(129, 2, true);  // one pixel in the last row and column
    EXPECT_DOUBLE_EQ(ShiftedDifference(b, 0, 1), 1.0 / (130 * 2));
    EXPECT_DOUBLE_EQ(ShiftedDifference(b, 64, 0), 1.0 / (66 * 3));
}

TEST(Assets, TitleCardLetteringStaysInItsLineBoxes) {
    const Bitmap1& card = TitlePicture();
    ASSERT_EQ(card.Width(), 320);
    ASSERT_EQ(card.Height(), 240);
    EXPECT_NEAR(card.CountBlack(), 5895, 150);

    struct Box {
        int top, bottom, left, right, atLeast;
    };
    const Box boxes[] = {{42, 67, 28, 237, 1500}, {86, 111, 70, 293, 1500}, {131, 140, 198, 276, 150},
                         {188, 204, 63, 262, 600}};
    long long inside = 0;
    for (const Box& b : boxes) {
        long long n = 0;
        int top = 240, bottom = -1, left = 320, right = -1;
        for (int y = b.top; y <= b.bottom; ++y)
            for (int x = b.left; x <= b.right; ++x)
                if (card.Get(x, y)) {
                    ++n;
                    top = std::min(top, y), bottom = std::max(bottom, y);
                    left = std::min(left, x), right = std::max(right, x);
                }
        SCOPED_TRACE("box at row " + std::to_string(b.top));
        EXPECT_GE(n, b.atLeast);
        EXPECT_EQ(left, b.left);  // each line starts at its own indent
        EXPECT_GE(bottom - top + 1, (b.bottom - b.top + 1) * 3 / 4);
        inside += n;
    }
    EXPECT_EQ(inside, card.CountBlack()) << "black pixels outside the line boxes";
}

TEST(Assets, SampleUsesItsWholeGreyPalette) {
    const GreyPicture& s = SamplePicture();
    ASSERT_EQ(s.width, 210);
    ASSERT_EQ(s.height, 156);
    const std::set<int> missing = {254, 250, 212, 194, 186, 141, 137, 134, 130, 107, 85,
                                   81,  77,  59,  36,  32,  21,  17,  14,  10,  6,   2};
    std::vector<uint8_t> levels;
    for (int v = 255; v >= 0; --v)
        if (!missing.count(v)) levels.push_back(static_cast<uint8_t>(v));
    ASSERT_EQ(levels.size(), 234u);
    EXPECT_EQ(s.levels, levels);

    std::vector<int> uses(234, 0);
    double sum = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            ++uses[s.At(x, y)];
            sum += s.LevelAt(x, y);
        }
    for (int i = 0; i < 234; ++i) EXPECT_GT(uses[i], 0) << "index " << i;
    EXPECT_NEAR(sum / (s.width * s.height), 146.0, 0.5);
}

TEST(Assets, SampleShowsAWheelRightOfCentre) {
    // A light hub at (127, 77) and a light ring about 28 pixels out, on a
    // grainy field whose mean is 146.
    const GreyPicture& s = SamplePicture();
    auto meanAt = [&](double inner, double outer) {
        double sum = 0;
        int n = 0;
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                const double r = std::hypot(x - 127, y - 77);
                if (r >= inner && r < outer) sum += s.LevelAt(x, y), ++n;
            }
        return sum / n;
    };
    EXPECT_GT(meanAt(0, 2), 220);
    EXPECT_GT(meanAt(26, 31), 160);
    EXPECT_LT(meanAt(18, 24), 150);
}
