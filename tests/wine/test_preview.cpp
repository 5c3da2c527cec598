// The preview drawn in-process: Wine does not show what a child window of
// another process draws, so this host runs the saver's preview mode in its
// own process, inside a window of its own.
//
//   test_preview WIDTH HEIGHT OUT.ppm
//
// makes a WIDTHxHEIGHT host window, runs preview mode in it, and after a
// second copies the preview child's pixels to OUT.ppm (binary PPM), then
// sends the child WM_CLOSE. Prints "returned=1" when preview mode returns.
#include "platform/win32/win32_platform.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/entry.h"

namespace {

constexpr wchar_t kHostClass[] = L"QuelloraPreviewHost";
std::wstring outPath;

void SaveChildPixels(HWND child) {
    RECT r;
    GetClientRect(child, &r);
    const int w = r.right, h = r.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(child);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, dib);
    BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    GdiFlush();
    if (FILE* f = _wfopen(outPath.c_str(), L"wb")) {
        std::fprintf(f, "P6\n%d %d\n255\n", w, h);
        const auto* px = static_cast<const uint8_t*>(bits);
        std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = px + (static_cast<size_t>(y) * w + x) * 4;  // B, G, R, unused
                row[x * 3] = p[2];
                row[x * 3 + 1] = p[1];
                row[x * 3 + 2] = p[0];
            }
            std::fwrite(row.data(), 1, row.size(), f);
        }
        std::fclose(f);
    }
    SelectObject(memory, old);
    DeleteObject(dib);
    DeleteDC(memory);
    ReleaseDC(child, screen);
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_TIMER) {
        KillTimer(hwnd, w);
        HWND child = GetWindow(hwnd, GW_CHILD);
        std::printf("child_found=%d\n", child ? 1 : 0);
        if (child) {
            SaveChildPixels(child);
            PostMessageW(child, WM_CLOSE, 0, 0);
        }
        return 0;
    }
    return DefWindowProcW(hwnd, msg, w, l);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 4) {
        std::fprintf(stderr, "usage: test_preview WIDTH HEIGHT OUT.ppm\n");
        return 2;
    }
    outPath = argv[3];
    HINSTANCE instance = GetModuleHandleW(nullptr);
    quellora::win32::Win32Platform platform(instance);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HostProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
    HWND host = CreateWindowExW(0, kHostClass, L"preview host", WS_POPUP | WS_VISIBLE, 100, 100, _wtoi(argv[1]),
                                _wtoi(argv[2]), nullptr, nullptr, instance, nullptr);
    SetTimer(host, 1, 1000, nullptr);

    quellora::RunQuellora(platform, {"/p", std::to_string(quellora::win32::FromHwnd(host))});
    std::printf("returned=1\n");
    DestroyWindow(host);
    return 0;
}
