// Puts 1-bit frames (index 0 white, 1 black) on a device context, in one of
// the three ways GDI offers, kept side by side for the measuring script.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>
#include <vector>

#include "moire/bitmap1.h"

namespace quellora::win32 {

enum class BlitMethod {
    Dib,      // SetDIBitsToDevice from a packed buffer
    Section,  // a 1-bit DIB section in a memory DC, then BitBlt
    Ddb,      // a monochrome device-dependent bitmap loaded with SetDIBits, then BitBlt
};

// QUELLORA_BLIT=dib|section|ddb picks the way, a knob for bench/wine_cpu.py
// to compare them; unset or anything else gives the default, Section, the
// cheapest way that keeps the pixels exact.
BlitMethod BlitMethodFromEnvironment();

class MonoBlitter {
public:
    explicit MonoBlitter(BlitMethod method) : method_(method) {}
    ~MonoBlitter() { Release(); }
    MonoBlitter(const MonoBlitter&) = delete;
    MonoBlitter& operator=(const MonoBlitter&) = delete;

    // Puts the w x h rectangle at (sx, sy) of the picture at (dx, dy) of dc.
    // The rectangle lies inside the picture. False when GDI failed.
    bool Put(HDC dc, const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy);

private:
    // The bitmap (and the memory DC it is selected into) for frames of this
    // size, made once and kept while the size stays.
    bool Prepare(HDC dc, int width, int height);
    void Release();

    BlitMethod method_;
    std::vector<uint64_t> packed_;  // Dib and Ddb: the rows as the DIB wants them
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;  // the memory DC's own bitmap
    void* sectionBits_ = nullptr;
    int width_ = 0, height_ = 0;
};

}  // namespace quellora::win32
