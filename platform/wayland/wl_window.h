// The saver's window on Wayland: one surface per covered output, each showing
// its part of the window (the core's coordinates). The core paints into a
// 1-bit picture of the window, which notes the rows that changed; the black
// around the picture is one black pixel stretched over the output, and the
// picture comes from buffers of its own size on a subsurface wherever its
// place is whole in device pixels (else one buffer of the output's size shows
// both). A buffer takes only the rows that changed, expanded straight into its
// wl_shm pixels, and is written only once the compositor has released it; a
// surface gets its next frame only once the compositor has shown the last
// one, and an output the compositor has switched off gets none.
//
// The listeners only record (a configure, a frame shown, a buffer released,
// an output switched on); one pass before the loop sends its requests acks,
// plans and presents what is due.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "moire/bitmap1.h"
#include "platform/dirty_region.h"
#include "platform/platform.h"
#include "platform/posix/surface_plan.h"
#include "platform/wayland/rows.h"
#include "platform/wayland/shm_pool.h"
#include "platform/wayland/wl_platform.h"

struct zwlr_layer_surface_v1;
struct xdg_surface;
struct xdg_toplevel;
struct wp_viewport;
struct wp_fractional_scale_v1;
struct wp_presentation_feedback;

namespace quellora::wayland {

class WlWindow;

// A surface that shows part of the window from buffers of its own: an
// output's surface, or the picture's subsurface on it.
struct Canvas {
    explicit Canvas(wl_shm* shm) : pool(shm) {}
    wl_surface* surface = nullptr;
    wp_viewport* viewport = nullptr;
    BufferPool pool;
    // What it shows: its logical size (the viewport's destination), its
    // buffers' size (at bufferScale without a viewport) and where the
    // window lies in them; one black pixel instead where `black`.
    int logicalWidth = 0, logicalHeight = 0;
    int bufferWidth = 0, bufferHeight = 0, bufferScale = 1;
    bool black = false;
    std::vector<posix::Piece> pieces;
    RowChanges damage;         // what changed since the last commit, in buffer pixels
    bool damageAll = true;
    bool sizePending = true;   // its size goes with the next buffer
    wl_callback* frame = nullptr;  // the last commit, not shown yet

    bool Changed() const { return damageAll || !damage.Empty(); }
};

// Where an output's surface is in its life.
enum class Stage {
    Configuring,  // its role made; the compositor's first configure is to come
    Placeholder,  // mapped with a transparent pixel until it is full screen (a toplevel)
    Settling,     // in its place; frames once the compositor has answered what came before
    Showing,      // frames
};

// One output's surface and what hangs on it.
struct OutputSurface {
    explicit OutputSurface(wl_shm* shm) : base(shm) {}
    WlWindow* window = nullptr;
    WlOutput* output = nullptr;
    Stage stage = Stage::Configuring;
    zwlr_layer_surface_v1* layer = nullptr;
    xdg_surface* xdgSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    wp_fractional_scale_v1* fractional = nullptr;
    int preferredScale = 0;  // wp_fractional_scale_v1's, in 120ths; 0: none said
    // The compositor's last configure, recorded by its listener and acked,
    // applied and answered by the next pass.
    struct Configure {
        bool pending = false;
        uint32_t serial = 0;
        int width = 0, height = 0;
        bool fullscreen = false;
    } configure, toplevelState;  // toplevelState: the toplevel's part, until its xdg_surface's configure
    bool on = true;           // its output was on at the last look
    int configWidth = 0, configHeight = 0;  // the configure applied, logical; 0: ours to choose
    bool replan = true;       // its output, the window or the picture's place changed
    bool mustCommit = false;  // an acked configure or a new subsurface place, not yet committed
    wl_callback* settling = nullptr;
    Rect rect;                // its output's monitor in the window, in device pixels
    posix::SurfacePlan plan;
    Canvas base;                     // the surface itself
    std::unique_ptr<Canvas> picture;  // the picture's subsurface, where the plan has one
    wl_subsurface* pictureRole = nullptr;
    // A toplevel carries a subsurface of one transparent pixel (see Plan).
    wl_surface* marker = nullptr;
    wl_subsurface* markerRole = nullptr;
    // Holding a toplevel's own output: the outputs its surface is on (the
    // compositor's enter and leave), since when it is not where it belongs,
    // and how often it was asked back since.
    std::vector<wl_output*> on_;
    uint32_t astraySince = 0;
    bool astray = false;
    int askedBack = 0;
    bool askBack = false;  // the monitors changed: full screen on its own output again
    // Frames shown, and whether the pointer came over it (see Present).
    int framesShown = 0;
    bool pointerCame = false;
    std::unique_ptr<ShmBuffer> placeholder;  // without a viewport: transparent, of the surface's size
};

class WlWindow final : public quellora::Window {
public:
    // How often a toplevel astray is asked back before it is made anew.
    static constexpr int kMostAsksBack = 2;

    WlWindow(WlPlatform& p, const WindowParams& params, WindowEvents& events);
    ~WlWindow() override;

    // quellora::Window
    WindowHandle Handle() const override { return reinterpret_cast<WindowHandle>(this); }
    void Show() override;
    void Invalidate(const Rect* r) override;
    void PaintNow(const Rect* r) override;
    Rect ClientRect() const override { return Rect{0, 0, w_, h_}; }
    // The display image's rectangles: where the picture lies, black around.
    void SetCrossCursorRects(const std::vector<Rect>& rects) override;
    void SetPlacement(const Rect& r) override;

    // For the platform.
    Rect Placement() const { return Rect{x_, y_, x_ + w_, y_ + h_}; }
    bool PaintIfDirty();
    // A dark window is a hidden one: nothing is painted while every output is off.
    bool Dirty() const { return dirty_.Pending(visible_ && !Dark()); }
    // Acks, plans and presents what is due, on every surface.
    void Pass();
    // An output came, went or changed: the core lays the viewports out
    // again, and the surfaces follow in the next pass.
    void MonitorsChanged();
    void OutputGone(WlOutput& o);
    // An output was switched off or on.
    void PowerChanged();

    // What the listeners record.
    void Configured(OutputSurface& s, uint32_t serial, int width, int height);
    void Closed(OutputSurface& s);
    void ScalePreferred(OutputSurface& s, int scale120);
    void SurfaceEntered(OutputSurface& s, wl_output* o, bool entered);
    void Answered(struct wp_presentation_feedback* f);

    // Input, from the seat: where the pointer is on one of the surfaces (in
    // its logical pixels), taken into the window's coordinates; `moved`:
    // report the motion to the core.
    void PointerAt(OutputSurface& s, double sx, double sy, uint32_t shift, bool moved);
    void Button(MouseButton button, uint32_t shift, uint32_t time);
    void Key(bool down, uint16_t vk, uint32_t shift);

private:
    friend class PictureSurface;

    // Every covered output dark: nothing is painted or shown until one is on.
    bool Dark() const;
    void Paint(const Rect& clip);
    void SurfacesFollowOutputs();
    void AddSurface(WlOutput& o);
    void DropSurface(OutputSurface& s);
    // The configure of the pass: acked, applied, and the surface mapped.
    void ApplyConfigure(OutputSurface& s);
    // Maps the surface with a transparent pixel; false when there is no memory for it.
    bool ShowPlaceholder(OutputSurface& s);
    void Settle(OutputSurface& s);
    // Works out what `s` shows; a change makes its buffers stale whole.
    void Plan(OutputSurface& s);
    // A toplevel full screen on an output not its own, or at another size,
    // is asked back; one that stays astray is made anew.
    void HoldOutput(OutputSurface& s, uint32_t now);
    void Present(OutputSurface& s, uint32_t now);
    void PresentCanvas(OutputSurface& s, Canvas& c, uint32_t now);
    // Hands the window's changes to every canvas's buffers.
    void TakeChanges();
    // Writes the rows of `b` that are stale.
    void WriteRows(const Canvas& c, ShmBuffer& b);
    void Shape(Canvas& c, int logicalWidth, int logicalHeight, int bufferWidth, int bufferHeight, int bufferScale,
               bool black, std::vector<posix::Piece> pieces);
    void Unmake(Canvas& c);

    WlPlatform& p_;
    WindowEvents& events_;
    int x_ = 0, y_ = 0;  // the window's top-left corner in the monitors' coordinates
    int w_ = 0, h_ = 0;
    bool visible_ = false;
    bool dark_ = false;  // every output was off at the last look
    DirtyRegion dirty_;
    // What the core painted: 1 bit a pixel, w_ x h_, and the rows that
    // changed since the surfaces last took them.
    Bitmap1 picture_;
    RowChanges changed_;
    std::vector<Rect> pictures_;  // where the picture lies
    std::unique_ptr<ShmBuffer> blackPixel_, clearPixel_;
    std::vector<std::unique_ptr<OutputSurface>> surfaces_;
    int lastX_ = 0, lastY_ = 0;  // where the pointer was last, in the window
    // When frames were presented, asked for the measuring scripts.
    static constexpr size_t kMostFeedbacks = 64;
    std::vector<struct wp_presentation_feedback*> feedbacks_;
};

}  // namespace quellora::wayland
