// The platform on a Wayland compositor, for the full-screen saver alone: one
// window of platform.h owns a surface per output (a layer-shell overlay, or a
// full-screen xdg_toplevel where the compositor offers no layer shell), drawn
// from one 1-bit picture of the whole window into wl_shm buffers; outputs
// (and their changes, reported to the core) come from wl_output and
// xdg-output in device pixels (posix/output_layout.h places them), and
// whether each is on from the compositor's power protocol (or Mutter's
// display configuration on the session bus); the keyboard and the pointer
// come through wl_seat, except under a lock screen, where the saver takes no
// input.
//
// What the other modes need (a host's window to draw into, the About dialog)
// stays on X11: CreateWindow makes nothing but the saver's own window here.
// What it shares with the X11 host, the services only Windows has among
// them, is posix/desktop_platform.h's.
#pragma once

#include <wayland-client.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/desktop_platform.h"
#include "platform/posix/output_layout.h"

struct zwlr_layer_shell_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;
struct xdg_wm_base;
struct wp_viewporter;
struct wp_fractional_scale_manager_v1;
struct wp_presentation;
struct zwlr_output_power_manager_v1;
struct zwlr_output_power_v1;
struct org_kde_kwin_dpms_manager;
struct org_kde_kwin_dpms;

namespace quellora::wayland {

class WlWindow;
class WlSeat;
class WlPlatform;
class MutterBus;

// An output as the compositor has described it so far.
struct WlOutput {
    WlPlatform* platform = nullptr;
    uint32_t globalName = 0;
    wl_output* output = nullptr;
    uint32_t version = 0;
    zxdg_output_v1* xdg = nullptr;
    uint32_t xdgVersion = 0;
    std::string name;
    posix::OutputDescription desc;
    bool wlDone = false;   // wl_output.done came at least once (version 1 has none)
    bool xdgDone = false;  // zxdg_output_v1.done came at least once (version 3 sends none)
    // Whether the compositor says it is on (the power protocols' word).
    bool on = true;
    zwlr_output_power_v1* power = nullptr;
    org_kde_kwin_dpms* dpms = nullptr;
    bool dpmsSupported = false;
    uint32_t dpmsMode = 0;

    // Described in full: its wl_output's description and, before xdg-output
    // 3, its logical place, which comes after wl_output.done.
    bool Described() const {
        return (wlDone || version < 2) && (!xdg || xdgVersion >= 3 || xdgDone);
    }
};

class WlPlatform : public posix::DesktopPlatform {
public:
    // Takes over an open connection; ends the process with one line on
    // stderr when a global the saver cannot do without is missing.
    explicit WlPlatform(wl_display* display);
    ~WlPlatform() override;

    // The globals, for the window.
    wl_display* Display() const { return display_; }
    wl_compositor* Compositor() const { return compositor_; }
    wl_shm* Shm() const { return shm_; }
    wl_subcompositor* Subcompositor() const { return subcompositor_; }
    zwlr_layer_shell_v1* LayerShell() const { return layerShell_; }
    xdg_wm_base* WmBase() const { return wmBase_; }
    wp_viewporter* Viewporter() const { return viewporter_; }
    wp_fractional_scale_manager_v1* FractionalScale() const { return fractionalScale_; }
    // Offered and asked for only while the measuring scripts keep a frame
    // log: the window asks it when each frame was presented, for them to read.
    wp_presentation* Presentation() const { return presentation_; }
    WlWindow* Window() const { return window_; }
    WlSeat* Seat() const { return seat_.get(); }
    // Under a lock screen's plugin host (SWAYLOCK_PLUGIN_OUTPUT_NAME): one
    // output, and no input at all.
    bool PluginMode() const { return !onlyOutput_.empty(); }
    // The outputs the saver covers, in the order of Monitors().
    std::vector<WlOutput*> CoveredOutputs() const;
    // Whether the compositor has the output on (its display not in power saving).
    bool OutputOn(const WlOutput& o) const;
    // GNOME Shell's Overview closed, so that the saver shows whole.
    void LeaveOverview();
    // Mutter, which needs telling more than other compositors.
    bool IsMutter() const { return mutterShell_; }

    // Dispatching failed: says why in one line and ends the process.
    [[noreturn]] void Lost();

    // Message loop primitives.
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;

    // Windows.
    std::unique_ptr<quellora::Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override;
    bool CanDrawInto(WindowHandle window) override { return IsWindow(window); }
    int ScreenWidth() override;
    int ScreenHeight() override;
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override;

    std::optional<PlatformFamily> PlatformId() override { return PlatformFamily::Wayland; }

    // What the listeners of wl_platform.cpp and wl_power.cpp report.
    void AddGlobal(uint32_t name, const char* interface, uint32_t version);
    void RemoveGlobal(uint32_t name);
    void OutputDescribed(WlOutput& o);
    void PowerChanged();
    void Unregister(WlWindow* w) {
        if (window_ == w) window_ = nullptr;
    }

private:
    void CursorChanged() override;
    void WatchPower(WlOutput& o);
    // Presents what is due, sends it and waits for the compositor (and the
    // bus) until `wait` (nullptr: for ever; zero: not at all).
    void Poll(const timespec* wait);

    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    wl_subcompositor* subcompositor_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    xdg_wm_base* wmBase_ = nullptr;
    wp_viewporter* viewporter_ = nullptr;
    wp_fractional_scale_manager_v1* fractionalScale_ = nullptr;
    wp_presentation* presentation_ = nullptr;
    zxdg_output_manager_v1* xdgOutputs_ = nullptr;
    zwlr_output_power_manager_v1* powerManager_ = nullptr;
    org_kde_kwin_dpms_manager* dpmsManager_ = nullptr;
    bool mutterShell_ = false;  // gtk_shell1: Mutter, whose power state is on the session bus
    std::unique_ptr<MutterBus> mutterBus_;
    std::unique_ptr<WlSeat> seat_;
    std::vector<std::unique_ptr<WlOutput>> outputs_;
    WlWindow* window_ = nullptr;
    std::string onlyOutput_;  // SWAYLOCK_PLUGIN_OUTPUT_NAME: cover this output alone
    bool measuring_ = false;  // QUELLORA_FRAME_LOG is set
};

// The saver's own window (wl_window.cpp).
std::unique_ptr<quellora::Window> MakeWindow(WlPlatform& platform, const WindowParams& params, WindowEvents& events);

}  // namespace quellora::wayland
