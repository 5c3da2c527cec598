// The platform the preview's saver window runs on: the settings window's
// GLib main loop is its message loop (the core's own loop drives it and
// keeps the frames' pace), the monitors are the real ones, and its one window
// is the preview's picture. The saver window is the one `quellora /s` makes,
// so the preview shows the very frames the saver would, made small.
#pragma once

#include <glib.h>

#include <functional>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "settings-window/preview_picture.h"

namespace quellora::settings_window {

class PreviewPlatform : public Platform {
public:
    explicit PreviewPlatform(KeyStore& keys);
    ~PreviewPlatform() override;

    // The monitors the saver would cover, in device pixels, the primary's
    // corner at (0, 0). The saver window hears of a change from its owner.
    void SetMonitors(std::vector<Monitor> monitors);
    // The area the preview may fill, in device pixels: the picture fits it.
    void SetArea(int width, int height);
    const PreviewPicture& Picture() const { return picture_; }
    // Called after a paint changed the picture.
    std::function<void()> onPicture;

    // --- Platform ----------------------------------------------------------
    void HideApplicationWindow() override {}
    void SetApplicationTitle(const std::string&) override {}
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;
    void PostQuit() override;
    bool QuitPosted() const override { return quit_; }
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override { return window && window == kHandle && window_; }
    bool CanDrawInto(WindowHandle window) override { return IsWindow(window); }
    WindowHandle ForegroundWindow() override { return 0; }
    void EnableWindow(WindowHandle, bool) override {}
    int ScreenWidth() override { return Primary().Width(); }
    int ScreenHeight() override { return Primary().Height(); }
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override { return monitors_; }
    void DialogFrameSize(int& w, int& h) override { w = h = 0; }
    int ShowModal(ModalDialog&) override { return 0; }
    int ShowCursor(bool show) override { return cursorCount_ += show ? 1 : -1; }
    DoubleClickLimits SystemDoubleClickLimits() override { return {}; }
    uint32_t TickCount() override;
    // Asked like the X11 saver: no host password service.
    std::optional<PlatformFamily> PlatformId() override { return PlatformFamily::X11; }
    void SetScreenSaverRunning(bool) override {}
    std::string SystemDirectory() override { return {}; }
    std::unique_ptr<Library> LoadLibrary(const std::string&) override { return nullptr; }
    KeyStore& Keys() override { return keys_; }
    // The frame log the measuring scripts ask for (QUELLORA_FRAME_LOG): the
    // preview's frames.
    std::unique_ptr<LineFile> OpenFrameLog() override;

    // Used by the window object it hands out.
    class PreviewWindow;
    void Forget(PreviewWindow* window);
    void Invalidate(const Rect* r);
    void PaintNow(const Rect* r);
    void Place(const Rect& r);

private:
    static constexpr WindowHandle kHandle = 0x5EE;
    Rect Primary() const;
    void Refit();
    void Paint(const Rect& clip);

    KeyStore& keys_;
    std::vector<Monitor> monitors_;
    int areaW_ = 1, areaH_ = 1;
    Rect windowRect_;
    PreviewPicture picture_;
    PreviewWindow* window_ = nullptr;
    WindowEvents* events_ = nullptr;
    Rect invalid_;
    bool quit_ = false;
    int cursorCount_ = 0;
    std::vector<GPollFD> fds_;
};

}  // namespace quellora::settings_window
