// The three ways of putting a 1-bit frame on screen with GDI.
#include "platform/win32/win32_blit.h"

#include <cstring>

namespace quellora::win32 {

namespace {

// A 1-bit DIB header with its two colours.
struct MonoInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];

    MonoInfo(int width, int height, RGBQUAD zero, RGBQUAD one) : header{}, colours{zero, one} {
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = width;
        header.biHeight = -height;  // top row first
        header.biPlanes = 1;
        header.biBitCount = 1;
        header.biCompression = BI_RGB;
        header.biClrUsed = 2;
    }
    const BITMAPINFO* Get() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

constexpr RGBQUAD kWhite{255, 255, 255, 0};
constexpr RGBQUAD kBlack{0, 0, 0, 0};

// Copies `words` 64-bit words from column word `first` of rows sy .. sy+h-1
// into rows `stride` words apart, each word stored big-endian so that the
// leftmost pixel is the DIB's first bit.
void Pack(const Bitmap1& picture, int first, int words, int sy, int h, uint64_t* out, int stride) {
    for (int y = 0; y < h; ++y, out += stride) {
        const uint64_t* in = picture.Row(sy + y) + first;
        for (int i = 0; i < words; ++i) out[i] = __builtin_bswap64(in[i]);
    }
}

}  // namespace

BlitMethod BlitMethodFromEnvironment() {
    char value[16];
    const DWORD n = GetEnvironmentVariableA("QUELLORA_BLIT", value, sizeof value);
    if (n > 0 && n < sizeof value) {
        if (std::strcmp(value, "dib") == 0) return BlitMethod::Dib;
        if (std::strcmp(value, "section") == 0) return BlitMethod::Section;
        if (std::strcmp(value, "ddb") == 0) return BlitMethod::Ddb;
    }
    // Measured under Wine (bench/wine_cpu.py): the DIB section costs a little
    // less than SetDIBitsToDevice, and the monochrome bitmap over ten times
    // as much; all three give the exact pixels.
    return BlitMethod::Section;
}

bool MonoBlitter::Put(HDC dc, const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) {
    if (w <= 0 || h <= 0) return false;
    // The words that hold the rectangle's columns, and where it starts in the first.
    const int first = sx >> 6, words = ((sx + w - 1) >> 6) - first + 1, x0 = sx - first * 64;

    if (method_ == BlitMethod::Dib) {
        packed_.resize(static_cast<size_t>(words) * h);
        Pack(picture, first, words, sy, h, packed_.data(), words);
        const MonoInfo info(words * 64, h, kWhite, kBlack);
        return SetDIBitsToDevice(dc, dx, dy, w, h, x0, 0, 0, h, packed_.data(), info.Get(), DIB_RGB_COLORS) != 0;
    }

    // One word more than w needs, so that the bitmap's size does not change
    // with the rectangle's alignment.
    const int stride = ((w + 63) >> 6) + 1;
    if (!Prepare(dc, stride * 64, h)) return false;
    if (method_ == BlitMethod::Section) {
        GdiFlush();  // GDI is done with the section's bits
        Pack(picture, first, words, sy, h, static_cast<uint64_t*>(sectionBits_), stride);
    } else {
        packed_.resize(static_cast<size_t>(stride) * h);
        Pack(picture, first, words, sy, h, packed_.data(), stride);
        // The bitmap's own colours, 0 black and 1 white, so the bits go in as
        // they are; SetDIBits wants the bitmap selected into no DC.
        const MonoInfo info(stride * 64, h, kBlack, kWhite);
        SelectObject(memory_, previous_);
        const int lines = SetDIBits(dc, bitmap_, 0, h, packed_.data(), info.Get(), DIB_RGB_COLORS);
        SelectObject(memory_, bitmap_);
        if (lines <= 0) return false;
    }
    // From a monochrome bitmap to a colour DC, 0 bits take the text colour
    // and 1 bits the background colour: white and black. (The DIB section's
    // own colours say the same.)
    const COLORREF text = SetTextColor(dc, RGB(255, 255, 255));
    const COLORREF back = SetBkColor(dc, RGB(0, 0, 0));
    const BOOL done = BitBlt(dc, dx, dy, w, h, memory_, x0, 0, SRCCOPY);
    SetTextColor(dc, text);
    SetBkColor(dc, back);
    return done != FALSE;
}

bool MonoBlitter::Prepare(HDC dc, int width, int height) {
    if (bitmap_ && width == width_ && height == height_) return true;
    Release();
    memory_ = CreateCompatibleDC(dc);
    if (!memory_) return false;
    if (method_ == BlitMethod::Section) {
        const MonoInfo info(width, height, kWhite, kBlack);
        bitmap_ = CreateDIBSection(dc, info.Get(), DIB_RGB_COLORS, &sectionBits_, nullptr, 0);
    } else {
        bitmap_ = CreateBitmap(width, height, 1, 1, nullptr);
    }
    if (!bitmap_) {
        Release();
        return false;
    }
    previous_ = SelectObject(memory_, bitmap_);
    width_ = width;
    height_ = height;
    return true;
}

void MonoBlitter::Release() {
    if (memory_) {
        if (previous_) SelectObject(memory_, previous_);
        DeleteDC(memory_);
    }
    if (bitmap_) DeleteObject(bitmap_);
    memory_ = nullptr;
    bitmap_ = nullptr;
    previous_ = nullptr;
    sectionBits_ = nullptr;
    width_ = height_ = 0;
}

}  // namespace quellora::win32
