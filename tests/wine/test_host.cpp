// A stand-in for the host's display settings, for the tests under Wine. It
// starts the saver the way the host does and prints what it sees, one
// "name=value" line per fact; the test script judges them.
//
//   test_host preview SCR close|destroy   a preview window, then WM_CLOSE to the
//                                         saver's child or the host window destroyed
//   test_host configure SCR               a foreground window, then SCR /c; prints
//                                         the About dialog and its controls, then
//                                         READY, and waits for the saver to end
//   test_host saver-window                the running saver's window: styles, owner,
//                                         rectangle; then sends it SC_SCREENSAVE
//   test_host resources SCR               the version, name, icon, manifest and
//                                         pictures that SCR carries
//   test_host display-mode W H            switches the display to W x H, as the
//                                         display settings do; prints the result
//   test_host display-state N             tells the running saver's window that the
//                                         display is off (0), on (1) or dimmed (2),
//                                         as the system does; prints its answer
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr wchar_t kHostClass[] = L"QuelloraTestHost";

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Handles messages for `ms` milliseconds, or until `until` says stop.
template <typename F>
bool PumpUntil(DWORD ms, F until) {
    const DWORD start = GetTickCount();
    for (;;) {
        Pump();
        if (until()) return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(50, ms - spent), QS_ALLINPUT);
    }
}

// Waits for the process to end while handling messages; kills it when it
// outlives the deadline, so that no saver is ever left behind.
void AwaitEnd(PROCESS_INFORMATION& pi, DWORD ms) {
    const DWORD start = GetTickCount();
    const bool ended = PumpUntil(ms, [&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; });
    std::printf("ended=%d\nend_ms=%lu\n", ended ? 1 : 0, static_cast<unsigned long>(GetTickCount() - start));
    if (!ended) TerminateProcess(pi.hProcess, 99);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::printf("exit_code=%lu\n", static_cast<unsigned long>(code));
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

bool Start(const std::wstring& commandLine, PROCESS_INFORMATION& pi) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring cmd = commandLine;
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("started=0\nerror=%lu\n", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    std::printf("started=1\n");
    return true;
}

HWND MakeHost(DWORD style, int x, int y, int w, int h) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = kHostClass;
    RegisterClassExW(&wc);
    return CreateWindowExW(0, kHostClass, L"host", style, x, y, w, h, nullptr, nullptr, wc.hInstance, nullptr);
}

void PrintRect(const char* name, const RECT& r) {
    std::printf("%s=%ld,%ld,%ld,%ld\n", name, r.left, r.top, r.right, r.bottom);
}

long long HandleNumber(HWND h) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(h)); }

int Preview(const std::wstring& scr, bool destroyHost) {
    HWND host = MakeHost(WS_POPUP | WS_VISIBLE, 100, 100, 152, 112);
    PROCESS_INFORMATION pi{};
    if (!Start(L"\"" + scr + L"\" /p " + std::to_wstring(HandleNumber(host)), pi)) return 1;

    HWND child = nullptr;
    PumpUntil(20000, [&] { return (child = GetWindow(host, GW_CHILD)) != nullptr; });
    std::printf("child_found=%d\n", child ? 1 : 0);
    if (child) {
        // The saver makes its window and then shows it: look once it has settled.
        PumpUntil(500, [] { return false; });
        DWORD pid = 0;
        GetWindowThreadProcessId(child, &pid);
        std::printf("child_of_saver=%d\n", pid == pi.dwProcessId ? 1 : 0);
        std::printf("child_style=0x%08lX\n", static_cast<unsigned long>(GetWindowLongPtrW(child, GWL_STYLE)));
        std::printf("child_class_style=0x%lX\n", static_cast<unsigned long>(GetClassLongPtrW(child, GCL_STYLE)));
        RECT rc, rh;
        GetWindowRect(child, &rc);
        GetWindowRect(host, &rh);
        PrintRect("child_rect", rc);
        PrintRect("host_rect", rh);
        std::printf("alive_before=%d\n", WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT ? 1 : 0);
        if (destroyHost) {
            DestroyWindow(host);
        } else {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(child, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &result);
        }
    }
    AwaitEnd(pi, 10000);
    if (IsWindow(host)) DestroyWindow(host);
    return 0;
}

struct FindAbout {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindAboutProc(HWND h, LPARAM l) {
    auto* f = reinterpret_cast<FindAbout*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wchar_t caption[64] = L"";
    GetWindowTextW(h, caption, 64);
    if (pid == f->pid && IsWindowVisible(h) && std::wstring(caption) == L"About") {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintControl(HWND h, LPARAM l) {
    HWND dialog = reinterpret_cast<HWND>(l);
    wchar_t cls[64] = L"", text[256] = L"";
    GetClassNameW(h, cls, 64);
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &got);
    RECT r;
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    std::printf("control=%ls|%ls|%ld,%ld,%ld,%ld|visible=%d|enabled=%d|style=0x%08lX\n", cls, text, r.left, r.top,
                r.right - r.left, r.bottom - r.top, IsWindowVisible(h) ? 1 : 0, IsWindowEnabled(h) ? 1 : 0,
                static_cast<unsigned long>(GetWindowLongPtrW(h, GWL_STYLE)));
    return TRUE;
}

int Configure(const std::wstring& scr) {
    HWND host = MakeHost(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 300);
    SetForegroundWindow(host);
    PumpUntil(300, [] { return false; });
    std::printf("host_foreground=%d\n", GetForegroundWindow() == host ? 1 : 0);
    PROCESS_INFORMATION pi{};
    if (!Start(L"\"" + scr + L"\" /c", pi)) return 1;

    FindAbout f{pi.dwProcessId, nullptr};
    PumpUntil(20000, [&] {
        EnumWindows(FindAboutProc, reinterpret_cast<LPARAM>(&f));
        return f.found != nullptr;
    });
    std::printf("about_found=%d\n", f.found ? 1 : 0);
    if (f.found) {
        PumpUntil(300, [] { return false; });
        std::printf("about_owner_is_host=%d\n", GetWindow(f.found, GW_OWNER) == host ? 1 : 0);
        std::printf("host_enabled_during=%d\n", IsWindowEnabled(host) ? 1 : 0);
        std::printf("about_style=0x%08lX\n", static_cast<unsigned long>(GetWindowLongPtrW(f.found, GWL_STYLE)));
        RECT wr, cr;
        GetWindowRect(f.found, &wr);
        GetClientRect(f.found, &cr);
        PrintRect("about_rect", wr);
        PrintRect("about_client", cr);
        // The frame (caption and borders) the dialog would have at 96 dpi.
        using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
        if (auto adjust = reinterpret_cast<AdjustForDpiFn>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")))) {
            RECT frame{0, 0, 0, 0};
            adjust(&frame, static_cast<DWORD>(GetWindowLongPtrW(f.found, GWL_STYLE)), FALSE,
                   static_cast<DWORD>(GetWindowLongPtrW(f.found, GWL_EXSTYLE)), 96);
            std::printf("about_frame_96=%ld,%ld\n", frame.right - frame.left, frame.bottom - frame.top);
        }
        std::printf("screen=%d,%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        // Where the close box is: the first point from the right along the
        // caption that the dialog calls HTCLOSE.
        for (int x = wr.right - 1, y = wr.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2; x > wr.left; --x) {
            DWORD_PTR hit = 0;
            SendMessageTimeoutW(f.found, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_NORMAL, 2000, &hit);
            if (hit == HTCLOSE) {
                std::printf("close_box=%d,%d\n", x - 4, y);
                break;
            }
        }
        EnumChildWindows(f.found, PrintControl, reinterpret_cast<LPARAM>(f.found));
    }
    std::printf("READY\n");
    std::fflush(stdout);
    AwaitEnd(pi, 30000);
    std::printf("host_enabled_after=%d\n", IsWindowEnabled(host) ? 1 : 0);
    DestroyWindow(host);
    return 0;
}

BOOL CALLBACK FindSaverProc(HWND h, LPARAM l) {
    wchar_t cls[64] = L"";
    GetClassNameW(h, cls, 64);
    if (IsWindowVisible(h) && std::wstring(cls).rfind(L"QuelloraSaver", 0) == 0) {
        *reinterpret_cast<HWND*>(l) = h;
        return FALSE;
    }
    return TRUE;
}

int SaverWindow() {
    HWND saver = nullptr;
    EnumWindows(FindSaverProc, reinterpret_cast<LPARAM>(&saver));
    std::printf("found=%d\n", saver ? 1 : 0);
    if (!saver) return 1;
    std::printf("style=0x%08lX\n", static_cast<unsigned long>(GetWindowLongPtrW(saver, GWL_STYLE)));
    std::printf("exstyle=0x%08lX\n", static_cast<unsigned long>(GetWindowLongPtrW(saver, GWL_EXSTYLE)));
    std::printf("class_style=0x%lX\n", static_cast<unsigned long>(GetClassLongPtrW(saver, GCL_STYLE)));
    HWND owner = GetWindow(saver, GW_OWNER);
    std::printf("owner_hidden=%d\n", owner && !IsWindowVisible(owner) ? 1 : 0);
    RECT r;
    GetWindowRect(saver, &r);
    PrintRect("rect", r);
    const int vx = GetSystemMetrics(SM_XVIRTUALSCREEN), vy = GetSystemMetrics(SM_YVIRTUALSCREEN);
    std::printf("virtual_screen=%d,%d,%d,%d\n", vx, vy, vx + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                vy + GetSystemMetrics(SM_CYVIRTUALSCREEN));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(saver, WM_SYSCOMMAND, SC_SCREENSAVE, 0, SMTO_NORMAL, 5000, &result);
    std::printf("screensave_result=%lu\n", static_cast<unsigned long>(result));
    std::printf("alive_after=%d\n", IsWindow(saver) ? 1 : 0);
    return 0;
}

std::string Utf8(const wchar_t* text, int n = -1) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, n, out.data(), size, nullptr, nullptr);
    if (n < 0 && !out.empty()) out.pop_back();
    return out;
}

BOOL CALLBACK PrintBitmap(HMODULE module, LPCWSTR, LPWSTR name, LONG_PTR) {
    if (IS_INTRESOURCE(name)) return TRUE;
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageW(module, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    DIBSECTION dib{};
    if (bmp && GetObjectW(bmp, sizeof dib, &dib) == sizeof dib)
        std::printf("bitmap=%s|%ldx%ld|%d\n", Utf8(name).c_str(), dib.dsBmih.biWidth, std::labs(dib.dsBmih.biHeight),
                    dib.dsBmih.biBitCount);
    else
        std::printf("bitmap=%s|unreadable\n", Utf8(name).c_str());
    if (bmp) DeleteObject(bmp);
    return TRUE;
}

// The images of icon group 1: "icon_image=WxH|png" or "|bitmap", one line each.
void PrintIconImages(HMODULE module) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colours, reserved;
        WORD planes, bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    const BYTE kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    if (!group) return;
    const auto* dir = static_cast<const BYTE*>(LockResource(LoadResource(module, group)));
    const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
    for (WORD i = 0; i < count; ++i) {
        const auto* e = reinterpret_cast<const GroupEntry*>(dir + 6 + i * sizeof(GroupEntry));
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(e->id), RT_ICON);
        const auto* data = image ? static_cast<const BYTE*>(LockResource(LoadResource(module, image))) : nullptr;
        const bool png = data && SizeofResource(module, image) >= 8 && std::equal(data, data + 8, kPng);
        std::printf("icon_image=%dx%d|%s\n", e->width ? e->width : 256, e->height ? e->height : 256,
                    !data ? "missing" : png ? "png" : "bitmap");
    }
}

int Resources(const std::wstring& scr) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(scr.c_str(), &ignored);
    std::string info(size, '\0');
    if (size && GetFileVersionInfoW(scr.c_str(), 0, size, info.data())) {
        for (const wchar_t* key : {L"ProductName", L"CompanyName", L"ProductVersion", L"FileVersion"}) {
            wchar_t* value = nullptr;
            UINT len = 0;
            const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
            if (VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&value), &len))
                std::printf("%s=%s\n", Utf8(key).c_str(), Utf8(value).c_str());
        }
    }
    HMODULE module = LoadLibraryExW(scr.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    std::printf("loaded=%d\n", module ? 1 : 0);
    if (!module) return 1;
    wchar_t name[64] = L"";
    LoadStringW(module, 1, name, 64);
    std::printf("description=%s\n", Utf8(name).c_str());
    std::printf("icon=%d\n", FindResourceW(module, MAKEINTRESOURCEW(1), RT_GROUP_ICON) ? 1 : 0);
    PrintIconImages(module);
    if (HRSRC r = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
        const char* text = static_cast<const char*>(LockResource(LoadResource(module, r)));
        const std::string manifest(text, SizeofResource(module, r));
        for (const char* needle : {"Microsoft.Windows.Common-Controls", "PerMonitorV2", "true/pm"})
            std::printf("manifest_has=%s|%d\n", needle, manifest.find(needle) != std::string::npos ? 1 : 0);
    }
    EnumResourceNamesW(module, RT_BITMAP, PrintBitmap, 0);
    FreeLibrary(module);
    return 0;
}

}  // namespace

// The system's notice of the display's state, GUID_CONSOLE_DISPLAY_STATE, as
// the window it was registered for gets it: WM_POWERBROADCAST with a
// POWERBROADCAST_SETTING in the saver's own memory (a message between
// processes carries only the pointer).
int DisplayState(DWORD state) {
    HWND saver = nullptr;
    EnumWindows(FindSaverProc, reinterpret_cast<LPARAM>(&saver));
    std::printf("found=%d\n", saver ? 1 : 0);
    if (!saver) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(saver, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return 1;
    struct {
        GUID setting;
        DWORD length;
        DWORD data;
    } notice{GUID_CONSOLE_DISPLAY_STATE, sizeof(DWORD), state};
    static_assert(offsetof(decltype(notice), data) == offsetof(POWERBROADCAST_SETTING, Data));
    void* remote = VirtualAllocEx(process, nullptr, sizeof notice, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const bool written = remote && WriteProcessMemory(process, remote, &notice, sizeof notice, nullptr);
    DWORD_PTR result = 0;
    const bool sent = written && SendMessageTimeoutW(saver, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                                                     reinterpret_cast<LPARAM>(remote), SMTO_NORMAL, 5000, &result);
    std::printf("sent=%d\nresult=%lu\n", sent ? 1 : 0, static_cast<unsigned long>(result));
    if (remote) VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return sent ? 0 : 1;
}

// The display settings' own way of changing the mode: every top-level
// window hears WM_DISPLAYCHANGE.
int DisplayMode(int width, int height) {
    DEVMODEW mode{};
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    const LONG result = ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr);
    std::printf("result=%ld\nscreen=%dx%d\n", result, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return result == DISP_CHANGE_SUCCESSFUL ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // Rectangles in the screen's own pixels, whatever the display scaling.
    SetProcessDPIAware();
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"preview" && argc == 4) return Preview(argv[2], std::wstring(argv[3]) == L"destroy");
    if (command == L"configure" && argc == 3) return Configure(argv[2]);
    if (command == L"resources" && argc == 3) return Resources(argv[2]);
    if (command == L"saver-window" && argc == 2) return SaverWindow();
    if (command == L"display-mode" && argc == 4) return DisplayMode(_wtoi(argv[2]), _wtoi(argv[3]));
    if (command == L"display-state" && argc == 3) return DisplayState(static_cast<DWORD>(_wtoi(argv[2])));
    std::fprintf(stderr,
                 "usage: test_host preview SCR close|destroy | configure SCR | saver-window | resources SCR | "
                 "display-mode W H | display-state 0|1|2\n");
    return 2;
}
