// The saver's window on Wayland: one surface per covered output, each showing
// its part of the window (the core's coordinates). The core paints into a
// 1-bit picture of the window, which notes the rows that changed; each
// surface's buffers take only those rows, expanded straight into their
// wl_shm pixels, and the surface is damaged there alone. A buffer is written
// only once the compositor has released it.
// wl_input.cpp reports keys, motion and presses in the window's coordinates.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "moire/bitmap1.h"
#include "platform/platform.h"
#include "platform/wayland/rows.h"
#include "platform/wayland/wl_platform.h"

struct zwlr_layer_surface_v1;
struct xdg_surface;
struct xdg_toplevel;
struct wp_viewport;
struct wp_fractional_scale_v1;

namespace quellora::wayland {

class WlWindow;

// A shared-memory buffer of one surface.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    size_t bytes = 0;
    int width = 0, height = 0;
    bool busy = false;  // the compositor holds it
    RowChanges stale;   // what changed since it was last written, in its pixels
};

// A part of a surface's buffer that shows the window: `dst` in the buffer's
// pixels, its top-left corner showing the window's (srcX, srcY). Black
// elsewhere.
struct Piece {
    Rect dst;
    int srcX = 0, srcY = 0;
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
    wp_fractional_scale_v1* fractional = nullptr;
    int preferredScale = 0;                 // wp_fractional_scale_v1's, in 120ths; 0: none said
    Rect rect;                              // its output's monitor in the window, in device pixels
    int pendingWidth = 0, pendingHeight = 0;  // the toplevel's configure, until the surface's
    bool pendingFullscreen = false;
    // A surface shows frames once it is in its place (a toplevel full screen
    // or given a size) and the compositor has answered; before that it is
    // mapped with one transparent pixel (`placeholder`), so no frame shows
    // with the pointer's image over it before the pointer enters.
    bool settled = false;
    wl_callback* settling = nullptr;
    ShmBuffer placeholder;
    // A toplevel's subsurface of one transparent pixel (see AddSurface).
    wl_surface* marker = nullptr;
    wl_subsurface* subsurface = nullptr;
    ShmBuffer markerBuffer;
    int configWidth = 0, configHeight = 0;  // the last configure's size, logical; 0: ours to choose
    bool configured = false;
    // What it shows: its logical size (the viewport's destination), its
    // buffers' size, and where the window lies in them.
    int logicalWidth = 0, logicalHeight = 0;
    int bufferWidth = 0, bufferHeight = 0;
    int bufferScale = 1;  // without a viewport
    bool sizePending = false;  // the size changed: told with the next buffer
    std::vector<Piece> pieces;
    RowChanges sinceCommit;  // the damage of the next commit, in buffer pixels
    bool damageAll = true;
    bool waiting = false;  // a change is ready but every buffer is held
    int bufferCount = 2;   // a third once the compositor held both
    ShmBuffer buffers[3];
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
    // What the paints since the last call changed, one commit per surface:
    // the core paints a frame viewport by viewport, and a surface that shows
    // several outputs (a whole-layout toplevel) would otherwise be committed
    // once for each. The platform calls it before it flushes or waits.
    void PresentPainted();
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
    void ScalePreferred(OutputSurface& s, int scale120);
    void ShowPlaceholder(OutputSurface& s);
    void Settle(OutputSurface& s);
    void Settled(OutputSurface& s);

    // Input (wl_input.cpp).
    OutputSurface* SurfaceOf(wl_surface* surface);
    // Where the pointer is, in the window's coordinates; `moved`: report the
    // motion to the core.
    void PointerAt(OutputSurface* s, double sx, double sy, uint32_t shift, bool moved);
    void Button(MouseButton button, uint32_t shift, uint32_t time);
    void Key(bool down, uint16_t vk, uint32_t shift);
    void PointerEntered(wl_pointer* pointer, uint32_t serial);

    // What the core painted: 1 bit a pixel, w_ x h_, and the rows that
    // changed since the surfaces last took them.
    Bitmap1 picture_;
    RowChanges changed_;
    int w_ = 0, h_ = 0;

private:
    void Paint(const Rect& clip);
    void AddSurface(WlOutput& o);
    void DropSurface(OutputSurface& s);
    // Works out what `s` shows from its output and its configure; a change
    // makes its buffers stale whole.
    void Place(OutputSurface& s);
    // Hands the window's changes to every surface's buffers.
    void TakeChanges();
    // Brings a free buffer up to date and commits it, when anything changed;
    // false when it committed nothing.
    bool Present(OutputSurface& s);
    // Writes the rows of `b` that are stale.
    void WriteRows(OutputSurface& s, ShmBuffer& b);

    WlPlatform& p_;
    WindowEvents& events_;
    int x_ = 0, y_ = 0;  // the window's top-left corner in the monitors' coordinates
    bool visible_ = false;
    Rect dirty_;
    bool painted_ = false;  // painted since the surfaces were last presented
    std::vector<std::unique_ptr<OutputSurface>> surfaces_;
    wl_pointer* pointer_ = nullptr;
    uint32_t enterSerial_ = 0;
    bool entered_ = false;
    int lastX_ = 0, lastY_ = 0;
};

}  // namespace quellora::wayland
