// The BMP codec: exact bytes written, round trips, and rejection of every
// malformed or truncated file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "moire/bmp.h"

using namespace quellora;

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& f, size_t at) { return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t{f[at + 3]} << 24; }
void PutU32(Bytes& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutU16(Bytes& f, size_t at, uint16_t v) {
    f[at] = static_cast<uint8_t>(v);
    f[at + 1] = static_cast<uint8_t>(v >> 8);
}

Bitmap1 RandomBitmap(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    Bitmap1 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.Set(x, y, rng() & 1);
    return b;
}

GreyPicture RandomGrey(int w, int h, int levels, unsigned seed) {
    std::mt19937 rng(seed);
    GreyPicture g;
    g.width = w;
    g.height = h;
    for (int i = 0; i < levels; ++i) g.levels.push_back(static_cast<uint8_t>(255 - i * 255 / std::max(1, levels - 1)));
    for (int i = 0; i < w * h; ++i) g.indices.push_back(static_cast<uint8_t>(rng() % levels));
    return g;
}

}  // namespace

TEST(Bmp, WritesTheExactBytesOfASmall1BitPicture) {
    // 3 x 2: top row black, white, black; bottom row white, black, white.
    Bitmap1 b(3, 2);
    b.Set(0, 0, true);
    b.Set(2, 0, true);
    b.Set(1, 1, true);
    const Bytes expected = {
        'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0,             // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 1, 0,            // size, width, height, planes, bits
        0, 0, 0, 0, 8, 0, 0, 0, 0x12, 0x0B, 0, 0, 0x12, 0x0B, 0, 0,  // compression, pixel bytes, 2834 ppm
        2, 0, 0, 0, 0, 0, 0, 0,                                      // 2 entries used, 0 important
        255, 255, 255, 0, 0, 0, 0, 0,                                // white, black
        0x40, 0, 0, 0,                                               // bottom row first
        0xA0, 0, 0, 0,
    };
    EXPECT_EQ(EncodeBmp1(b), expected);
}

TEST(Bmp, WritesTheExactBytesOfASmallGreyPicture) {
    GreyPicture g{2, 2, {255, 128, 0}, {0, 1, 2, 1}};
    const Bytes expected = {
        'B', 'M', 74, 0, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0,
        40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0,
        0, 0, 0, 0, 8, 0, 0, 0, 0x12, 0x0B, 0, 0, 0x12, 0x0B, 0, 0,
        3, 0, 0, 0, 3, 0, 0, 0,                                      // 3 entries used and important
        255, 255, 255, 0, 128, 128, 128, 0, 0, 0, 0, 0,
        2, 1, 0, 0,                                                  // bottom row, padded to 4 bytes
        0, 1, 0, 0,
    };
    EXPECT_EQ(EncodeBmpGrey(g), expected);
}

TEST(Bmp, OneBitRoundTrips) {
    struct Case {
        int w, h;
    };
    for (Case c : {Case{1, 1}, Case{31, 2}, Case{32, 3}, Case{63, 4}, Case{64, 5}, Case{65, 3}, Case{200, 7}}) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        const Bitmap1 b = RandomBitmap(c.w, c.h, c.w * 100 + c.h);
        const Bytes f = EncodeBmp1(b);
        EXPECT_EQ(f.size(), 62u + (c.w + 31) / 32 * 4 * c.h);
        EXPECT_EQ(DecodeBmp1(f), b);
    }
}

TEST(Bmp, GreyRoundTrips) {
    struct Case {
        int w, h, levels;
    };
    for (Case c : {Case{1, 1, 1}, Case{3, 2, 2}, Case{5, 3, 234}, Case{8, 4, 256}, Case{210, 3, 17}}) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + ", " + std::to_string(c.levels));
        const GreyPicture g = RandomGrey(c.w, c.h, c.levels, c.w + c.levels);
        const Bytes f = EncodeBmpGrey(g);
        EXPECT_EQ(f.size(), 54u + 4 * c.levels + (c.w + 3) / 4 * 4 * c.h);
        EXPECT_EQ(DecodeBmpGrey(f), g);
    }
}

TEST(Bmp, RowPaddingIsIgnored) {
    // Set every bit and byte past the picture's width; the pictures read back unchanged.
    const Bitmap1 b = RandomBitmap(37, 3, 1);
    Bytes f = EncodeBmp1(b);
    for (int row = 0; row < 3; ++row) {
        f[62 + row * 8 + 4] |= 0x07;  // bits 37 to 39
        for (int i = 5; i < 8; ++i) f[62 + row * 8 + i] = 0xFF;
    }
    const Bitmap1 back = DecodeBmp1(f);
    EXPECT_EQ(back, b);
    EXPECT_EQ(back.CountBlack(), b.CountBlack());

    const GreyPicture g = RandomGrey(5, 2, 4, 2);
    Bytes fg = EncodeBmpGrey(g);
    const size_t pixels = U32(fg, 10);
    for (int row = 0; row < 2; ++row)
        for (int i = 5; i < 8; ++i) fg[pixels + row * 8 + i] = 0xEE;  // far beyond the 4 entries
    EXPECT_EQ(DecodeBmpGrey(fg), g);
}

TEST(Bmp, EncodersRefuseWhatCannotBeStored) {
    EXPECT_THROW(EncodeBmp1(Bitmap1{}), BmpError);
    EXPECT_THROW(EncodeBmp1(Bitmap1(16385, 1)), BmpError);
    EXPECT_THROW(EncodeBmpGrey(GreyPicture{}), BmpError);
    EXPECT_THROW(EncodeBmpGrey(GreyPicture{2, 1, {}, {0, 0}}), BmpError);             // no levels
    EXPECT_THROW(EncodeBmpGrey(GreyPicture{2, 1, {0, 255}, {0}}), BmpError);          // too few indices
    EXPECT_THROW(EncodeBmpGrey(GreyPicture{2, 1, {0, 255}, {0, 2}}), BmpError);       // index past the levels
    EXPECT_THROW(EncodeBmpGrey(GreyPicture{1, 1, std::vector<uint8_t>(257), {0}}), BmpError);
}

// Each case spoils one thing of a valid file, which the decoder must refuse.
struct Spoil {
    const char* what;
    std::function<void(Bytes&)> apply;
};

TEST(Bmp, Rejects1BitFilesThatAreMalformed) {
    const Bitmap1 b = RandomBitmap(9, 3, 7);
    const Spoil cases[] = {
        {"magic", [](Bytes& f) { f[1] = 'A'; }},
        {"file size past the end", [](Bytes& f) { PutU32(f, 2, static_cast<uint32_t>(f.size() + 1)); }},
        {"file size before the pixels end", [](Bytes& f) { PutU32(f, 2, 70); }},
        {"offset inside the palette", [](Bytes& f) { PutU32(f, 10, 58); }},
        {"offset past the end", [](Bytes& f) { PutU32(f, 10, 0xFFFFFFF0u); }},
        {"pixels past the end", [](Bytes& f) { PutU32(f, 10, 63); }},
        {"core header", [](Bytes& f) { PutU32(f, 14, 12); }},
        {"version 5 header", [](Bytes& f) { PutU32(f, 14, 124); }},
        {"zero width", [](Bytes& f) { PutU32(f, 18, 0); }},
        {"negative width", [](Bytes& f) { PutU32(f, 18, static_cast<uint32_t>(-9)); }},
        {"huge width", [](Bytes& f) { PutU32(f, 18, 0x7FFFFFFF); }},
        {"width past the cap", [](Bytes& f) { PutU32(f, 18, 16385); }},
        {"zero height", [](Bytes& f) { PutU32(f, 22, 0); }},
        {"top-down height", [](Bytes& f) { PutU32(f, 22, static_cast<uint32_t>(-3)); }},
        {"lowest height", [](Bytes& f) { PutU32(f, 22, 0x80000000u); }},
        {"huge height", [](Bytes& f) { PutU32(f, 22, 0x40000000); }},
        {"two planes", [](Bytes& f) { PutU16(f, 26, 2); }},
        {"4 bits", [](Bytes& f) { PutU16(f, 28, 4); }},
        {"8 bits", [](Bytes& f) { PutU16(f, 28, 8); }},
        {"run-length compression", [](Bytes& f) { PutU32(f, 30, 1); }},
        {"bit fields", [](Bytes& f) { PutU32(f, 30, 3); }},
        {"wrong pixel data size", [](Bytes& f) { PutU32(f, 34, 13); }},
        {"one palette entry", [](Bytes& f) { PutU32(f, 46, 1); }},
        {"three palette entries", [](Bytes& f) { PutU32(f, 46, 3); }},
        {"huge palette", [](Bytes& f) { PutU32(f, 46, 0xFFFFFFFFu); }},
        {"black then white", [](Bytes& f) {
             for (int i = 0; i < 3; ++i) std::swap(f[54 + i], f[58 + i]);
         }},
        {"grey instead of white", [](Bytes& f) { f[54] = f[55] = f[56] = 128; }},
        {"red instead of black", [](Bytes& f) { f[60] = 255; }},
    };
    for (const Spoil& c : cases) {
        Bytes f = EncodeBmp1(b);
        c.apply(f);
        EXPECT_THROW(DecodeBmp1(f), BmpError) << c.what;
    }
    // A grey file is not a 1-bit file.
    EXPECT_THROW(DecodeBmp1(EncodeBmpGrey(RandomGrey(9, 3, 2, 1))), BmpError);
}

TEST(Bmp, RejectsGreyFilesThatAreMalformed) {
    const GreyPicture g = RandomGrey(5, 3, 4, 3);
    constexpr size_t pixels = 54 + 16;
    // Index 3 is in use, so a palette cut to 3 entries is too short.
    ASSERT_NE(std::find(g.indices.begin(), g.indices.end(), 3), g.indices.end());
    const Spoil cases[] = {
        {"magic", [](Bytes& f) { f[0] = 'b'; }},
        {"file size past the end", [](Bytes& f) { PutU32(f, 2, 0xFFFFFFFFu); }},
        {"offset inside the palette", [](Bytes& f) { PutU32(f, 10, 66); }},
        {"zero width", [](Bytes& f) { PutU32(f, 18, 0); }},
        {"huge width", [](Bytes& f) { PutU32(f, 18, 0x7FFFFFFF); }},
        {"negative height", [](Bytes& f) { PutU32(f, 22, static_cast<uint32_t>(-3)); }},
        {"huge height", [](Bytes& f) { PutU32(f, 22, 16384); }},
        {"1 bit", [](Bytes& f) { PutU16(f, 28, 1); }},
        {"24 bits", [](Bytes& f) { PutU16(f, 28, 24); }},
        {"run-length compression", [](Bytes& f) { PutU32(f, 30, 1); }},
        {"all 256 entries, file too short", [](Bytes& f) { PutU32(f, 46, 0); }},
        {"257 entries", [](Bytes& f) { PutU32(f, 46, 257); }},
        {"pixel beyond a shortened palette", [](Bytes& f) { PutU32(f, 46, 3); }},
        {"pixel index beyond the palette", [](Bytes& f) { f[pixels + 2] = 4; }},
        {"top pixel index 255", [](Bytes& f) { f[pixels + 2 * 8 + 4] = 255; }},
        {"coloured entry", [](Bytes& f) { f[54 + 4 + 1] ^= 1; }},
    };
    for (const Spoil& c : cases) {
        Bytes f = EncodeBmpGrey(g);
        c.apply(f);
        EXPECT_THROW(DecodeBmpGrey(f), BmpError) << c.what;
    }
    EXPECT_THROW(DecodeBmpGrey(EncodeBmp1(RandomBitmap(5, 3, 1))), BmpError);
}

TEST(Bmp, EveryTruncationIsRejected) {
    const Bytes one = EncodeBmp1(RandomBitmap(33, 4, 5));
    const Bytes grey = EncodeBmpGrey(RandomGrey(6, 3, 5, 6));
    for (size_t n = 0; n < one.size(); ++n)
        EXPECT_THROW(DecodeBmp1(std::span(one.data(), n)), BmpError) << n << " bytes";
    for (size_t n = 0; n < grey.size(); ++n)
        EXPECT_THROW(DecodeBmpGrey(std::span(grey.data(), n)), BmpError) << n << " bytes";
    // The same files with the size field no longer claiming the missing bytes.
    for (size_t n = 54; n < one.size(); ++n) {
        Bytes cut(one.begin(), one.begin() + static_cast<long>(n));
        PutU32(cut, 2, static_cast<uint32_t>(n));
        EXPECT_THROW(DecodeBmp1(cut), BmpError) << n << " bytes, size field adjusted";
    }
}

TEST(Bmp, ErrorsSayWhatIsWrong) {
    Bytes f = EncodeBmp1(RandomBitmap(9, 3, 7));
    PutU16(f, 28, 24);
    try {
        DecodeBmp1(f);
        FAIL() << "no error";
    } catch (const BmpError& e) {
        EXPECT_NE(std::string(e.what()).find("24 bits per pixel"), std::string::npos) << e.what();
    }
}
