// Two ways of showing the moiré enlarged n times with GDI, for
// bench/wine_scale_ways.py:
//
//   core     the core enlarges the frame (moire/scale) and the backend puts
//            the big 1-bit picture as it puts any frame (what quellora does);
//   stretch  the backend puts the 1024 x 768 frame and asks GDI to enlarge
//            it: StretchBlt from the 1-bit DIB section, nearest neighbour.
//
//   win32_scale_ways core|stretch SECONDS [N]
//
// Runs the sweep at 25 frames a second in a top-most window over the whole
// screen, the viewport centred, for SECONDS; prints "frames=F cpu_ms=C
// wall_ms=W" (its own CPU), then keeps the last frame on screen until a line
// comes on stdin, for a look at its pixels.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "moire/animation.h"
#include "moire/assets.h"
#include "moire/scale.h"
#include "platform/win32/win32_blit.h"

namespace {

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

double NowMs() {
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return c.QuadPart * 1000.0 / f.QuadPart;
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: win32_scale_ways core|stretch SECONDS [N]\n");
        return 2;
    }
    const bool stretch = std::strcmp(argv[1], "stretch") == 0;
    const double seconds = std::atof(argv[2]);
    const int n = argc > 3 ? std::atoi(argv[3]) : 2;
    SetProcessDPIAware();
    const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    const int vw = 1024 * n, vh = 768 * n, vx = (sw - vw) / 2, vy = (sh - vh) / 2;

    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"QuelloraScaleWays";
    RegisterClassW(&wc);
    HWND win = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"scale ways", WS_POPUP | WS_VISIBLE, 0, 0, sw, sh,
                               nullptr, nullptr, wc.hInstance, nullptr);
    Pump();

    uint32_t now = 100000;  // past the title card's time
    quellora::moire::Animation anim([&] { return now; }, {&quellora::Img1Picture(), &quellora::Img2Picture(),
                                                          &quellora::TitlePicture()});
    anim.InitState();
    anim.CreateBuffers();
    anim.BmpInit();
    quellora::win32::MonoBlitter blitter(quellora::win32::BlitMethod::Section);
    quellora::Bitmap1 big;

    // The stretch way: its own 1-bit section of the frame.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD c[2];
    } info{};
    info.h.biSize = sizeof info.h;
    info.h.biWidth = 1024;
    info.h.biHeight = -768;
    info.h.biPlanes = 1;
    info.h.biBitCount = 1;
    info.h.biClrUsed = 2;
    info.c[0] = RGBQUAD{255, 255, 255, 0};
    info.c[1] = RGBQUAD{0, 0, 0, 0};
    HDC screen = GetDC(win);
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    SelectObject(memory, section);
    ReleaseDC(win, screen);

    const double cpu0 = CpuMs(), start = NowMs();
    long frames = 0;
    while (NowMs() - start < seconds * 1000) {
        anim.AutoMove();
        anim.ReDraw();
        const auto& img = anim.Image1();
        HDC dc = GetDC(win);
        if (stretch) {
            GdiFlush();
            // The viewport's 1024 columns, moved to the section's first bit.
            auto* out = static_cast<uint64_t*>(bits);
            for (int y = 0; y < 768; ++y) {
                const int first = (-img.left) >> 6, shift = (-img.left) & 63;
                const uint64_t* in = img.picture.Row(y) + first;
                for (int i = 0; i < 16; ++i) {
                    const uint64_t w = shift ? (in[i] << shift) | (in[i + 1] >> (64 - shift)) : in[i];
                    out[y * 16 + i] = __builtin_bswap64(w);
                }
            }
            SetStretchBltMode(dc, COLORONCOLOR);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            StretchBlt(dc, vx, vy, vw, vh, memory, 0, 0, 1024, 768, SRCCOPY);
        } else {
            quellora::moire::ScaleUp(img.picture, -img.left, 0, 1024, 768, n, big);
            blitter.Put(dc, big, 0, 0, vw, vh, vx, vy);
        }
        ReleaseDC(win, dc);
        ++frames;
        Pump();
        const double wait = start + frames * 40.0 - NowMs();
        if (wait > 0) Sleep(static_cast<DWORD>(wait));
    }
    std::printf("frames=%ld cpu_ms=%.0f wall_ms=%.0f\n", frames, CpuMs() - cpu0, NowMs() - start);
    std::fflush(stdout);
    char line[16];
    while (std::fgets(line, sizeof line, stdin)) {
        Pump();
        break;
    }
    return 0;
}
