// The platform on Win32 and GDI: the message loop primitives, windows drawn
// with device-independent bitmaps, the real HKEY_CURRENT_USER and the host's
// libraries loaded for real. Every service of platform.h is the system's own
// here; none is left out.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The platform interface has members of these names.
#undef CreateWindow
#undef LoadLibrary

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/win32/win32_blit.h"

namespace quellora::win32 {

inline HWND ToHwnd(WindowHandle h) { return reinterpret_cast<HWND>(h); }
// Window handles are 32-bit values; the host passes them sign-extended.
inline WindowHandle FromHwnd(HWND h) {
    return static_cast<WindowHandle>(static_cast<int32_t>(reinterpret_cast<intptr_t>(h)));
}

class RegistryKeys : public KeyStore {
public:
    bool CreateKey(const std::string& path) override;
    bool KeyExists(const std::string& path) override;
    std::optional<KeyValue> ReadValue(const std::string& path, const std::string& name) override;
};

class Win32Platform : public Platform {
public:
    explicit Win32Platform(HINSTANCE instance);
    ~Win32Platform() override;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;

    HINSTANCE Instance() const { return instance_; }
    // The hidden top-level window that owns every pop-up of ours, so that
    // they get no taskbar entry of their own.
    HWND ApplicationWindow() const { return appWindow_; }
    // How frames go on screen (QUELLORA_BLIT, a knob of the measuring script).
    BlitMethod Blit() const { return blit_; }

    // Application object.
    void HideApplicationWindow() override;
    void SetApplicationTitle(const std::string& title) override;

    // Message loop primitives.
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;
    void PostQuit() override;
    bool QuitPosted() const override { return quit_; }

    // Windows.
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override;
    bool CanDrawInto(WindowHandle window) override { return IsWindow(window); }  // every window has a client area
    WindowHandle ForegroundWindow() override;
    void EnableWindow(WindowHandle window, bool enable) override;
    int ScreenWidth() override;
    int ScreenHeight() override;
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override;
    void DialogFrameSize(int& extraWidth, int& extraHeight) override;
    int ShowModal(ModalDialog& dialog) override;

    // System.
    int ShowCursor(bool show) override;
    DoubleClickLimits SystemDoubleClickLimits() override;
    uint32_t TickCount() override;
    std::optional<PlatformFamily> PlatformId() override;
    void SetScreenSaverRunning(bool running) override;
    std::string SystemDirectory() override;
    std::unique_ptr<Library> LoadLibrary(const std::string& name) override;
    KeyStore& Keys() override { return keys_; }
    std::unique_ptr<LineFile> OpenFrameLog() override;

private:
    // The performance counter, and how far it is from the start of the tick
    // `due` in 100-ns units (0 once the tick has been reached).
    uint64_t Counter() const;
    int64_t HundredNsUntil(uint32_t due) const;

    HINSTANCE instance_;
    HWND appWindow_ = nullptr;
    bool quit_ = false;
    uint64_t counterFrequency_ = 1000;
    BlitMethod blit_;
    RegistryKeys keys_;
};

// The About dialog's styles, shared by the dialog and the frame-size query.
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;

// Grows a client rectangle by the About dialog's frame (caption and borders)
// as the system draws it at `dpi`.
void AdjustDialogRect(RECT& r, UINT dpi);
// The dots per inch a window is shown at.
UINT WindowDpi(HWND window);

// Builds the About dialog from its model and runs it modally; returns the
// modal result (1 OK, 2 closed).
int RunAboutDialog(Win32Platform& platform, ModalDialog& dialog);

// Creates a saver window (win32_window.cpp).
std::unique_ptr<Window> MakeWindow(Win32Platform& platform, const WindowParams& params, WindowEvents& events);

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace quellora::win32
