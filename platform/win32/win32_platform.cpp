// The Win32 platform: application window, message loop primitives, screen
// metrics, system queries and host libraries.
#include "platform/win32/win32_platform.h"

#include <mmsystem.h>

#include <cstdio>


// The native sleep, which takes 100-ns units. Under Wine a sleep that does not
// wait for messages is a plain timed sleep inside the process, exact to a few
// tens of microseconds, where a timed message wait goes through the Wine
// server and ends up to a millisecond and a half late.
extern "C" LONG NTAPI NtDelayExecution(BOOLEAN alertable, PLARGE_INTEGER interval);

namespace quellora::win32 {

namespace {

constexpr wchar_t kApplicationClass[] = L"QuelloraApplication";

// How long before the due tick a timed message wait is made to end (it ends
// up to 1.5 ms late under Wine, more on a busy machine); the rest is slept
// without looking at messages, which then wait that long at most.
constexpr int64_t kSleepAloneHundredNs = 40000;  // 4 ms

// a * b / c without overflow, rounded down or up.
uint64_t MulDivDown(uint64_t a, uint64_t b, uint64_t c) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
}
uint64_t MulDivUp(uint64_t a, uint64_t b, uint64_t c) {
    return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b + c - 1) / c);
}

class Win32Library : public Library {
public:
    explicit Win32Library(HMODULE module) : module_(module) {}
    ~Win32Library() override { FreeLibrary(module_); }
    void* Entry(const char* name) override { return reinterpret_cast<void*>(GetProcAddress(module_, name)); }

private:
    HMODULE module_;
};

}  // namespace

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance), blit_(BlitMethodFromEnvironment()) {
    // Waits and sleeps to the millisecond.
    timeBeginPeriod(1);
    LARGE_INTEGER frequency;
    if (QueryPerformanceFrequency(&frequency) && frequency.QuadPart > 0)
        counterFrequency_ = static_cast<uint64_t>(frequency.QuadPart);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance_;
    wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    wc.lpszClassName = kApplicationClass;
    RegisterClassExW(&wc);
    appWindow_ = CreateWindowExW(0, kApplicationClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_,
                                 nullptr);
}

Win32Platform::~Win32Platform() {
    if (appWindow_) DestroyWindow(appWindow_);
    timeEndPeriod(1);
}

void Win32Platform::HideApplicationWindow() {
    if (appWindow_) ShowWindow(appWindow_, SW_HIDE);
}

void Win32Platform::SetApplicationTitle(const std::string& title) {
    if (appWindow_) SetWindowTextW(appWindow_, Widen(title).c_str());
}

bool Win32Platform::ProcessOneMessage() {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        quit_ = true;
        return true;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void Win32Platform::WaitUntil(std::optional<uint32_t> dueTick) {
    if (!dueTick) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        return;
    }
    // A timed message wait ends anywhere up to a millisecond and a half after
    // its time under Wine, often a tick after the due one, and the pacer
    // restarts its 40 ms from the tick it sees. So the message wait is made
    // to end a few milliseconds early, and the rest is slept to the first
    // count of the due tick.
    for (;;) {
        const int64_t left = HundredNsUntil(*dueTick);
        if (left <= 0) return;
        if (left >= kSleepAloneHundredNs + 10000) {
            const DWORD ms = static_cast<DWORD>((left - kSleepAloneHundredNs) / 10000);
            if (MsgWaitForMultipleObjects(0, nullptr, FALSE, ms, QS_ALLINPUT) != WAIT_TIMEOUT) return;
        } else {
            LARGE_INTEGER interval;
            interval.QuadPart = -left;  // negative: relative
            NtDelayExecution(FALSE, &interval);
        }
    }
}

void Win32Platform::PostQuit() {
    if (!quit_) PostQuitMessage(0);
    quit_ = true;
}

std::unique_ptr<Window> Win32Platform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    return MakeWindow(*this, params, events);
}

bool Win32Platform::GetWindowRect(WindowHandle window, Rect& out) {
    RECT r;
    if (!::GetWindowRect(ToHwnd(window), &r)) return false;
    out = Rect{r.left, r.top, r.right, r.bottom};
    return true;
}

bool Win32Platform::IsWindow(WindowHandle window) { return window != 0 && ::IsWindow(ToHwnd(window)); }

WindowHandle Win32Platform::ForegroundWindow() { return FromHwnd(GetForegroundWindow()); }

void Win32Platform::EnableWindow(WindowHandle window, bool enable) { ::EnableWindow(ToHwnd(window), enable); }

int Win32Platform::ScreenWidth() { return GetSystemMetrics(SM_CXSCREEN); }
int Win32Platform::ScreenHeight() { return GetSystemMetrics(SM_CYSCREEN); }

Rect Win32Platform::VirtualScreen() {
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    return Rect{x, y, x + GetSystemMetrics(SM_CXVIRTUALSCREEN), y + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

std::vector<Monitor> Win32Platform::Monitors() {
    std::vector<Monitor> out;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR monitor, HDC, LPRECT, LPARAM list) -> BOOL {
            MONITORINFO info{};
            info.cbSize = sizeof info;
            if (GetMonitorInfoW(monitor, &info)) {
                const RECT& r = info.rcMonitor;
                reinterpret_cast<std::vector<Monitor>*>(list)->push_back(
                    Monitor{Rect{r.left, r.top, r.right, r.bottom}, (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

namespace {

UINT SystemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// Entry points of Windows 10 1607 and later (and of Wine), looked up so the
// saver still starts where they are missing.
template <typename Fn>
Fn User32Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

}  // namespace

void AdjustDialogRect(RECT& r, UINT dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Entry<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi && adjustForDpi(&r, kDialogStyle, FALSE, kDialogExStyle, dpi)) return;
    // Without it the frame is known at the system's dpi alone: scale it.
    const RECT client = r;
    AdjustWindowRectEx(&r, kDialogStyle, FALSE, kDialogExStyle);
    const int system = static_cast<int>(SystemDpi()), at = static_cast<int>(dpi);
    r.left = client.left - MulDiv(client.left - r.left, at, system);
    r.top = client.top - MulDiv(client.top - r.top, at, system);
    r.right = client.right + MulDiv(r.right - client.right, at, system);
    r.bottom = client.bottom + MulDiv(r.bottom - client.bottom, at, system);
}

UINT WindowDpi(HWND window) {
    using DpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto dpiForWindow = User32Entry<DpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = dpiForWindow ? dpiForWindow(window) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

// The core lays the dialog out in pixels at 96 dpi, so it is told the frame
// at 96 dpi; the dialog scales the layout and takes the real frame when it
// is shown.
void Win32Platform::DialogFrameSize(int& extraWidth, int& extraHeight) {
    RECT r{0, 0, 100, 100};
    AdjustDialogRect(r, 96);
    extraWidth = (r.right - r.left) - 100;
    extraHeight = (r.bottom - r.top) - 100;
}

int Win32Platform::ShowModal(ModalDialog& dialog) { return RunAboutDialog(*this, dialog); }

int Win32Platform::ShowCursor(bool show) { return ::ShowCursor(show ? TRUE : FALSE); }

DoubleClickLimits Win32Platform::SystemDoubleClickLimits() {
    return {GetDoubleClickTime(), GetSystemMetrics(SM_CXDOUBLECLK), GetSystemMetrics(SM_CYDOUBLECLK)};
}

// The tick count is the performance counter in milliseconds (which is what
// timeGetTime reads under Wine), so that a wait can aim at the exact start of
// a tick.
uint64_t Win32Platform::Counter() const {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<uint64_t>(c.QuadPart);
}

uint32_t Win32Platform::TickCount() { return static_cast<uint32_t>(MulDivDown(Counter(), 1000, counterFrequency_)); }

int64_t Win32Platform::HundredNsUntil(uint32_t due) const {
    const uint64_t now = Counter();
    const uint64_t ms = MulDivDown(now, 1000, counterFrequency_);
    const uint32_t tick = static_cast<uint32_t>(ms);
    if (TickReached(tick, due)) return 0;
    // The first count of the due tick, and the time from now to it.
    const uint64_t start = MulDivUp(ms + (due - tick), counterFrequency_, 1000);
    return static_cast<int64_t>(MulDivUp(start - now, 10000000, counterFrequency_));
}

std::optional<PlatformFamily> Win32Platform::PlatformId() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = 148;  // sizeof(OSVERSIONINFOA)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return std::nullopt;
#pragma GCC diagnostic pop
    return static_cast<PlatformFamily>(info.dwPlatformId);
}

void Win32Platform::SetScreenSaverRunning(bool running) {
    UINT previous = 0;
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, running ? 1 : 0, &previous, 0);
}

std::string Win32Platform::SystemDirectory() {
    char buffer[260];
    const UINT n = GetSystemDirectoryA(buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    return std::string(buffer, n);
}

namespace {

// A one-line file rewritten in place.
class Win32LineFile : public LineFile {
public:
    explicit Win32LineFile(HANDLE file) : file_(file) {}
    ~Win32LineFile() override { CloseHandle(file_); }
    void Rewrite(const std::string& line) override {
        DWORD written = 0;
        SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
        if (WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) SetEndOfFile(file_);
    }

private:
    HANDLE file_;
};

}  // namespace

std::unique_ptr<LineFile> Win32Platform::OpenFrameLog() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"QUELLORA_FRAME_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32LineFile>(file);
}

std::unique_ptr<Library> Win32Platform::LoadLibrary(const std::string& name) {
    HMODULE module = LoadLibraryA(name.c_str());
    if (!module) return nullptr;
    return std::make_unique<Win32Library>(module);
}

}  // namespace quellora::win32
