// The platform on a Wayland compositor, for the full-screen saver alone: one
// window of platform.h owns a surface per output (a layer-shell overlay, or a
// full-screen xdg_toplevel where the compositor offers no layer shell), drawn
// from one 1-bit picture of the whole window into wl_shm buffers; outputs
// (and their changes, reported to the core) come from
// wl_output and xdg-output in device pixels (posix/output_layout.h places
// them); the keyboard and the pointer come through wl_seat, except under a
// lock screen, where the saver takes no input.
//
// What the other modes need (a host's window to draw into, the About dialog)
// stays on X11: CreateWindow makes nothing but the saver's own window here.
// Services of platform.h without an equivalent are as on X11: there are no
// host libraries, no system flag and no window manager to ask.
#pragma once

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/output_layout.h"
#include "platform/posix/settings_file.h"

struct zwlr_layer_shell_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct xdg_wm_base;
struct wp_viewporter;
struct wp_fractional_scale_manager_v1;

namespace quellora::wayland {

class WlWindow;

// An output as the compositor has described it so far.
struct WlOutput {
    uint32_t globalName = 0;
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    std::string name;
    posix::OutputDescription desc;
    uint32_t version = 0;
    bool done = false;     // wl_output.done came at least once (version 1 has none)
    bool xdgDone = false;  // the logical position is known (or never will be)
};

class WlPlatform : public Platform {
public:
    // Takes over an open connection; ends the process with one line on
    // stderr when a global the saver cannot do without is missing.
    explicit WlPlatform(wl_display* display);
    ~WlPlatform() override;
    WlPlatform(const WlPlatform&) = delete;
    WlPlatform& operator=(const WlPlatform&) = delete;

    // The globals, for the window.
    wl_display* Display() const { return display_; }
    wl_compositor* Compositor() const { return compositor_; }
    wl_shm* Shm() const { return shm_; }
    wl_subcompositor* Subcompositor() const { return subcompositor_; }
    zwlr_layer_shell_v1* LayerShell() const { return layerShell_; }
    xdg_wm_base* WmBase() const { return wmBase_; }
    wp_viewporter* Viewporter() const { return viewporter_; }
    wp_fractional_scale_manager_v1* FractionalScale() const { return fractionalScale_; }
    // Under a lock screen's plugin host (SWAYLOCK_PLUGIN_OUTPUT_NAME): one
    // output, and no input at all.
    bool PluginMode() const { return !onlyOutput_.empty(); }
    // The outputs the saver covers, in the order of Monitors().
    std::vector<WlOutput*> CoveredOutputs() const;
    bool CursorHidden() const { return cursorCount_ < 0; }
    // The window's coordinate space changed (an output came or went).
    void OutputsChanged();

    // Dispatching failed: says why in one line and ends the process.
    [[noreturn]] void Lost();

    // Application object.
    void HideApplicationWindow() override {}
    void SetApplicationTitle(const std::string&) override {}

    // Message loop primitives.
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;
    void PostQuit() override { quit_ = true; }
    bool QuitPosted() const override { return quit_; }

    // Windows.
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override;
    bool CanDrawInto(WindowHandle window) override { return IsWindow(window); }
    WindowHandle ForegroundWindow() override { return 0; }
    void EnableWindow(WindowHandle, bool) override {}
    int ScreenWidth() override;
    int ScreenHeight() override;
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override;
    void DialogFrameSize(int& extraWidth, int& extraHeight) override { extraWidth = extraHeight = 0; }
    int ShowModal(ModalDialog&) override { return 0; }

    // System.
    int ShowCursor(bool show) override;
    DoubleClickLimits SystemDoubleClickLimits() override { return {500, 8, 8}; }
    uint32_t TickCount() override;
    std::optional<PlatformFamily> PlatformId() override { return PlatformFamily::X11; }
    void SetScreenSaverRunning(bool) override {}
    std::string SystemDirectory() override { return {}; }
    std::unique_ptr<Library> LoadLibrary(const std::string&) override { return nullptr; }
    KeyStore& Keys() override { return keys_; }
    std::unique_ptr<LineFile> OpenFrameLog() override;

    // Registry and output listeners (wl_platform.cpp), seat ones (wl_input.cpp).
    void AddGlobal(uint32_t name, const char* interface, uint32_t version);
    void RemoveGlobal(uint32_t name);
    void AddXdgOutput(WlOutput& o);
    void OutputDone(WlOutput& o);
    void SetSeatCapabilities(uint32_t caps);
    void Unregister(WlWindow* w) {
        if (window_ == w) window_ = nullptr;
    }

    // Input state, read by wl_input.cpp.
    wl_seat* seat_ = nullptr;
    wl_keyboard* keyboard_ = nullptr;
    wl_pointer* pointer_ = nullptr;
    xkb_context* xkb_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* xkbState_ = nullptr;
    uint32_t buttons_ = 0;  // kLeftButton, kRightButton, kMiddleButton held
    WlWindow* window_ = nullptr;

private:
    bool ReadEvents(int timeoutMs, const timespec* wait);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_subcompositor* subcompositor_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    wp_viewporter* viewporter_ = nullptr;
    wp_fractional_scale_manager_v1* fractionalScale_ = nullptr;
    zxdg_output_manager_v1* xdgOutputs_ = nullptr;
    uint32_t seatName_ = 0;
    std::vector<std::unique_ptr<WlOutput>> outputs_;
    std::string onlyOutput_;  // SWAYLOCK_PLUGIN_OUTPUT_NAME: cover this output alone
    bool quit_ = false;
    int cursorCount_ = 0;
    posix::SettingsFile keys_;
};

// The saver's own window (wl_window.cpp).
std::unique_ptr<Window> MakeWindow(WlPlatform& platform, const WindowParams& params, WindowEvents& events);

// The shift state of the keyboard's modifiers and the held buttons.
uint32_t ShiftState(WlPlatform& p);

}  // namespace quellora::wayland
