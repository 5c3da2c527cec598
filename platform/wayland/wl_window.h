// The saver's window on Wayland: one surface per covered output, each showing
// its part of one picture of the whole window (the core's coordinates). The
// core paints into that picture; every output's part then goes to a wl_shm
// buffer the compositor is not holding, or waits for one to come back.
// wl_input.cpp reports keys, motion and presses in the window's coordinates.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/wayland/wl_platform.h"

struct zwlr_layer_surface_v1;
struct xdg_surface;
struct xdg_toplevel;
struct wp_viewport;

namespace quellora::wayland {

class WlWindow;

// A shared-memory buffer of one output's surface.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    size_t bytes = 0;
    int width = 0, height = 0;
    bool busy = false;  // the compositor holds it
    Rect stale;         // what changed since it was last written, in the output's device pixels
};

// One output's surface.
struct OutputSurface {
    WlWindow* window = nullptr;
    WlOutput* output = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wp_viewport* viewport = nullptr;
    Rect rect;                            // its place in the window, in device pixels
    int logicalWidth = 0, logicalHeight = 0;  // as configured
    bool configured = false;
    bool waiting = false;  // a part is ready but every buffer is held
    ShmBuffer buffers[2];
};

class WlWindow final : public quellora::Window {
public:
    WlWindow(WlPlatform& p, const WindowParams& params, WindowEvents& events);
    ~WlWindow() override;

    // quellora::Window
    WindowHandle Handle() const override { return 1; }
    void Show() override;
    void Invalidate(const Rect* r) override;
    void PaintNow(const Rect* r) override;
    Rect ClientRect() const override { return Rect{0, 0, w_, h_}; }
    void SetCrossCursorRects(const std::vector<Rect>&) override {}
    void SetPlacement(const Rect& r) override;

    // For the platform.
    Rect Placement() const { return Rect{x_, y_, x_ + w_, y_ + h_}; }
    bool PaintIfDirty();
    bool Dirty() const { return visible_ && !dirty_.Empty(); }
    void OutputsChanged();
    // An output came, went or changed: its surfaces follow, and the core
    // lays the viewports out again.
    void MonitorsChanged();
    void OutputGone(WlOutput& o);
    void CursorChanged();

    // Surface callbacks.
    void Configured(OutputSurface& s, int logicalWidth, int logicalHeight);
    void Closed(OutputSurface& s);
    void Released(wl_buffer* buffer);
    // Copies what changed of `s`'s part into a free buffer and commits it.
    void Present(OutputSurface& s);

    // Input (wl_input.cpp).
    OutputSurface* SurfaceOf(wl_surface* surface);
    // Where the pointer is, in the window's coordinates; `moved`: report the
    // motion to the core.
    void PointerAt(OutputSurface* s, double sx, double sy, uint32_t shift, bool moved);
    void Button(MouseButton button, uint32_t shift, uint32_t time);
    void Key(bool down, uint16_t vk, uint32_t shift);
    void PointerEntered(wl_pointer* pointer, uint32_t serial);

    // The picture of the whole window, 0x00RRGGBB, w_ x h_.
    std::vector<uint32_t> picture_;
    int w_ = 0, h_ = 0;

private:
    void Paint(const Rect& clip);
    void AddSurface(WlOutput& o);
    void DropSurface(OutputSurface& s);
    void Damage(const Rect& r);

    WlPlatform& p_;
    WindowEvents& events_;
    int x_ = 0, y_ = 0;  // the window's top-left corner in the monitors' coordinates
    bool visible_ = false;
    Rect dirty_;
    std::vector<std::unique_ptr<OutputSurface>> surfaces_;
    wl_pointer* pointer_ = nullptr;
    uint32_t enterSerial_ = 0;
    int lastX_ = 0, lastY_ = 0;
};

}  // namespace quellora::wayland
