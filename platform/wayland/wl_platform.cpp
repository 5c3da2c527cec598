// The Wayland platform: the connection and its globals, the outputs, the
// message loop primitives, cursor, clock and the frame log.
#include "platform/wayland/wl_platform.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fractional-scale-v1-client-protocol.h"
#include "platform/posix/clock.h"
#include "platform/wayland/wl_window.h"
#include "viewporter-client-protocol.h"
#include "platform/wayland/layer_shell.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quellora::wayland {

namespace {

[[noreturn]] void Die(const std::string& message) {
    std::fprintf(stderr, "quellora: %s\n", message.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

// --- output listeners --------------------------------------------------------

struct OutputContext {
    WlPlatform* p;
    WlOutput* o;
};

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
void OnOutputDone(void* data, wl_output*);

WlPlatform* g_platform = nullptr;

// What libwayland last had to say: kept for the one line of an error, never
// printed by itself.
std::string g_lastLog;

void KeepLog(const char* format, va_list args) {
    char buf[512];
    std::vsnprintf(buf, sizeof buf, format, args);
    g_lastLog = buf;
    while (!g_lastLog.empty() && (g_lastLog.back() == '\n' || g_lastLog.back() == ' ')) g_lastLog.pop_back();
}

const wl_output_listener kOutputListener = {OnGeometry, OnMode, OnOutputDone, OnScale, OnName, OnDescription};

void OnOutputDone(void* data, wl_output*) { g_platform->OutputDone(*static_cast<WlOutput*>(data)); }

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
void OnXdgDone(void* data, zxdg_output_v1*) { static_cast<WlOutput*>(data)->xdgDone = true; }
void OnXdgName(void* data, zxdg_output_v1*, const char* name) {
    auto* o = static_cast<WlOutput*>(data);
    if (o->name.empty()) o->name = name;
}
void OnXdgDescription(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener kXdgOutputListener = {OnXdgPosition, OnXdgSize, OnXdgDone, OnXdgName, OnXdgDescription};

// --- registry ----------------------------------------------------------------

void OnGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version) {
    static_cast<WlPlatform*>(data)->AddGlobal(name, interface, version);
}
void OnGlobalRemove(void* data, wl_registry*, uint32_t name) { static_cast<WlPlatform*>(data)->RemoveGlobal(name); }
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

void OnPing(void*, xdg_wm_base* base, uint32_t serial) { xdg_wm_base_pong(base, serial); }
const xdg_wm_base_listener kWmBaseListener = {OnPing};

}  // namespace

WlPlatform::WlPlatform(wl_display* display) : display_(display), keys_(posix::SettingsFile::DefaultFolder()) {
    g_platform = this;
    wl_log_set_handler_client(KeepLog);
    if (const char* only = std::getenv("SWAYLOCK_PLUGIN_OUTPUT_NAME")) onlyOutput_ = only;
    xkb_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &kRegistryListener, this);
    // The globals, then every output's description.
    if (wl_display_roundtrip(display_) < 0 || wl_display_roundtrip(display_) < 0) Lost();
    for (auto& o : outputs_)
        if (o->version < 2) OutputDone(*o);  // described in full by now
    if (!compositor_) Die("the Wayland compositor offers no wl_compositor");
    if (!shm_) Die("the Wayland compositor offers no wl_shm");
    if (!layerShell_ && !wmBase_) Die("the Wayland compositor offers neither zwlr_layer_shell_v1 nor xdg_wm_base");
    if (CoveredOutputs().empty())
        Die(onlyOutput_.empty() ? "the Wayland compositor has no output"
                                : "no Wayland output named " + onlyOutput_);
}

WlPlatform::~WlPlatform() {
    if (keyboard_) wl_keyboard_destroy(keyboard_);
    if (pointer_) wl_pointer_destroy(pointer_);
    if (xkbState_) xkb_state_unref(xkbState_);
    if (keymap_) xkb_keymap_unref(keymap_);
    if (xkb_) xkb_context_unref(xkb_);
    for (auto& o : outputs_) {
        if (o->xdg) zxdg_output_v1_destroy(o->xdg);
        wl_output_destroy(o->output);
    }
    // The globals' proxies: a disconnect leaves them to us.
    if (seat_) wl_seat_destroy(seat_);
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
    g_platform = nullptr;
}

void WlPlatform::AddGlobal(uint32_t name, const char* interface, uint32_t version) {
    const std::string i = interface;
    if (i == wl_compositor_interface.name) {
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry_, name, &wl_compositor_interface, std::min(version, 4u)));
    } else if (i == wl_subcompositor_interface.name) {
        subcompositor_ =
            static_cast<wl_subcompositor*>(wl_registry_bind(registry_, name, &wl_subcompositor_interface, 1));
    } else if (i == wl_shm_interface.name) {
        shm_ = static_cast<wl_shm*>(wl_registry_bind(registry_, name, &wl_shm_interface, 1));
    } else if (i == zwlr_layer_shell_v1_interface.name) {
        // QUELLORA_WAYLAND_SHELL=xdg: full-screen toplevels even where the layer shell is offered.
        const char* shell = std::getenv("QUELLORA_WAYLAND_SHELL");
        if (!(shell && std::strcmp(shell, "xdg") == 0))
            layerShell_ = static_cast<zwlr_layer_shell_v1*>(
                wl_registry_bind(registry_, name, &zwlr_layer_shell_v1_interface, std::min(version, 3u)));
    } else if (i == xdg_wm_base_interface.name) {
        wmBase_ = static_cast<xdg_wm_base*>(wl_registry_bind(registry_, name, &xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(wmBase_, &kWmBaseListener, this);
    } else if (i == wp_viewporter_interface.name) {
        viewporter_ = static_cast<wp_viewporter*>(wl_registry_bind(registry_, name, &wp_viewporter_interface, 1));
    } else if (i == wp_fractional_scale_manager_v1_interface.name) {
        fractionalScale_ = static_cast<wp_fractional_scale_manager_v1*>(
            wl_registry_bind(registry_, name, &wp_fractional_scale_manager_v1_interface, 1));
    } else if (i == zxdg_output_manager_v1_interface.name) {
        xdgOutputs_ = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry_, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
        for (auto& o : outputs_) AddXdgOutput(*o);
    } else if (i == wl_seat_interface.name && !seat_ && !PluginMode()) {
        // Under a lock screen the saver takes no input: it never binds the seat.
        seatName_ = name;
        seat_ = static_cast<wl_seat*>(wl_registry_bind(registry_, name, &wl_seat_interface, std::min(version, 5u)));
        static const wl_seat_listener kSeatListener = {
            [](void* data, wl_seat*, uint32_t caps) { static_cast<WlPlatform*>(data)->SetSeatCapabilities(caps); },
            [](void*, wl_seat*, const char*) {}};
        wl_seat_add_listener(seat_, &kSeatListener, this);
    } else if (i == wl_output_interface.name) {
        auto o = std::make_unique<WlOutput>();
        o->globalName = name;
        o->version = std::min(version, 4u);
        o->output = static_cast<wl_output*>(wl_registry_bind(registry_, name, &wl_output_interface, std::min(version, 4u)));
        wl_output_add_listener(o->output, &kOutputListener, o.get());
        if (xdgOutputs_) AddXdgOutput(*o);
        outputs_.push_back(std::move(o));
    }
}

void WlPlatform::AddXdgOutput(WlOutput& o) {
    if (o.xdg) return;
    o.xdg = zxdg_output_manager_v1_get_xdg_output(xdgOutputs_, o.output);
    zxdg_output_v1_add_listener(o.xdg, &kXdgOutputListener, &o);
}

void WlPlatform::RemoveGlobal(uint32_t name) {
    for (auto it = outputs_.begin(); it != outputs_.end(); ++it) {
        if ((*it)->globalName != name) continue;
        std::unique_ptr<WlOutput> gone = std::move(*it);
        outputs_.erase(it);
        if (window_) window_->OutputGone(*gone);
        if (gone->xdg) zxdg_output_v1_destroy(gone->xdg);
        wl_output_destroy(gone->output);
        OutputsChanged();
        return;
    }
    if (name == seatName_ && seat_) {
        SetSeatCapabilities(0);
        wl_seat_destroy(seat_);
        seat_ = nullptr;
    }
}

void WlPlatform::OutputDone(WlOutput& o) {
    const bool first = !o.done;
    o.done = true;
    if (!o.xdg) o.xdgDone = true;
    if (first || window_) OutputsChanged();
}

void WlPlatform::OutputsChanged() {
    if (window_) window_->MonitorsChanged();
}

std::vector<WlOutput*> WlPlatform::CoveredOutputs() const {
    std::vector<WlOutput*> out;
    for (const auto& o : outputs_)
        if (o->done && (onlyOutput_.empty() || o->name == onlyOutput_)) out.push_back(o.get());
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

std::unique_ptr<Window> WlPlatform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    if (window_ || params.parent || params.drawIntoParent) return nullptr;
    auto w = MakeWindow(*this, params, events);
    window_ = static_cast<WlWindow*>(w.get());
    return w;
}

bool WlPlatform::IsWindow(WindowHandle window) {
    return window_ && window == window_->Handle();
}

bool WlPlatform::GetWindowRect(WindowHandle window, Rect& out) {
    if (!IsWindow(window)) return false;
    out = window_->Placement();
    return true;
}

int WlPlatform::ShowCursor(bool show) {
    cursorCount_ += show ? 1 : -1;
    if (window_) window_->CursorChanged();
    return cursorCount_;
}

uint32_t WlPlatform::TickCount() { return posix::TickCount(); }

std::unique_ptr<LineFile> WlPlatform::OpenFrameLog() { return posix::OpenFrameLogOfEnvironment(); }

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

// Reads what the compositor sent within the timeout (or `wait`), without
// dispatching; true when something was read.
bool WlPlatform::ReadEvents(int timeoutMs, const timespec* wait) {
    if (window_) window_->PresentPainted();
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0) Lost();
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        Lost();
    }
    pollfd pfd{wl_display_get_fd(display_), POLLIN, 0};
    const int ready = wait ? ppoll(&pfd, 1, wait, nullptr) : poll(&pfd, 1, timeoutMs);
    if (ready <= 0) {
        wl_display_cancel_read(display_);
        return false;
    }
    if (pfd.revents & (POLLERR | POLLHUP) && !(pfd.revents & POLLIN)) {
        wl_display_cancel_read(display_);
        Lost();
    }
    if (wl_display_read_events(display_) < 0) Lost();
    return true;
}

bool WlPlatform::ProcessOneMessage() {
    int n = wl_display_dispatch_pending(display_);
    if (n < 0) Lost();
    if (n > 0) return true;
    ReadEvents(0, nullptr);
    n = wl_display_dispatch_pending(display_);
    if (n < 0) Lost();
    if (n > 0) return true;
    // Like WM_PAINT: the marked parts are painted once the queue is empty.
    if (!window_ || !window_->PaintIfDirty()) return false;
    window_->PresentPainted();
    return true;
}

void WlPlatform::WaitUntil(std::optional<uint32_t> dueTick) {
    if (window_) window_->PresentPainted();
    if (quit_) return;
    if (wl_display_dispatch_pending(display_) < 0) Lost();
    if (window_ && window_->Dirty()) return;
    if (!dueTick) {
        ReadEvents(-1, nullptr);
        return;
    }
    const auto wait = posix::TimeUntilTick(*dueTick);
    if (!wait) return;
    ReadEvents(0, &*wait);
}

}  // namespace quellora::wayland
