// The saver's window on Wayland: its surfaces, one per output, the 1-bit
// picture they show parts of, and the pass that brings them up to date.
#include "platform/wayland/wl_window.h"

#include <algorithm>
#include <cstring>

#include "fractional-scale-v1-client-protocol.h"
#include "platform/wayland/layer_shell.h"
#include "platform/wayland/wl_seat.h"
#include "presentation-time-client-protocol.h"
#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quellora::wayland {

using posix::Piece;

// Drawing into the window's picture, inside the part being painted; every
// row notes the columns that changed.
class PictureSurface : public Surface {
public:
    PictureSurface(WlWindow& w, const Rect& clip) : w_(w), clip_(Intersect(clip, w.ClientRect())) {}

    void FillBlack(const Rect& r) override {
        const Rect c = Intersect(r, clip_);
        for (int y = c.top; y < c.bottom; ++y) {
            const Span s = FillBits(w_.picture_.Row(y), c.left, c.Width(), true);
            w_.changed_.Add(y, s.lo, s.hi);
        }
    }

    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) override {
        const Rect c = Intersect(Rect{dx, dy, dx + w, dy + h}, clip_);
        for (int y = c.top; y < c.bottom; ++y) {
            const Span s = PutBits(w_.picture_.Row(y), c.left, picture.Row(sy + (y - dy)), picture.WordsPerRow(),
                                   sx + (c.left - dx), c.Width());
            w_.changed_.Add(y, s.lo, s.hi);
        }
    }

    // The preview's grey sample never shows here (the preview stays on
    // X11): a grey is kept as the nearer of black and white.
    void PutGrey(const GreyPicture& picture, int px, int py) override {
        if (picture.Empty()) return;
        const Rect c = Intersect(Rect{px, py, px + picture.width, py + picture.height}, clip_);
        for (int y = c.top; y < c.bottom; ++y)
            for (int x = c.left; x < c.right; ++x) {
                const bool black = picture.LevelAt(x - px, y - py) < 128;
                if (w_.picture_.Get(x, y) == black) continue;
                w_.picture_.Set(x, y, black);
                w_.changed_.Add(y, x, x + 1);
            }
    }

private:
    WlWindow& w_;
    Rect clip_;
};

namespace {

// --- listeners: they record, the pass acts --------------------------------------

OutputSurface* Of(void* data) { return static_cast<OutputSurface*>(data); }

const zwlr_layer_surface_v1_listener kLayerListener = {
    [](void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t w, uint32_t h) {
        Of(data)->window->Configured(*Of(data), serial, static_cast<int>(w), static_cast<int>(h));
    },
    [](void* data, zwlr_layer_surface_v1*) { Of(data)->window->Closed(*Of(data)); }};

void OnToplevelConfigure(void* data, xdg_toplevel*, int32_t w, int32_t h, wl_array* states) {
    OutputSurface::Configure& t = Of(data)->toplevelState;
    t.width = w;
    t.height = h;
    t.fullscreen = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
        if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) t.fullscreen = true;
}

const xdg_toplevel_listener kToplevelListener = {
    OnToplevelConfigure, [](void* data, xdg_toplevel*) { Of(data)->window->Closed(*Of(data)); },
    [](void*, xdg_toplevel*, int32_t, int32_t) {}, [](void*, xdg_toplevel*, wl_array*) {}};

const xdg_surface_listener kXdgSurfaceListener = {[](void* data, xdg_surface*, uint32_t serial) {
    OutputSurface& s = *Of(data);
    s.window->Configured(s, serial, s.toplevelState.width, s.toplevelState.height);
}};

const wl_surface_listener kSurfaceListener = {
    [](void* data, wl_surface*, wl_output* o) { Of(data)->window->SurfaceEntered(*Of(data), o, true); },
    [](void* data, wl_surface*, wl_output* o) { Of(data)->window->SurfaceEntered(*Of(data), o, false); }};

const wp_fractional_scale_v1_listener kFractionalListener = {[](void* data, wp_fractional_scale_v1*, uint32_t scale) {
    Of(data)->window->ScalePreferred(*Of(data), static_cast<int>(scale));
}};

// The compositor has shown the canvas's last commit: the next may go.
const wl_callback_listener kFrameListener = {[](void* data, wl_callback* cb, uint32_t) {
    static_cast<Canvas*>(data)->frame = nullptr;
    wl_callback_destroy(cb);
}};

// The compositor has answered everything sent before the surface was in its
// place (the pointer's enter among it): frames may show.
const wl_callback_listener kSettledListener = {[](void* data, wl_callback* cb, uint32_t) {
    Of(data)->settling = nullptr;
    Of(data)->stage = Stage::Showing;
    wl_callback_destroy(cb);
}};

// Asked only for the measuring scripts, which read the answers off the wire.
const wp_presentation_feedback_listener kFeedbackListener = {
    [](void*, struct wp_presentation_feedback*, wl_output*) {},
    [](void* data, struct wp_presentation_feedback* f, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
       uint32_t) { static_cast<WlWindow*>(data)->Answered(f); },
    [](void* data, struct wp_presentation_feedback* f) { static_cast<WlWindow*>(data)->Answered(f); }};

// A buffer of `n` x `n` pixels of one colour.
std::unique_ptr<ShmBuffer> Pixels(wl_shm* shm, int n, uint32_t format, uint32_t pixel) {
    auto b = MakeShmBuffer(shm, n, n, format);
    if (b) std::fill(b->pixels, b->pixels + n * n, pixel);
    return b;
}

}  // namespace

WlWindow::WlWindow(WlPlatform& p, const WindowParams& params, WindowEvents& events)
    : p_(p), events_(events), x_(params.x), y_(params.y) {
    w_ = std::max(1, params.width);
    h_ = std::max(1, params.height);
    picture_.Resize(w_, h_);
    picture_.Fill(true);
    changed_.Resize(h_);
    if (params.shownAtCreation) Show();
}

WlWindow::~WlWindow() {
    for (auto* f : feedbacks_) wp_presentation_feedback_destroy(f);
    while (!surfaces_.empty()) DropSurface(*surfaces_.back());
    if (blackPixel_) FreeShmBuffer(*blackPixel_);
    if (clearPixel_) FreeShmBuffer(*clearPixel_);
    p_.Unregister(this);
    wl_display_flush(p_.Display());
}

void WlWindow::Show() {
    if (!visible_) {
        visible_ = true;
        p_.LeaveOverview();
        SurfacesFollowOutputs();
    }
    dirty_.Mark(nullptr, ClientRect());
    events_.OnActivate();
}

// --- surfaces ----------------------------------------------------------------------

void WlWindow::SurfacesFollowOutputs() {
    if (!visible_) return;
    const std::vector<WlOutput*> outputs = p_.CoveredOutputs();
    const std::vector<Monitor> monitors = p_.Monitors();
    for (size_t i = 0; i < outputs.size() && i < monitors.size(); ++i) {
        auto it = std::find_if(surfaces_.begin(), surfaces_.end(),
                               [&](const std::unique_ptr<OutputSurface>& s) { return s->output == outputs[i]; });
        if (it == surfaces_.end()) {
            AddSurface(*outputs[i]);
            it = surfaces_.end() - 1;
        }
        const Rect r = monitors[i].rect;
        (*it)->rect = Rect{r.left - x_, r.top - y_, r.right - x_, r.bottom - y_};
    }
    // Every surface again: a toplevel over every output shows the others' too;
    // and every toplevel asks again to be full screen on its own output,
    // which a compositor may have moved it off (Mutter, when a monitor came).
    for (auto& s : surfaces_) {
        s->replan = true;
        s->askBack = s->toplevel != nullptr;
    }
    dark_ = Dark();
}

void WlWindow::MonitorsChanged() {
    // The core places the window and its viewports first (SetPlacement), then
    // the surfaces follow, once.
    if (!visible_) return;
    events_.OnMonitorsChanged();
    SurfacesFollowOutputs();
}

void WlWindow::AddSurface(WlOutput& o) {
    auto owned = std::make_unique<OutputSurface>(p_.Shm());
    OutputSurface& s = *owned;
    s.window = this;
    s.output = &o;
    s.on = p_.OutputOn(o);
    s.base.surface = wl_compositor_create_surface(p_.Compositor());
    // The seat finds the surface it is over by its user data.
    wl_surface_add_listener(s.base.surface, &kSurfaceListener, &s);
    if (p_.Viewporter()) s.base.viewport = wp_viewporter_get_viewport(p_.Viewporter(), s.base.surface);
    if (p_.Viewporter() && p_.FractionalScale()) {
        s.fractional = wp_fractional_scale_manager_v1_get_fractional_scale(p_.FractionalScale(), s.base.surface);
        wp_fractional_scale_v1_add_listener(s.fractional, &kFractionalListener, &s);
    }
    if (p_.LayerShell()) {
        s.layer = zwlr_layer_shell_v1_get_layer_surface(p_.LayerShell(), s.base.surface, o.output,
                                                        ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "quellora");
        zwlr_layer_surface_v1_set_anchor(s.layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                      ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(s.layer, -1);
        // Under a lock screen the keyboard is the lock screen's: none here.
        zwlr_layer_surface_v1_set_keyboard_interactivity(s.layer, p_.PluginMode() ? 0 : 1);
        zwlr_layer_surface_v1_add_listener(s.layer, &kLayerListener, &s);
    } else {
        s.xdgSurface = xdg_wm_base_get_xdg_surface(p_.WmBase(), s.base.surface);
        xdg_surface_add_listener(s.xdgSurface, &kXdgSurfaceListener, &s);
        s.toplevel = xdg_surface_get_toplevel(s.xdgSurface);
        xdg_toplevel_add_listener(s.toplevel, &kToplevelListener, &s);
        xdg_toplevel_set_title(s.toplevel, "Quellora");
        xdg_toplevel_set_app_id(s.toplevel, "quellora");
        xdg_toplevel_set_fullscreen(s.toplevel, o.output);
    }
    // The first commit, without a buffer: the compositor answers with a configure.
    wl_surface_commit(s.base.surface);
    surfaces_.push_back(std::move(owned));
}

void WlWindow::Unmake(Canvas& c) {
    if (c.frame) wl_callback_destroy(c.frame);
    if (c.viewport) wp_viewport_destroy(c.viewport);
    if (c.surface) wl_surface_destroy(c.surface);
    c.frame = nullptr;
    c.viewport = nullptr;
    c.surface = nullptr;
}

void WlWindow::DropSurface(OutputSurface& s) {
    if (p_.Seat()) p_.Seat()->Forget(&s);
    if (s.pictureRole) wl_subsurface_destroy(s.pictureRole);
    if (s.picture) Unmake(*s.picture);
    if (s.markerRole) wl_subsurface_destroy(s.markerRole);
    if (s.marker) wl_surface_destroy(s.marker);
    if (s.settling) wl_callback_destroy(s.settling);
    if (s.placeholder) FreeShmBuffer(*s.placeholder);
    if (s.fractional) wp_fractional_scale_v1_destroy(s.fractional);
    if (s.layer) zwlr_layer_surface_v1_destroy(s.layer);
    if (s.toplevel) xdg_toplevel_destroy(s.toplevel);
    if (s.xdgSurface) xdg_surface_destroy(s.xdgSurface);
    Unmake(s.base);
    surfaces_.erase(std::remove_if(surfaces_.begin(), surfaces_.end(),
                                   [&s](const std::unique_ptr<OutputSurface>& u) { return u.get() == &s; }),
                    surfaces_.end());
}

void WlWindow::OutputGone(WlOutput& o) {
    for (auto& s : surfaces_)
        if (s->output == &o) {
            DropSurface(*s);
            return;
        }
}

void WlWindow::Closed(OutputSurface& s) {
    if (s.toplevel) {
        events_.OnCloseRequest();
        return;
    }
    DropSurface(s);
    // Under a lock screen the compositor closing the saver's surface ends it.
    if (p_.PluginMode() && surfaces_.empty()) events_.OnCloseRequest();
}

void WlWindow::Configured(OutputSurface& s, uint32_t serial, int width, int height) {
    s.configure = OutputSurface::Configure{true, serial, width, height, s.toplevel && s.toplevelState.fullscreen};
}

void WlWindow::SurfaceEntered(OutputSurface& s, wl_output* o, bool entered) {
    s.on_.erase(std::remove(s.on_.begin(), s.on_.end(), o), s.on_.end());
    if (entered) s.on_.push_back(o);
}

void WlWindow::ScalePreferred(OutputSurface& s, int scale120) {
    if (scale120 == s.preferredScale) return;
    s.preferredScale = scale120;
    s.replan = true;
}

void WlWindow::PowerChanged() {
    for (auto& s : surfaces_) {
        const bool on = p_.OutputOn(*s->output);
        if (on && !s->on) {
            // On again: the frame of the moment at once, not after a frame
            // callback that a dark output may never have answered.
            for (Canvas* c : {&s->base, s->picture.get()}) {
                if (!c) continue;
                if (c->frame) wl_callback_destroy(c->frame);
                c->frame = nullptr;
                c->damageAll = true;
            }
        }
        s->on = on;
    }
    // Nothing is drawn while every output is dark, and the core's pacer
    // sleeps; once one is on, the whole picture of the moment.
    const bool dark = Dark();
    if (dark == dark_) return;
    dark_ = dark;
    if (!dark) dirty_.Mark(nullptr, ClientRect());
    events_.OnSeenChanged(!dark);
}

bool WlWindow::Dark() const {
    if (!visible_ || surfaces_.empty()) return false;
    return std::none_of(surfaces_.begin(), surfaces_.end(),
                        [this](const std::unique_ptr<OutputSurface>& s) { return p_.OutputOn(*s->output); });
}

// --- the pass -----------------------------------------------------------------------

void WlWindow::Pass() {
    const uint32_t now = p_.TickCount();
    // Toplevels that stayed astray, made anew.
    std::vector<WlOutput*> remake;
    for (auto& owned : surfaces_)
        if (owned->toplevel && owned->askedBack > kMostAsksBack) remake.push_back(owned->output);
    for (WlOutput* o : remake) {
        const auto it = std::find_if(surfaces_.begin(), surfaces_.end(),
                                     [o](const std::unique_ptr<OutputSurface>& s) { return s->output == o; });
        const Rect rect = (*it)->rect;
        DropSurface(**it);
        AddSurface(*o);
        surfaces_.back()->rect = rect;
        surfaces_.back()->replan = true;
    }
    for (auto& owned : surfaces_) {
        OutputSurface& s = *owned;
        if (s.configure.pending) ApplyConfigure(s);
        HoldOutput(s, now);
        if (s.replan && s.stage != Stage::Configuring) Plan(s);
        if (s.stage == Stage::Showing && p_.OutputOn(*s.output)) Present(s, now);
        if (s.mustCommit) {
            wl_surface_commit(s.base.surface);
            s.mustCommit = false;
        }
        s.base.pool.Trim(s.base.bufferWidth, s.base.bufferHeight, now);
        if (s.picture) s.picture->pool.Trim(s.picture->bufferWidth, s.picture->bufferHeight, now);
    }
}

void WlWindow::HoldOutput(OutputSurface& s, uint32_t now) {
    if (!s.toplevel || s.stage != Stage::Showing) return;
    auto askBack = [&] {
        xdg_toplevel_set_fullscreen(s.toplevel, s.output->output);
        s.mustCommit = true;
    };
    if (s.askBack) {
        s.askBack = false;
        askBack();
    }
    if (s.plan.regions.size() > 1) return;  // one toplevel over every output (cage)
    // Where it belongs: its own output, at that output's size.
    const posix::OutputDescription& d = s.output->desc;
    int w = 0, h = 0;
    posix::OutputSurfaceSize(posix::PlanOutput{s.rect, d.logicalX, d.logicalY, d.logicalWidth, d.logicalHeight, d.scale},
                             w, h);
    const bool own = std::find(s.on_.begin(), s.on_.end(), s.output->output) != s.on_.end();
    const bool elsewhere = std::any_of(s.on_.begin(), s.on_.end(), [&](wl_output* o) { return o != s.output->output; });
    const bool resized = s.configWidth > 0 && s.configHeight > 0 && (s.configWidth != w || s.configHeight != h);
    if (!(elsewhere || resized || (!own && !s.on_.empty()))) {
        s.astray = false;
        s.askedBack = 0;
        return;
    }
    if (!s.astray) {
        s.astray = true;
        s.astraySince = now;
    }
    // Asked back after a second astray, again after another; then made anew (in the next pass).
    if (!TickReached(now, s.astraySince + 1000)) return;
    s.astraySince = now;
    if (++s.askedBack <= kMostAsksBack) askBack();
}

void WlWindow::ApplyConfigure(OutputSurface& s) {
    const OutputSurface::Configure c = s.configure;
    s.configure.pending = false;
    if (s.xdgSurface)
        xdg_surface_ack_configure(s.xdgSurface, c.serial);
    else
        zwlr_layer_surface_v1_ack_configure(s.layer, c.serial);
    s.configWidth = std::max(0, c.width);
    s.configHeight = std::max(0, c.height);
    s.replan = true;
    s.mustCommit = true;  // the configure is answered by the next commit, with or without a buffer
    switch (s.stage) {
        case Stage::Configuring:
            Plan(s);
            if (s.toplevel ? c.fullscreen || (c.width > 0 && c.height > 0) : p_.PluginMode()) {
                // Full screen from the start, or under a lock screen, where
                // no pointer is ours to hide.
                s.stage = Stage::Showing;
            } else if (!ShowPlaceholder(s)) {
                s.stage = Stage::Showing;  // no memory for it: frames from the start
            } else if (s.toplevel) {
                // Mapped transparent until the compositor makes it full screen.
                s.stage = Stage::Placeholder;
            } else {
                // A layer surface is in its place at once: the frames follow
                // the pointer's enter, which the compositor sends once it is
                // mapped.
                Settle(s);
            }
            break;
        case Stage::Placeholder:
            // Full screen now: the compositor hears the ack first and sends
            // the pointer's enter (hiding it) before the first frame shows.
            Plan(s);
            ShowPlaceholder(s);
            Settle(s);
            break;
        case Stage::Settling:
        case Stage::Showing:
            break;
    }
}

bool WlWindow::ShowPlaceholder(OutputSurface& s) {
    // Transparent, at the full size: the pointer enters it at once.
    ShmBuffer* b = nullptr;
    if (s.base.viewport) {
        if (!clearPixel_) clearPixel_ = Pixels(p_.Shm(), 1, WL_SHM_FORMAT_ARGB8888, 0);
        b = clearPixel_.get();
        if (b) {
            const wl_fixed_t whole = wl_fixed_from_int(-1);
            wp_viewport_set_source(s.base.viewport, whole, whole, whole, whole);
            wp_viewport_set_destination(s.base.viewport, std::max(1, s.plan.logicalWidth),
                                        std::max(1, s.plan.logicalHeight));
        }
    } else {
        if (!s.placeholder)
            s.placeholder = MakeShmBuffer(p_.Shm(), std::max(1, s.plan.deviceWidth), std::max(1, s.plan.deviceHeight),
                                          WL_SHM_FORMAT_ARGB8888);
        b = s.placeholder.get();
        if (b) wl_surface_set_buffer_scale(s.base.surface, s.plan.bufferScale);
    }
    if (!b) return false;
    wl_surface_attach(s.base.surface, b->buffer, 0, 0);
    wl_surface_damage_buffer(s.base.surface, 0, 0, b->width, b->height);
    wl_surface_commit(s.base.surface);
    s.mustCommit = false;
    s.base.sizePending = true;  // told again with the first frame
    return true;
}

void WlWindow::Settle(OutputSurface& s) {
    // Settled once the compositor has answered everything sent so far (the
    // commit that mapped the surface): the events it sent meanwhile, the
    // pointer's enter among them, are dispatched before the answer.
    if (s.settling) return;
    s.stage = Stage::Settling;
    s.settling = wl_display_sync(p_.Display());
    wl_callback_add_listener(s.settling, &kSettledListener, &s);
}

void WlWindow::Shape(Canvas& c, int logicalWidth, int logicalHeight, int bufferWidth, int bufferHeight, int bufferScale,
                     bool black, std::vector<Piece> pieces) {
    c.logicalWidth = logicalWidth, c.logicalHeight = logicalHeight;
    c.bufferWidth = bufferWidth, c.bufferHeight = bufferHeight;
    c.bufferScale = bufferScale;
    c.black = black;
    c.pieces = std::move(pieces);
    c.damage.Resize(bufferHeight);
    c.damageAll = true;
    c.sizePending = true;
    // Everything again: what a buffer holds was laid out another way.
    c.pool.AllStale();
}

void WlWindow::Plan(OutputSurface& s) {
    s.replan = false;
    posix::PlanInput in;
    auto outputOf = [](const OutputSurface& o) {
        const posix::OutputDescription& d = o.output->desc;
        return posix::PlanOutput{o.rect, d.logicalX, d.logicalY, d.logicalWidth, d.logicalHeight, d.scale};
    };
    in.output = outputOf(s);
    for (const auto& o : surfaces_) in.all.push_back(outputOf(*o));
    in.configWidth = s.configWidth, in.configHeight = s.configHeight;
    in.toplevel = s.toplevel != nullptr;
    in.viewporter = s.base.viewport != nullptr;
    in.subsurfaces = p_.Subcompositor() != nullptr;
    in.preferredScale = s.preferredScale;
    in.client = ClientRect();
    in.pictures = pictures_;
    posix::SurfacePlan plan = posix::PlanSurface(in);
    if (plan == s.plan) return;
    s.plan = std::move(plan);
    const posix::SurfacePlan& p = s.plan;
    Shape(s.base, p.logicalWidth, p.logicalHeight, p.bufferWidth, p.bufferHeight, p.bufferScale, p.blackPixel, p.pieces);

    if (p.subWidth > 0) {
        if (!s.picture) {
            // The picture's own surface over the black, desynchronized so that
            // its frames go without the output's surface; the pointer passes
            // through it to the surface below.
            s.picture = std::make_unique<Canvas>(p_.Shm());
            s.picture->surface = wl_compositor_create_surface(p_.Compositor());
            s.picture->viewport = wp_viewporter_get_viewport(p_.Viewporter(), s.picture->surface);
            s.pictureRole = wl_subcompositor_get_subsurface(p_.Subcompositor(), s.picture->surface, s.base.surface);
            wl_subsurface_set_desync(s.pictureRole);
            wl_region* none = wl_compositor_create_region(p_.Compositor());
            wl_surface_set_input_region(s.picture->surface, none);
            wl_region_destroy(none);
        }
        Shape(*s.picture, p.subWidth, p.subHeight, p.subPiece.dst.Width(), p.subPiece.dst.Height(), 1, false,
              {p.subPiece});
        wl_subsurface_set_position(s.pictureRole, p.subX, p.subY);
        s.mustCommit = true;  // the place goes with the output's surface's next commit
    } else if (s.picture) {
        wl_subsurface_destroy(s.pictureRole);
        s.pictureRole = nullptr;
        Unmake(*s.picture);
        s.picture.reset();
        s.mustCommit = true;
    }

    // A full-screen toplevel carries one transparent pixel in a subsurface:
    // a full-screen surface alone is one a compositor may put straight on the
    // output, which sway 1.7 does with a wl_shm buffer on its headless
    // outputs, and then the output stops following the saver's commits for
    // seconds; and moved, it makes Mutter look again for the surface under a
    // pointer that rests (see PresentCanvas).
    const bool marked = s.toplevel && p_.Subcompositor();
    if (marked && !s.marker) {
        if (!clearPixel_) clearPixel_ = Pixels(p_.Shm(), 1, WL_SHM_FORMAT_ARGB8888, 0);
        if (clearPixel_) {
            s.marker = wl_compositor_create_surface(p_.Compositor());
            s.markerRole = wl_subcompositor_get_subsurface(p_.Subcompositor(), s.marker, s.base.surface);
            wl_subsurface_set_desync(s.markerRole);
            wl_region* none = wl_compositor_create_region(p_.Compositor());
            wl_surface_set_input_region(s.marker, none);  // the pointer goes to the saver's surface
            wl_region_destroy(none);
            wl_surface_attach(s.marker, clearPixel_->buffer, 0, 0);
            wl_surface_damage_buffer(s.marker, 0, 0, 1, 1);
            wl_surface_commit(s.marker);
            s.mustCommit = true;
        }
    } else if (!marked && s.marker) {
        wl_subsurface_destroy(s.markerRole);
        wl_surface_destroy(s.marker);
        s.marker = nullptr;
        s.markerRole = nullptr;
        s.mustCommit = true;
    }
}

void WlWindow::Present(OutputSurface& s, uint32_t now) {
    // The picture first, so that the commit of the output's surface that
    // places or maps it finds its frame there.
    if (s.picture && s.picture->Changed() && !s.picture->frame) PresentCanvas(s, *s.picture, now);
    if (s.base.Changed() && !s.base.frame) PresentCanvas(s, s.base, now);
}

void WlWindow::PresentCanvas(OutputSurface& s, Canvas& c, uint32_t now) {
    ShmBuffer* b = nullptr;
    if (c.black) {
        // The middle pixel of three by three: a compositor that stretches it
        // with a little error at the far edge (sway's pixman renderer loses a
        // few rows of a 1080-row output) still reads black there.
        if (!blackPixel_) blackPixel_ = Pixels(p_.Shm(), 3, WL_SHM_FORMAT_XRGB8888, kBlackPixel);
        b = blackPixel_.get();
    } else {
        // A buffer the compositor has released; when it holds all three, the
        // frame waits for a release and goes with a later pass.
        b = c.pool.Acquire(c.bufferWidth, c.bufferHeight, now);
        if (b) WriteRows(c, *b);
    }
    if (!b) return;
    const bool base = &c == &s.base;
    if (c.sizePending) {
        // The size goes with the buffer of that size, never on a surface
        // without one.
        c.sizePending = false;
        if (c.viewport) {
            const wl_fixed_t one = wl_fixed_from_int(c.black ? 1 : -1);  // -1: the whole buffer
            wp_viewport_set_source(c.viewport, one, one, one, one);
            wp_viewport_set_destination(c.viewport, std::max(1, c.logicalWidth), std::max(1, c.logicalHeight));
        } else
            wl_surface_set_buffer_scale(c.surface, c.bufferScale);
        // A surface reaching past its configure's size keeps the configured window.
        if (base && s.xdgSurface && s.configWidth > 0 && s.configHeight > 0)
            xdg_surface_set_window_geometry(s.xdgSurface, 0, 0, std::min(c.logicalWidth, s.configWidth),
                                            std::min(c.logicalHeight, s.configHeight));
    }
    wl_surface_attach(c.surface, b->buffer, 0, 0);
    if (c.damageAll || c.black)
        wl_surface_damage_buffer(c.surface, 0, 0, b->width, b->height);
    else
        for (const Rect& r : c.damage.Rects()) wl_surface_damage_buffer(c.surface, r.left, r.top, r.Width(), r.Height());
    if (!c.black) {
        // The next frame waits until the compositor has shown this one.
        c.frame = wl_surface_frame(c.surface);
        wl_callback_add_listener(c.frame, &kFrameListener, &c);
        // A compositor that never answers (headless sway) is asked no more
        // once a few dozen questions wait.
        if (p_.Presentation() && feedbacks_.size() < kMostFeedbacks) {
            feedbacks_.push_back(wp_presentation_feedback(p_.Presentation(), c.surface));
            wp_presentation_feedback_add_listener(feedbacks_.back(), &kFeedbackListener, this);
        }
        c.pool.Committed(*b, now);
        // Mutter looks for the surface under a pointer that rests only when
        // something moves on its stage, and a new full-screen window on a
        // monitor other than the first moves nothing: the pointer's enter
        // (and with it the hiding of the pointer) would wait until the pointer
        // moves. The transparent pixel moves to and fro every 5 frames of the
        // first 2 s, until the pointer has come over the surface.
        ++s.framesShown;
        if (p_.IsMutter() && s.markerRole && !s.pointerCame && s.framesShown <= 50 && s.framesShown % 5 == 0) {
            wl_subsurface_set_position(s.markerRole, (s.framesShown / 5) % 2, 0);
            s.mustCommit = true;
        }
    }
    wl_surface_commit(c.surface);
    c.damage.Clear();
    c.damageAll = false;
    if (base) {
        s.mustCommit = false;
        if (s.placeholder) FreeShmBuffer(*s.placeholder);  // replaced for good
        s.placeholder.reset();
    }
}

void WlWindow::TakeChanges() {
    if (changed_.Empty()) return;
    for (auto& s : surfaces_)
        for (Canvas* c : {&s->base, s->picture.get()}) {
            if (!c || c->black) continue;
            for (const Piece& p : c->pieces) {
                const int dx = p.dst.left - p.srcX, dy = p.dst.top - p.srcY;
                const int top = std::max(changed_.Top(), p.srcY);
                const int bottom = std::min(changed_.Bottom(), p.srcY + p.dst.Height());
                const int left = p.srcX, right = p.srcX + p.dst.Width();
                for (int y = top; y < bottom; ++y) {
                    const Span& r = changed_.Row(y);
                    const int lo = std::max(r.lo, left) + dx, hi = std::min(r.hi, right) + dx;
                    if (lo >= hi) continue;
                    c->damage.Add(y + dy, lo, hi);
                    c->pool.Stale(c->bufferWidth, c->bufferHeight, y + dy, lo, hi);
                }
            }
        }
    changed_.Clear();
}

void WlWindow::WriteRows(const Canvas& c, ShmBuffer& b) {
    const RowChanges& stale = b.stale;
    uint32_t* rows[8];
    for (int y = stale.Top(); y < stale.Bottom();) {
        const Span span{std::max(0, stale.Row(y).lo), std::min(b.width, stale.Row(y).hi)};
        if (span.Empty()) {
            ++y;
            continue;
        }
        // The rows below that show the same (an enlarged picture's rows come
        // n at a time) are written in the same pass, the row expanded once.
        int k = 1;
        while (k < 8 && y + k < stale.Bottom() && stale.Row(y + k).lo == stale.Row(y).lo &&
               stale.Row(y + k).hi == stale.Row(y).hi &&
               std::all_of(c.pieces.begin(), c.pieces.end(), [&](const Piece& p) {
                   const bool in = y >= p.dst.top && y < p.dst.bottom;
                   if (in != (y + k >= p.dst.top && y + k < p.dst.bottom)) return false;
                   const int from = std::max(span.lo, p.dst.left), to = std::min(span.hi, p.dst.right);
                   if (!in || from >= to) return true;
                   const int sy = p.srcY + (y - p.dst.top), sx = p.srcX + (from - p.dst.left);
                   return SameBits(picture_.Row(sy), picture_.Row(sy + k), sx, sx + (to - from));
               }))
            ++k;
        for (int i = 0; i < k; ++i) rows[i] = b.pixels + static_cast<size_t>(y + i) * b.width;
        int x = span.lo;
        for (const Piece& p : c.pieces) {
            if (y < p.dst.top || y >= p.dst.bottom) continue;
            const int from = std::max(x, p.dst.left), to = std::min(span.hi, p.dst.right);
            if (from >= to) continue;
            FillPixels(rows, k, x, from - x, kBlackPixel);
            const int sy = p.srcY + (y - p.dst.top), sx = p.srcX + (from - p.dst.left);
            ExpandBits(picture_.Row(sy), sx, rows, k, from, to - from);
            x = to;
        }
        FillPixels(rows, k, x, span.hi - x, kBlackPixel);
        y += k;
    }
    WrittenPixels();
}

void WlWindow::Answered(struct wp_presentation_feedback* f) {
    feedbacks_.erase(std::remove(feedbacks_.begin(), feedbacks_.end(), f), feedbacks_.end());
    wp_presentation_feedback_destroy(f);
}

// --- the core's side ------------------------------------------------------------------

void WlWindow::SetPlacement(const Rect& r) {
    x_ = r.left;
    y_ = r.top;
    w_ = std::max(1, r.Width());
    h_ = std::max(1, r.Height());
    // A new picture, black, painted whole; every buffer is written whole
    // again, since what it holds was never compared with this picture.
    picture_.Resize(w_, h_);
    picture_.Fill(true);
    changed_.Resize(h_);
    dirty_.Mark(nullptr, ClientRect());
    for (auto& s : surfaces_) {
        for (Canvas* c : {&s->base, s->picture.get()})
            if (c) {
                c->pool.AllStale();
                c->damageAll = true;
            }
        s->replan = true;
    }
}

void WlWindow::SetCrossCursorRects(const std::vector<Rect>& rects) {
    if (rects == pictures_) return;
    pictures_ = rects;
    for (auto& s : surfaces_) s->replan = true;
}

void WlWindow::Invalidate(const Rect* r) { dirty_.Mark(r, ClientRect()); }

void WlWindow::PaintNow(const Rect* r) {
    if (!visible_ || Dark()) {
        dirty_.Mark(r, ClientRect());
        return;
    }
    Paint(dirty_.PaintNow(r, ClientRect()));
}

bool WlWindow::PaintIfDirty() {
    if (!Dirty()) return false;
    Paint(dirty_.Take());
    return true;
}

void WlWindow::Paint(const Rect& clip) {
    if (clip.Empty()) return;
    PictureSurface surface(*this, clip);
    events_.OnPaint(surface);
    TakeChanges();
}

// --- input ---------------------------------------------------------------------------

void WlWindow::PointerAt(OutputSurface& s, double sx, double sy, uint32_t shift, bool moved) {
    posix::SurfaceToWindow(s.plan, sx, sy, lastX_, lastY_);
    if (moved) events_.OnMouseMove(lastX_, lastY_, shift);
}

void WlWindow::Button(MouseButton button, uint32_t shift, uint32_t time) {
    events_.OnMouseDown(button, lastX_, lastY_, shift, time);
}

void WlWindow::Key(bool down, uint16_t vk, uint32_t shift) {
    if (down)
        events_.OnKeyDown(vk, shift);
    else
        events_.OnKeyUp(vk, shift);
}

std::unique_ptr<quellora::Window> MakeWindow(WlPlatform& platform, const WindowParams& params, WindowEvents& events) {
    return std::make_unique<WlWindow>(platform, params, events);
}

}  // namespace quellora::wayland
