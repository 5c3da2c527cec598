// Uncompressed BMP files: 1-bit white/black pictures and 8-bit grey pictures.
// Every length and offset read from a file is checked against the buffer
// before anything is read through it.
#include "moire/bmp.h"

#include <string>

namespace quellora {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr size_t kHeadersBytes = kFileHeaderBytes + kInfoHeaderBytes;
constexpr int32_t kPixelsPerMetre = 2834;  // 72 dots per inch
constexpr int32_t kMaxSide = 16384;

// Bytes of one stored row: whole 32-bit words.
constexpr uint64_t RowBytes(uint64_t width, uint64_t bits) { return (width * bits + 31) / 32 * 4; }

class Writer {
public:
    explicit Writer(size_t size) { out_.reserve(size); }
    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v));
        U8(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    std::vector<uint8_t> Take() { return std::move(out_); }

private:
    std::vector<uint8_t> out_;
};

// Both headers, for a picture whose palette and rows follow at once.
void WriteHeaders(Writer& w, int width, int height, int bits, uint32_t entries, uint32_t important) {
    const uint32_t pixelBytes = static_cast<uint32_t>(RowBytes(width, bits) * height);
    const uint32_t offset = static_cast<uint32_t>(kHeadersBytes + 4 * entries);
    w.U8('B');
    w.U8('M');
    w.U32(offset + pixelBytes);
    w.U16(0);
    w.U16(0);
    w.U32(offset);
    w.U32(kInfoHeaderBytes);
    w.I32(width);
    w.I32(height);
    w.U16(1);
    w.U16(static_cast<uint16_t>(bits));
    w.U32(0);
    w.U32(pixelBytes);
    w.I32(kPixelsPerMetre);
    w.I32(kPixelsPerMetre);
    w.U32(entries);
    w.U32(important);
}

void CheckSize(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        throw BmpError("cannot store a " + std::to_string(width) + " x " + std::to_string(height) +
                       " picture: each side must be 1 to " + std::to_string(kMaxSide) + " pixels");
}

uint32_t U16At(std::span<const uint8_t> f, size_t at) { return f[at] | (f[at + 1] << 8); }
uint32_t U32At(std::span<const uint8_t> f, size_t at) {
    return f[at] | (f[at + 1] << 8) | (f[at + 2] << 16) | (static_cast<uint32_t>(f[at + 3]) << 24);
}

struct Palette {
    uint8_t blue, green, red;
};

// What the headers of a well-formed file say, checked against the buffer.
struct Layout {
    int width = 0;
    int height = 0;
    uint64_t rowBytes = 0;
    size_t pixels = 0;  // offset of the bottom row
    std::vector<Palette> palette;
};

Layout ReadLayout(std::span<const uint8_t> f, int bits) {
    const std::string what = std::to_string(bits) + "-bit BMP: ";
    if (f.size() < kHeadersBytes)
        throw BmpError(what + "truncated: " + std::to_string(f.size()) + " bytes, the headers need " +
                       std::to_string(kHeadersBytes));
    if (f[0] != 'B' || f[1] != 'M') throw BmpError(what + "not a BMP file (no \"BM\" at its start)");

    const uint32_t fileSize = U32At(f, 2);
    const uint32_t offset = U32At(f, 10);
    const uint32_t infoSize = U32At(f, 14);
    const int32_t width = static_cast<int32_t>(U32At(f, 18));
    const int32_t height = static_cast<int32_t>(U32At(f, 22));
    const uint32_t planes = U16At(f, 26);
    const uint32_t bpp = U16At(f, 28);
    const uint32_t compression = U32At(f, 30);
    const uint32_t imageSize = U32At(f, 34);
    const uint32_t used = U32At(f, 46);

    if (fileSize > f.size())
        throw BmpError(what + "truncated: the header says " + std::to_string(fileSize) + " bytes, only " +
                       std::to_string(f.size()) + " are there");
    if (infoSize != kInfoHeaderBytes)
        throw BmpError(what + "information header of " + std::to_string(infoSize) + " bytes, expected 40");
    if (width < 1 || width > kMaxSide)
        throw BmpError(what + "width " + std::to_string(width) + " outside 1 to " + std::to_string(kMaxSide));
    if (height < 1 || height > kMaxSide)
        throw BmpError(what + "height " + std::to_string(height) + " outside 1 to " + std::to_string(kMaxSide) +
                       " (only bottom-up files are read)");
    if (planes != 1) throw BmpError(what + std::to_string(planes) + " planes, expected 1");
    if (bpp != static_cast<uint32_t>(bits))
        throw BmpError(what + std::to_string(bpp) + " bits per pixel, expected " + std::to_string(bits));
    if (compression != 0) throw BmpError(what + "compression " + std::to_string(compression) + ", expected none (0)");

    const uint64_t maxEntries = uint64_t{1} << bits;
    const uint64_t entries = used == 0 ? maxEntries : used;
    if (entries > maxEntries)
        throw BmpError(what + std::to_string(used) + " palette entries, at most " + std::to_string(maxEntries));
    const uint64_t paletteEnd = kHeadersBytes + 4 * entries;
    if (paletteEnd > f.size()) throw BmpError(what + "truncated inside the palette");
    if (offset < paletteEnd)
        throw BmpError(what + "pixel data offset " + std::to_string(offset) + " overlaps the headers or palette");

    Layout l;
    l.width = width;
    l.height = height;
    l.rowBytes = RowBytes(static_cast<uint64_t>(width), static_cast<uint64_t>(bits));
    const uint64_t pixelBytes = l.rowBytes * static_cast<uint64_t>(height);
    if (imageSize != 0 && imageSize != pixelBytes)
        throw BmpError(what + "pixel data size " + std::to_string(imageSize) + ", the picture needs " +
                       std::to_string(pixelBytes));
    if (uint64_t{offset} + pixelBytes > f.size())
        throw BmpError(what + "truncated: the pixel data needs " + std::to_string(uint64_t{offset} + pixelBytes) +
                       " bytes, only " + std::to_string(f.size()) + " are there");
    if (fileSize != 0 && fileSize < uint64_t{offset} + pixelBytes)
        throw BmpError(what + "file size " + std::to_string(fileSize) + " ends before the pixel data does");
    l.pixels = offset;
    l.palette.reserve(entries);
    for (uint64_t i = 0; i < entries; ++i) {
        const size_t at = kHeadersBytes + 4 * i;
        l.palette.push_back({f[at], f[at + 1], f[at + 2]});
    }
    return l;
}

}  // namespace

std::vector<uint8_t> EncodeBmp1(const Bitmap1& picture) {
    const int w = picture.Width(), h = picture.Height();
    CheckSize(w, h);
    const size_t rowBytes = RowBytes(w, 1);
    Writer out(kHeadersBytes + 8 + rowBytes * h);
    WriteHeaders(out, w, h, 1, 2, 0);
    out.U32(0x00FFFFFF);  // index 0 white: blue, green, red 255, then 0
    out.U32(0x00000000);  // index 1 black
    for (int y = h - 1; y >= 0; --y) {
        const uint64_t* row = picture.Row(y);
        for (size_t b = 0; b < rowBytes; ++b) {
            // Bits past the width are always 0 in a Bitmap1, so they pad the row as they are.
            const size_t word = b / 8;
            out.U8(word < static_cast<size_t>(picture.WordsPerRow())
                       ? static_cast<uint8_t>(row[word] >> (56 - 8 * (b % 8)))
                       : 0);
        }
    }
    return out.Take();
}

std::vector<uint8_t> EncodeBmpGrey(const GreyPicture& picture) {
    const int w = picture.width, h = picture.height;
    CheckSize(w, h);
    if (picture.levels.empty() || picture.levels.size() > 256)
        throw BmpError("a grey picture needs 1 to 256 levels, not " + std::to_string(picture.levels.size()));
    if (picture.indices.size() != static_cast<size_t>(w) * h)
        throw BmpError("a " + std::to_string(w) + " x " + std::to_string(h) + " grey picture needs " +
                       std::to_string(static_cast<size_t>(w) * h) + " indices, not " +
                       std::to_string(picture.indices.size()));
    for (uint8_t i : picture.indices)
        if (i >= picture.levels.size())
            throw BmpError("grey picture index " + std::to_string(i) + " is beyond its " +
                           std::to_string(picture.levels.size()) + " levels");

    const uint32_t entries = static_cast<uint32_t>(picture.levels.size());
    const size_t rowBytes = RowBytes(w, 8);
    Writer out(kHeadersBytes + 4 * entries + rowBytes * h);
    WriteHeaders(out, w, h, 8, entries, entries);
    for (uint8_t level : picture.levels) {
        out.U8(level);
        out.U8(level);
        out.U8(level);
        out.U8(0);
    }
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) out.U8(picture.At(x, y));
        for (size_t pad = w; pad < rowBytes; ++pad) out.U8(0);
    }
    return out.Take();
}

Bitmap1 DecodeBmp1(std::span<const uint8_t> file) {
    const Layout l = ReadLayout(file, 1);
    if (l.palette.size() != 2)
        throw BmpError("1-bit BMP: a palette of " + std::to_string(l.palette.size()) + " entries, expected 2");
    const Palette& white = l.palette[0];
    const Palette& black = l.palette[1];
    if (white.red != 255 || white.green != 255 || white.blue != 255 || black.red != 0 || black.green != 0 ||
        black.blue != 0)
        throw BmpError("1-bit BMP: the palette must be index 0 white and index 1 black");

    Bitmap1 picture(l.width, l.height);
    const int words = picture.WordsPerRow();
    const int tail = l.width & 63;
    const uint64_t lastMask = tail ? ~uint64_t{0} << (64 - tail) : ~uint64_t{0};
    for (int y = 0; y < l.height; ++y) {
        const uint8_t* src = file.data() + l.pixels + (l.height - 1 - y) * l.rowBytes;
        uint64_t* row = picture.Row(y);
        for (int i = 0; i < words; ++i) {
            uint64_t word = 0;
            for (size_t b = 0; b < 8; ++b) {
                const size_t at = static_cast<size_t>(i) * 8 + b;
                word = (word << 8) | (at < l.rowBytes ? src[at] : 0);
            }
            row[i] = word;
        }
        row[words - 1] &= lastMask;  // the row's padding carries no pixels
    }
    return picture;
}

GreyPicture DecodeBmpGrey(std::span<const uint8_t> file) {
    const Layout l = ReadLayout(file, 8);
    GreyPicture picture;
    picture.levels.reserve(l.palette.size());
    for (size_t i = 0; i < l.palette.size(); ++i) {
        const Palette& p = l.palette[i];
        if (p.red != p.green || p.green != p.blue)
            throw BmpError("8-bit BMP: palette entry " + std::to_string(i) + " is not grey");
        picture.levels.push_back(p.red);
    }
    picture.width = l.width;
    picture.height = l.height;
    picture.indices.resize(static_cast<size_t>(l.width) * l.height);
    for (int y = 0; y < l.height; ++y) {
        const uint8_t* src = file.data() + l.pixels + (l.height - 1 - y) * l.rowBytes;
        uint8_t* dst = picture.indices.data() + static_cast<size_t>(y) * l.width;
        for (int x = 0; x < l.width; ++x) {
            if (src[x] >= l.palette.size())
                throw BmpError("8-bit BMP: pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") uses index " +
                               std::to_string(src[x]) + ", beyond the palette's " +
                               std::to_string(l.palette.size()) + " entries");
            dst[x] = src[x];
        }
    }
    return picture;
}

}  // namespace quellora
