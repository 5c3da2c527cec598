// The Win32 platform: application window, message loop primitives, screen
// metrics, system queries and host libraries.
#include "platform/win32/win32_platform.h"

#include <mmsystem.h>

#include <cstdio>


namespace quellora::win32 {

namespace {

constexpr wchar_t kApplicationClass[] = L"QuelloraApplication";


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

Win32Platform::Win32Platform(HINSTANCE instance) : instance_(instance) {
    // One tick is one millisecond, for the waits as much as for the clock.
    timeBeginPeriod(1);

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

void Win32Platform::WaitForMessage(std::optional<uint32_t> timeoutMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs ? static_cast<DWORD>(*timeoutMs) : INFINITE,
                              QS_ALLINPUT);
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

void Win32Platform::DialogFrameSize(int& extraWidth, int& extraHeight) {
    RECT r{0, 0, 100, 100};
    AdjustWindowRectEx(&r, kDialogStyle, FALSE, kDialogExStyle);
    extraWidth = (r.right - r.left) - 100;
    extraHeight = (r.bottom - r.top) - 100;
}

int Win32Platform::ShowModal(ModalDialog& dialog) { return RunAboutDialog(*this, dialog); }

int Win32Platform::ShowCursor(bool show) { return ::ShowCursor(show ? TRUE : FALSE); }

DoubleClickLimits Win32Platform::SystemDoubleClickLimits() {
    return {GetDoubleClickTime(), GetSystemMetrics(SM_CXDOUBLECLK), GetSystemMetrics(SM_CYDOUBLECLK)};
}

uint32_t Win32Platform::TickCount() { return timeGetTime(); }

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
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32LineFile>(file);
}

std::unique_ptr<Library> Win32Platform::LoadLibrary(const std::string& name) {
    HMODULE module = LoadLibraryA(name.c_str());
    if (!module) return nullptr;
    return std::make_unique<Win32Library>(module);
}

}  // namespace quellora::win32
