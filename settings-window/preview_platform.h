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

#include "platform/dirty_region.h"
#include "platform/platform.h"
#include "platform/posix/desktop_platform.h"
#include "settings-window/preview_picture.h"

namespace quellora::settings_window {

// What a Linux desktop answers for the rest (posix/desktop_platform.h).
class PreviewPlatform : public posix::DesktopPlatform {
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
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;
    void PostQuit() override;
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override { return window && window == kHandle && window_; }
    bool CanDrawInto(WindowHandle window) override { return IsWindow(window); }
    int ScreenWidth() override { return Primary().Width(); }
    int ScreenHeight() override { return Primary().Height(); }
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override { return monitors_; }
    // Asked like the X11 saver: no host password service.
    std::optional<PlatformFamily> PlatformId() override { return PlatformFamily::X11; }
    // The settings as the window has them, saved or not.
    KeyStore& Keys() override { return keys_; }

    // Used by the window object it hands out.
    class PreviewWindow;
    void Forget(PreviewWindow* window);
    void Invalidate(const Rect* r);
    void PaintNow(const Rect* r);
    void Place(const Rect& r);

private:
    static constexpr WindowHandle kHandle = 0x5EE;
    Rect Primary() const;
    Rect Client() const { return Rect{0, 0, windowRect_.Width(), windowRect_.Height()}; }
    void Refit();
    void Paint(const Rect& clip);
    void CursorChanged() override {}  // the preview has no pointer of its own

    KeyStore& keys_;
    std::vector<Monitor> monitors_;
    int areaW_ = 1, areaH_ = 1;
    Rect windowRect_;
    PreviewPicture picture_;
    PreviewWindow* window_ = nullptr;
    WindowEvents* events_ = nullptr;
    DirtyRegion dirty_;  // the preview is always shown
    std::vector<GPollFD> fds_;
};

}  // namespace quellora::settings_window
