// The Wayland platform: the connection and its globals, the outputs and
// whether they are on, the message loop primitives, cursor, clock and the
// frame log.
#include "platform/wayland/wl_platform.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef QUELLORA_KDE_DPMS
#include "dpms-client-protocol.h"
#endif
#include "fractional-scale-v1-client-protocol.h"
#include "platform/posix/clock.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wl_power.h"
#include "platform/wayland/wl_seat.h"
#include "platform/wayland/wl_window.h"
#include "presentation-time-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "wlr-output-power-management-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quellora::wayland {

namespace {

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "quellora: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

// What libwayland last had to say: kept for the one line of an error, never
// printed by itself.
std::string g_lastLog;

void KeepLog(const char* format, va_list args) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    g_lastLog = buf;
    while (!g_lastLog.empty() && (g_lastLog.back() == '\n' || g_lastLog.back() == ' ')) g_lastLog.pop_back();
}

// --- output listeners: they record, and say when an output is described ----

void OnGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*, const char*,
                int32_t transform) {
    auto* o = static_cast<WlOutput*>(data);
    if (!o->xdg) {
        o->desc.logicalX = x;
        o->desc.logicalY = y;
    }
    o->desc.transform = transform;
}

void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto* o = static_cast<WlOutput*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        o->desc.modeWidth = width;
        o->desc.modeHeight = height;
    }
}

void OnScale(void* data, wl_output*, int32_t factor) { static_cast<WlOutput*>(data)->desc.scale = std::max(1, factor); }
void OnName(void* data, wl_output*, const char* name) { static_cast<WlOutput*>(data)->name = name; }
void OnDescription(void*, wl_output*, const char*) {}

void OnOutputDone(void* data, wl_output*) {
    auto* o = static_cast<WlOutput*>(data);
    o->wlDone = true;
    o->platform->OutputDescribed(*o);
}

const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnOutputDone, OnScale, OnName, OnDescription};

void OnXdgPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* o = static_cast<WlOutput*>(data);
    o->desc.logicalX = x;
    o->desc.logicalY = y;
}
void OnXdgSize(void* data, zxdg_output_v1*, int32_t w, int32_t h) {
    auto* o = static_cast<WlOutput*>(data);
    o->desc.logicalWidth = w;
    o->desc.logicalHeight = h;
}
void OnXdgDone(void* data, zxdg_output_v1*) {
    // Before version 3 the logical place comes after wl_output.done, and
    // this is what says it came (at the start and after every change).
    auto* o = static_cast<WlOutput*>(data);
    o->xdgDone = true;
    if (o->xdgVersion < 3) o->platform->OutputDescribed(*o);
}
void OnXdgName(void* data, zxdg_output_v1*, const char* name) {
    auto* o = static_cast<WlOutput*>(data);
    if (o->name.empty()) o->name = name;
}
void OnXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutputListener = {OnXdgPosition, OnXdgSize, OnXdgDone, OnXdgName, OnXdgDescription};

void AddXdgOutput(zxdg_output_manager_v1* manager, WlOutput& o) {
    if (o.xdg) return;
    o.xdgVersion = zxdg_output_manager_v1_get_version(manager);
    o.xdg = zxdg_output_manager_v1_get_xdg_output(manager, o.output);
    zxdg_output_v1_add_listener(o.xdg, &kXdgOutputListener, &o);
}

// --- registry ----------------------------------------------------------------

void OnGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
    static_cast<WlPlatform*>(data)->AddGlobal(name, interface, version);
}
void OnGlobalRemove(void* data, wl_registry*, uint32_t name) { static_cast<WlPlatform*>(data)->RemoveGlobal(name); }
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {OnPing};

template <typename T>
T* Bind(wl_registry* registry, uint32_t name, const wl_interface& interface, uint32_t version) {
    return static_cast<T*>(wl_registry_bind(registry, name, &interface, version));
}

}  // namespace

WlPlatform::WlPlatform(wl_display* display) : display_(display) {
    wl_log_set_handler_client(KeepLog);
    if (const char* only = std::getenv("SWAYLOCK_PLUGIN_OUTPUT_NAME")) onlyOutput_ = only;
    measuring_ = std::getenv("QUELLORA_FRAME_LOG") != nullptr;
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // The globals, then every output's description.
    if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) Lost();
    if (!compositor_) Die("the Wayland compositor offers no wl_compositor");
    if (!shm_) Die("the Wayland compositor offers no wl_shm");
    if (!layerShell_ && !wmBase_) Die("the Wayland compositor offers neither zwlr_layer_shell_v1 nor xdg_wm_base");
    if (CoveredOutputs().empty())
        Die(onlyOutput_.empty() ? "the Wayland compositor has no output"
                                : "no Wayland output named " + onlyOutput_);
    // Mutter offers no power protocol: its display configuration on the
    // session bus says when it has put the monitors to power saving.
    if (mutterShell_ && !powerManager_ && !dpmsManager_) mutterBus_ = MutterBus::Open(*this);
}

WlPlatform::~WlPlatform() {
    seat_.reset();
    mutterBus_.reset();
    for (auto& o : outputs_) {
        ForgetPower(*o);
        if (o->xdg) zxdg_output_v1_destroy(o->xdg);
        wl_output_destroy(o->output);
    }
    // The globals' proxies: a disconnect leaves them to us.
    if (powerManager_) zwlr_output_power_manager_v1_destroy(powerManager_);
#ifdef QUELLORA_KDE_DPMS
    if (dpmsManager_) org_kde_kwin_dpms_manager_destroy(dpmsManager_);
#endif
    if (presentation_) wp_presentation_destroy(presentation_);
    if (xdgOutputs_) zxdg_output_manager_v1_destroy(xdgOutputs_);
    if (fractionalScale_) wp_fractional_scale_manager_v1_destroy(fractionalScale_);
    if (viewporter_) wp_viewporter_destroy(viewporter_);
    if (wmBase_) xdg_wm_base_destroy(wmBase_);
    if (layerShell_) zwlr_layer_shell_v1_destroy(layerShell_);
    if (shm_) wl_shm_destroy(shm_);
    if (subcompositor_) wl_subcompositor_destroy(subcompositor_);
    if (compositor_) wl_compositor_destroy(compositor_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WlPlatform::AddGlobal(uint32_t name, const char* interface, uint32_t version) {
    const std::string i = interface;
    if (i == wl_compositor_interface.name) {
        compositor_ = Bind<wl_compositor>(registry_, name, wl_compositor_interface, std::min(version, 4u));
    } else if (i == wl_subcompositor_interface.name) {
        subcompositor_ = Bind<wl_subcompositor>(registry_, name, wl_subcompositor_interface, 1);
    } else if (i == wl_shm_interface.name) {
        shm_ = Bind<wl_shm>(registry_, name, wl_shm_interface, 1);
    } else if (i == zwlr_layer_shell_v1_interface.name) {
        // QUELLORA_WAYLAND_SHELL=xdg: full-screen toplevels even where the layer shell is offered.
        const char* shell = std::getenv("QUELLORA_WAYLAND_SHELL");
        if (!(shell && std::strcmp(shell, "xdg") == 0))
            layerShell_ = Bind<zwlr_layer_shell_v1>(registry_, name, zwlr_layer_shell_v1_interface, std::min(version, 3u));
    } else if (i == xdg_wm_base_interface.name) {
        wmBase_ = Bind<xdg_wm_base>(registry_, name, xdg_wm_base_interface, 1);
        xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
    } else if (i == wp_viewporter_interface.name) {
        viewporter_ = Bind<wp_viewporter>(registry_, name, wp_viewporter_interface, 1);
    } else if (i == wp_fractional_scale_manager_v1_interface.name) {
        fractionalScale_ =
            Bind<wp_fractional_scale_manager_v1>(registry_, name, wp_fractional_scale_manager_v1_interface, 1);
    } else if (i == wp_presentation_interface.name && measuring_) {
        presentation_ = Bind<wp_presentation>(registry_, name, wp_presentation_interface, 1);
    } else if (i == "gtk_shell1") {
        mutterShell_ = true;
    } else if (i == zxdg_output_manager_v1_interface.name) {
        xdgOutputs_ = Bind<zxdg_output_manager_v1>(registry_, name, zxdg_output_manager_v1_interface, std::min(version, 3u));
        for (auto& o : outputs_) AddXdgOutput(xdgOutputs_, *o);
    } else if (i == zwlr_output_power_manager_v1_interface.name) {
        powerManager_ = Bind<zwlr_output_power_manager_v1>(registry_, name, zwlr_output_power_manager_v1_interface, 1);
        for (auto& o : outputs_) WatchPower(*o);
#ifdef QUELLORA_KDE_DPMS
    } else if (i == org_kde_kwin_dpms_manager_interface.name) {
        dpmsManager_ = Bind<org_kde_kwin_dpms_manager>(registry_, name, org_kde_kwin_dpms_manager_interface, 1);
        for (auto& o : outputs_) WatchPower(*o);
#endif
    } else if (i == wl_seat_interface.name && !seat_ && !PluginMode()) {
        // Under a lock screen the saver takes no input: it never binds the seat.
        seat_ = std::make_unique<WlSeat>(*this, Bind<wl_seat>(registry_, name, wl_seat_interface, std::min(version, 5u)),
                                         name);
    } else if (i == wl_output_interface.name) {
        auto o = std::make_unique<WlOutput>();
        o->platform = this;
        o->globalName = name;
        o->version = std::min(version, 4u);
        o->output = Bind<wl_output>(registry_, name, wl_output_interface, o->version);
        wl_output_add_listener(o->output, &kOutputListener, o.get());
        if (xdgOutputs_) AddXdgOutput(xdgOutputs_, *o);
        WatchPower(*o);
        outputs_.push_back(std::move(o));
    }
}

void WlPlatform::WatchPower(WlOutput& o) {
    if (powerManager_)
        WatchWlrPower(powerManager_, o);
    else if (dpmsManager_)
        WatchKdeDpms(dpmsManager_, o);
}

void WlPlatform::RemoveGlobal(uint32_t name) {
    for (auto it = outputs_.begin(); it != outputs_.end(); ++it) {
        if ((*it)->globalName != name) continue;
        std::unique_ptr<WlOutput> gone = std::move(*it);
        outputs_.erase(it);
        if (window_) window_->OutputGone(*gone);
        ForgetPower(*gone);
        if (gone->xdg) zxdg_output_v1_destroy(gone->xdg);
        wl_output_destroy(gone->output);
        if (window_) window_->MonitorsChanged();
        return;
    }
    if (seat_ && name == seat_->GlobalName()) seat_.reset();
}

void WlPlatform::OutputDescribed(WlOutput& o) {
    // Only a whole description counts; version 1 has no done at all and is
    // described once the roundtrips of the start are over.
    if (o.Described() && window_) window_->MonitorsChanged();
}

void WlPlatform::PowerChanged() {
    if (window_) window_->PowerChanged();
}

void WlPlatform::LeaveOverview() {
    if (mutterBus_) mutterBus_->LeaveOverview();
}

bool WlPlatform::OutputOn(const WlOutput& o) const { return o.on && !(mutterBus_ && mutterBus_->Off()); }

std::vector<WlOutput*> WlPlatform::CoveredOutputs() const {
    std::vector<WlOutput*> out;
    for (const auto& o : outputs_)
        if (o->Described() && (onlyOutput_.empty() || o->name == onlyOutput_)) out.push_back(o.get());
    return out;
}

std::vector<Monitor> WlPlatform::Monitors() {
    std::vector<posix::OutputDescription> descs;
    for (WlOutput* o : CoveredOutputs()) descs.push_back(o->desc);
    return posix::LayOutOutputs(descs);
}

int WlPlatform::ScreenWidth() {
    for (const Monitor& m : Monitors())
        if (m.primary) return m.rect.Width();
    return 0;
}

int WlPlatform::ScreenHeight() {
    for (const Monitor& m : Monitors())
        if (m.primary) return m.rect.Height();
    return 0;
}

Rect WlPlatform::VirtualScreen() {
    Rect all;
    for (const Monitor& m : Monitors()) all = Union(all, m.rect);
    return all;
}

std::unique_ptr<quellora::Window> WlPlatform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    if (window_ || params.parent || params.drawIntoParent) return nullptr;
    auto w = MakeWindow(*this, params, events);
    window_ = static_cast<WlWindow*>(w.get());
    return w;
}

bool WlPlatform::IsWindow(WindowHandle window) { return window_ && window == window_->Handle(); }

bool WlPlatform::GetWindowRect(WindowHandle window, Rect& out) {
    if (!IsWindow(window)) return false;
    out = window_->Placement();
    return true;
}

void WlPlatform::CursorChanged() {
    if (seat_) seat_->ApplyCursor();
}

void WlPlatform::Lost() {
    const int code = wl_display_get_error(display_);
    if (code == EPROTO) {
        const wl_interface* iface = nullptr;
        uint32_t id = 0;
        const uint32_t error = wl_display_get_protocol_error(display_, &iface, &id);
        char buf[160];
        std::snprintf(buf, sizeof buf, "Wayland protocol error %u on %s@%u", error, iface ? iface->name : "?", id);
        // libwayland's own words carry the compositor's message.
        Die(g_lastLog.empty() ? std::string(buf) : "Wayland protocol error: " + g_lastLog);
    }
    Die("lost the connection to the Wayland compositor");
}

void WlPlatform::Poll(const timespec* wait) {
    // What is due goes out first: the window's frames, then every request.
    for (;;) {
        if (window_) window_->Pass();
        if (wl_display_prepare_read(display_) == 0) break;
        if (wl_display_dispatch_pending(display_) < 0) Lost();
    }
    bool unsent = false;
    if (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            wl_display_cancel_read(display_);
            Lost();
        }
        unsent = true;  // the socket is full: the rest goes once it can take it
    }
    pollfd fds[2] = {{wl_display_get_fd(display_), static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0},
                     {-1, 0, 0}};
    timespec until{};
    const timespec* timeout = wait;
    if (mutterBus_) {
        fds[1] = {mutterBus_->Fd(), mutterBus_->Events(), 0};
        if (const int ms = mutterBus_->TimeoutMs(); ms >= 0) {
            until = timespec{ms / 1000, (ms % 1000) * 1000000L};
            if (!wait || until.tv_sec < wait->tv_sec || (until.tv_sec == wait->tv_sec && until.tv_nsec < wait->tv_nsec))
                timeout = &until;
        }
    }
    const int ready = ppoll(fds, mutterBus_ ? 2 : 1, timeout, nullptr);
    if (ready < 0 && errno != EINTR) {
        wl_display_cancel_read(display_);
        Lost();
    }
    if (ready > 0 && (fds[0].revents & POLLOUT) && wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        Lost();
    }
    if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP)) && !(fds[0].revents & POLLIN)) {
        wl_display_cancel_read(display_);
        Lost();
    }
    if (ready > 0 && (fds[0].revents & POLLIN)) {
        if (wl_display_read_events(display_) < 0) Lost();
    } else {
        wl_display_cancel_read(display_);
    }
    if (mutterBus_) mutterBus_->Process();
}

bool WlPlatform::ProcessOneMessage() {
    int n = wl_display_dispatch_pending(display_);
    if (n < 0) Lost();
    if (n > 0) return true;
    const timespec now{0, 0};
    Poll(&now);
    n = wl_display_dispatch_pending(display_);
    if (n < 0) Lost();
    if (n > 0) return true;
    // Like WM_PAINT: the marked parts are painted once the queue is empty.
    return window_ && window_->PaintIfDirty();
}

void WlPlatform::WaitUntil(std::optional<uint32_t> dueTick) {
    const int n = wl_display_dispatch_pending(display_);
    if (n < 0) Lost();
    // What was just dispatched may have ended the saver or marked a paint.
    if (n > 0 || quit_ || (window_ && window_->Dirty())) return;
    if (!dueTick) {
        Poll(nullptr);
        return;
    }
    const auto wait = posix::TimeUntilTick(*dueTick);
    if (!wait) return;
    Poll(&*wait);
}

}  // namespace quellora::wayland
