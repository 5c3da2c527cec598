// The saver's window on Wayland: its surfaces, one per output, the 1-bit
// picture they show parts of, and the buffers that take the rows that
// changed to the compositor.
#include "platform/wayland/wl_window.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "fractional-scale-v1-client-protocol.h"
#include "platform/wayland/layer_shell.h"
#include "viewporter-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quellora::wayland {

namespace {

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

void OnLayerConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t w, uint32_t h) {
    auto* s = static_cast<OutputSurface*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    s->window->Configured(*s, static_cast<int>(w), static_cast<int>(h));
}
void OnLayerClosed(void* data, zwlr_layer_surface_v1*) {
    auto* s = static_cast<OutputSurface*>(data);
    s->window->Closed(*s);
}
const zwlr_layer_surface_v1_listener kLayerListener = {OnLayerConfigure, OnLayerClosed};

void OnToplevelConfigure(void* data, xdg_toplevel*, int32_t w, int32_t h, wl_array* states) {
    auto* s = static_cast<OutputSurface*>(data);
    s->pendingWidth = w;
    s->pendingHeight = h;
    s->pendingFullscreen = false;
    const auto* state = static_cast<const uint32_t*>(states->data);
    for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
        if (state[i] == XDG_TOPLEVEL_STATE_FULLSCREEN) s->pendingFullscreen = true;
}
void OnToplevelClose(void* data, xdg_toplevel*) {
    auto* s = static_cast<OutputSurface*>(data);
    s->window->Closed(*s);
}
void OnToplevelBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void OnToplevelCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevelListener = {OnToplevelConfigure, OnToplevelClose, OnToplevelBounds,
                                                 OnToplevelCapabilities};

void OnXdgSurfaceConfigure(void* data, xdg_surface* xs, uint32_t serial) {
    auto* s = static_cast<OutputSurface*>(data);
    xdg_surface_ack_configure(xs, serial);
    s->window->Configured(*s, s->pendingWidth, s->pendingHeight);
}
const xdg_surface_listener kXdgSurfaceListener = {OnXdgSurfaceConfigure};

void OnPreferredScale(void* data, wp_fractional_scale_v1*, uint32_t scale) {
    auto* s = static_cast<OutputSurface*>(data);
    s->window->ScalePreferred(*s, static_cast<int>(scale));
}
const wp_fractional_scale_v1_listener kFractionalListener = {OnPreferredScale};

void OnRelease(void* data, wl_buffer* buffer) { static_cast<WlWindow*>(data)->Released(buffer); }
const wl_buffer_listener kBufferListener = {OnRelease};

void FreeBuffer(ShmBuffer& b) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    if (b.pixels) munmap(b.pixels, b.bytes);
    b = ShmBuffer{};
}

bool MakeBuffer(wl_shm* shm, WlWindow* owner, ShmBuffer& b, int w, int h,
                uint32_t format = WL_SHM_FORMAT_XRGB8888) {
    const size_t stride = static_cast<size_t>(w) * 4;
    b.bytes = stride * static_cast<size_t>(h);
    const int fd = memfd_create("quellora-buffer", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(b.bytes)) < 0) {
        close(fd);
        return false;
    }
    void* map = mmap(nullptr, b.bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        close(fd);
        return false;
    }
    b.pixels = static_cast<uint32_t*>(map);
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(b.bytes));
    b.buffer = wl_shm_pool_create_buffer(pool, 0, w, h, static_cast<int32_t>(stride), format);
    wl_shm_pool_destroy(pool);
    close(fd);
    if (owner) wl_buffer_add_listener(b.buffer, &kBufferListener, owner);
    b.width = w;
    b.height = h;
    b.stale.Resize(h);
    b.stale.AddRect(Rect{0, 0, w, h});
    return true;
}

bool SamePieces(const std::vector<Piece>& a, const std::vector<Piece>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Piece& x, const Piece& y) {
        return x.dst == y.dst && x.srcX == y.srcX && x.srcY == y.srcY;
    });
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
    while (!surfaces_.empty()) DropSurface(*surfaces_.back());
    p_.Unregister(this);
    wl_display_flush(p_.Display());
}

void WlWindow::Show() {
    if (!visible_) {
        visible_ = true;
        OutputsChanged();
    }
    dirty_ = ClientRect();
    events_.OnActivate();
}

void WlWindow::AddSurface(WlOutput& o) {
    auto s = std::make_unique<OutputSurface>();
    s->window = this;
    s->output = &o;
    s->surface = wl_compositor_create_surface(p_.Compositor());
    if (p_.Viewporter()) s->viewport = wp_viewporter_get_viewport(p_.Viewporter(), s->surface);
    if (p_.Viewporter() && p_.FractionalScale()) {
        s->fractional = wp_fractional_scale_manager_v1_get_fractional_scale(p_.FractionalScale(), s->surface);
        wp_fractional_scale_v1_add_listener(s->fractional, &kFractionalListener, s.get());
    }
    if (p_.LayerShell()) {
        s->layer = zwlr_layer_shell_v1_get_layer_surface(p_.LayerShell(), s->surface, o.output,
                                                         ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "quellora");
        zwlr_layer_surface_v1_set_anchor(s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
        // Under a lock screen the keyboard is the lock screen's: none here.
        zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, p_.PluginMode() ? 0 : 1);
        zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s.get());
    } else {
        s->xdgSurface = xdg_wm_base_get_xdg_surface(p_.WmBase(), s->surface);
        xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s.get());
        s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
        xdg_toplevel_add_listener(s->toplevel, &kToplevelListener, s.get());
        xdg_toplevel_set_title(s->toplevel, "Quellora");
        xdg_toplevel_set_app_id(s->toplevel, "quellora");
        xdg_toplevel_set_fullscreen(s->toplevel, o.output);
        // One transparent pixel in a subsurface: a full-screen surface alone
        // is one a compositor may put straight on the output, which sway 1.7
        // does with a wl_shm buffer on its headless outputs, and then the
        // output stops following the saver's commits for seconds.
        if (p_.Subcompositor() && MakeBuffer(p_.Shm(), nullptr, s->markerBuffer, 1, 1, WL_SHM_FORMAT_ARGB8888)) {
            s->marker = wl_compositor_create_surface(p_.Compositor());
            s->subsurface = wl_subcompositor_get_subsurface(p_.Subcompositor(), s->marker, s->surface);
            wl_subsurface_set_desync(s->subsurface);
            wl_region* none = wl_compositor_create_region(p_.Compositor());
            wl_surface_set_input_region(s->marker, none);  // the pointer goes to the saver's surface
            wl_region_destroy(none);
            wl_surface_attach(s->marker, s->markerBuffer.buffer, 0, 0);
            wl_surface_damage_buffer(s->marker, 0, 0, 1, 1);
            wl_surface_commit(s->marker);
        }
    }
    // The first commit, without a buffer: the compositor answers with a configure.
    wl_surface_commit(s->surface);
    surfaces_.push_back(std::move(s));
}

void WlWindow::DropSurface(OutputSurface& s) {
    for (ShmBuffer& b : s.buffers) FreeBuffer(b);
    FreeBuffer(s.placeholder);
    if (s.subsurface) wl_subsurface_destroy(s.subsurface);
    if (s.marker) wl_surface_destroy(s.marker);
    FreeBuffer(s.markerBuffer);
    if (s.settling) wl_callback_destroy(s.settling);
    if (s.fractional) wp_fractional_scale_v1_destroy(s.fractional);
    if (s.viewport) wp_viewport_destroy(s.viewport);
    if (s.layer) zwlr_layer_surface_v1_destroy(s.layer);
    if (s.toplevel) xdg_toplevel_destroy(s.toplevel);
    if (s.xdgSurface) xdg_surface_destroy(s.xdgSurface);
    wl_surface_destroy(s.surface);
    surfaces_.erase(std::remove_if(surfaces_.begin(), surfaces_.end(),
                                   [&s](const std::unique_ptr<OutputSurface>& u) { return u.get() == &s; }),
                    surfaces_.end());
}

void WlWindow::OutputsChanged() {
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
    // Every surface again: a whole-layout toplevel shows the others' outputs
    // too. A paint that is due presents them itself, from the new picture.
    for (auto& s : surfaces_)
        if (s->configured) {
            Place(*s);
            if (!Dirty()) Present(*s);
        }
}

void WlWindow::MonitorsChanged() {
    // The core places the window and its viewports first (SetPlacement), then
    // the surfaces follow, once.
    if (visible_) events_.OnMonitorsChanged();
    OutputsChanged();
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

void WlWindow::Configured(OutputSurface& s, int logicalWidth, int logicalHeight) {
    s.configWidth = std::max(0, logicalWidth);
    s.configHeight = std::max(0, logicalHeight);
    s.configured = true;
    Place(s);
    if (!s.settled) {
        const bool placeholderShown = s.placeholder.buffer != nullptr;
        if (s.toplevel ? !placeholderShown && (s.pendingFullscreen || (s.configWidth > 0 && s.configHeight > 0))
                       : p_.PluginMode()) {
            // Full screen from the start, or under a lock screen, where no
            // pointer is ours to hide.
            s.settled = true;
        } else if (!placeholderShown) {
            ShowPlaceholder(s);
            wl_surface_commit(s.surface);
            // A layer surface is in its place at once: the frames follow the
            // pointer's enter, which the compositor sends once it is mapped.
            if (!s.toplevel) Settle(s);
            return;
        } else {
            // Full screen now: the compositor hears the ack first and sends
            // the pointer's enter (hiding it) before the first frame shows.
            wl_surface_commit(s.surface);
            if (!s.settling) Settle(s);
            return;
        }
    }
    // The configure is answered by the next commit: without a buffer when
    // there is nothing new to show or no buffer free to show it.
    if (!Present(s)) wl_surface_commit(s.surface);
}

void WlWindow::ShowPlaceholder(OutputSurface& s) {
    // Transparent, at the full size: the pointer enters it at once.
    const int w = s.viewport ? 1 : s.bufferWidth, h = s.viewport ? 1 : s.bufferHeight;
    if (!MakeBuffer(p_.Shm(), nullptr, s.placeholder, std::max(1, w), std::max(1, h), WL_SHM_FORMAT_ARGB8888)) return;
    if (s.viewport)
        wp_viewport_set_destination(s.viewport, std::max(1, s.logicalWidth), std::max(1, s.logicalHeight));
    else
        wl_surface_set_buffer_scale(s.surface, s.bufferScale);
    s.sizePending = true;
    wl_surface_attach(s.surface, s.placeholder.buffer, 0, 0);
    wl_surface_damage_buffer(s.surface, 0, 0, w, h);
}

void WlWindow::Settle(OutputSurface& s) {
    // Settled once the compositor has answered everything sent so far (the
    // commit that mapped the surface): the events it sent meanwhile, the
    // pointer's enter among them, are dispatched before the answer.
    s.settling = wl_display_sync(p_.Display());
    static const wl_callback_listener kSettled = {[](void* data, wl_callback* cb, uint32_t) {
        auto* settled = static_cast<OutputSurface*>(data);
        wl_callback_destroy(cb);
        settled->settling = nullptr;
        settled->settled = true;
        settled->window->Settled(*settled);
    }};
    wl_callback_add_listener(s.settling, &kSettled, &s);
}

void WlWindow::Settled(OutputSurface& s) {
    s.damageAll = true;
    Present(s);
}

void WlWindow::ScalePreferred(OutputSurface& s, int scale120) {
    if (scale120 == s.preferredScale) return;
    s.preferredScale = scale120;
    if (!s.configured) return;
    Place(s);
    Present(s);
}

void WlWindow::Place(OutputSurface& s) {
    const posix::OutputDescription& d = s.output->desc;
    const int scale = std::max(1, d.scale);
    const int deviceW = s.rect.Width(), deviceH = s.rect.Height();
    // The output's size in the surface's own coordinates: its logical size,
    // except where the compositor lays its outputs out in device pixels (a
    // scaled output whose logical size is its device size, as Mutter without
    // fractional scaling does), whose surfaces still count in scaled pixels.
    const bool deviceLayout = scale > 1 && d.logicalWidth == deviceW && d.logicalHeight == deviceH;
    const int outputW = d.logicalWidth > 0 && !deviceLayout ? d.logicalWidth : deviceW / scale;
    const int outputH = d.logicalHeight > 0 && !deviceLayout ? d.logicalHeight : deviceH / scale;
    const Rect client = ClientRect();
    std::vector<Piece> pieces;
    auto addPiece = [&](int left, int top, const Rect& monitor, int bw, int bh) {
        // The monitor's device pixels with its top-left corner at (left, top)
        // of the buffer, as far as both the buffer and the window reach.
        const Rect inBuffer = Intersect(Rect{left, top, left + monitor.Width(), top + monitor.Height()}, Rect{0, 0, bw, bh});
        const int dx = monitor.left - left, dy = monitor.top - top;
        const Rect src = Intersect(Rect{inBuffer.left + dx, inBuffer.top + dy, inBuffer.right + dx, inBuffer.bottom + dy},
                                   client);
        if (src.Empty()) return;
        pieces.push_back(Piece{Rect{src.left - dx, src.top - dy, src.right - dx, src.bottom - dy}, src.left, src.top});
    };
    // The whole layout's logical rectangle, for a compositor that makes one
    // full-screen toplevel over every output.
    const std::vector<WlOutput*> outputs = p_.CoveredOutputs();
    const std::vector<Monitor> monitors = p_.Monitors();
    Rect layout;
    for (WlOutput* o : outputs) {
        const int os = std::max(1, o->desc.scale);
        int dw = 0, dh = 0;
        posix::DeviceSize(o->desc, dw, dh);
        const int ow = o->desc.logicalWidth > 0 ? o->desc.logicalWidth : dw / os;
        const int oh = o->desc.logicalHeight > 0 ? o->desc.logicalHeight : dh / os;
        layout = Union(layout, Rect{o->desc.logicalX, o->desc.logicalY, o->desc.logicalX + ow, o->desc.logicalY + oh});
    }
    int lw = 0, lh = 0, bw = 0, bh = 0, bscale = 1;
    if (s.toplevel && outputs.size() > 1 && s.configWidth == layout.Width() && s.configHeight == layout.Height() &&
        (s.configWidth != outputW || s.configHeight != outputH)) {
        // Configured at the size of every output together: each output's
        // device pixels where that output lies in it.
        lw = s.configWidth, lh = s.configHeight;
        bw = lw * scale, bh = lh * scale;
        bscale = s.viewport ? 1 : scale;
        for (size_t i = 0; i < outputs.size() && i < monitors.size(); ++i) {
            const Rect m{monitors[i].rect.left - x_, monitors[i].rect.top - y_, monitors[i].rect.right - x_,
                         monitors[i].rect.bottom - y_};
            addPiece((outputs[i]->desc.logicalX - layout.left) * scale, (outputs[i]->desc.logicalY - layout.top) * scale,
                     m, bw, bh);
        }
    } else {
        // The output's own size; a configure bigger than the output (a first
        // one at the device size, before the compositor applies the scale)
        // is only a bound, one smaller is kept.
        const int cw = s.configWidth > 0 ? std::min(s.configWidth, outputW) : outputW;
        const int ch = s.configHeight > 0 ? std::min(s.configHeight, outputH) : outputH;
        if (!s.viewport) {
            bscale = scale;
            lw = cw, lh = ch;
            bw = lw * scale, bh = lh * scale;
        } else if (cw == outputW && ch == outputH) {
            posix::SurfaceExtent(deviceW, outputW, s.preferredScale, lw, bw);
            posix::SurfaceExtent(deviceH, outputH, s.preferredScale, lh, bh);
        } else {
            lw = cw, lh = ch;
            bw = std::min(deviceW, static_cast<int>((static_cast<long long>(deviceW) * cw + outputW - 1) / outputW));
            bh = std::min(deviceH, static_cast<int>((static_cast<long long>(deviceH) * ch + outputH - 1) / outputH));
        }
        addPiece(0, 0, s.rect, bw, bh);
    }
    std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.dst.left < b.dst.left; });
    const bool same = lw == s.logicalWidth && lh == s.logicalHeight && bw == s.bufferWidth && bh == s.bufferHeight &&
                      bscale == s.bufferScale && SamePieces(pieces, s.pieces);
    if (same) return;
    s.logicalWidth = lw, s.logicalHeight = lh;
    s.bufferWidth = bw, s.bufferHeight = bh;
    s.bufferScale = bscale;
    s.pieces = std::move(pieces);
    s.sizePending = true;  // told with the next buffer
    // Everything again, in buffers of the new size.
    for (ShmBuffer& b : s.buffers) {
        if (!b.buffer) continue;
        if (b.width == bw && b.height == bh)
            b.stale.AddRect(Rect{0, 0, bw, bh});
        else if (!b.busy)
            FreeBuffer(b);
    }
    s.sinceCommit.Resize(bh);
    s.damageAll = true;
}

void WlWindow::Released(wl_buffer* buffer) {
    for (auto& s : surfaces_)
        for (ShmBuffer& b : s->buffers)
            if (b.buffer == buffer) {
                b.busy = false;
                if (s->waiting) Present(*s);
                return;
            }
}

void WlWindow::TakeChanges() {
    if (changed_.Empty()) return;
    for (auto& s : surfaces_) {
        for (const Piece& p : s->pieces) {
            const int dx = p.dst.left - p.srcX, dy = p.dst.top - p.srcY;
            const int top = std::max(changed_.Top(), p.srcY);
            const int bottom = std::min(changed_.Bottom(), p.srcY + p.dst.Height());
            const int left = p.srcX, right = p.srcX + p.dst.Width();
            for (int y = top; y < bottom; ++y) {
                const Span& c = changed_.Row(y);
                const int lo = std::max(c.lo, left) + dx, hi = std::min(c.hi, right) + dx;
                if (lo >= hi) continue;
                s->sinceCommit.Add(y + dy, lo, hi);
                for (ShmBuffer& b : s->buffers)
                    if (b.buffer && b.width == s->bufferWidth && b.height == s->bufferHeight) b.stale.Add(y + dy, lo, hi);
            }
        }
    }
    changed_.Clear();
}

bool WlWindow::Present(OutputSurface& s) {
    if (!s.configured || !s.settled || s.bufferWidth <= 0 || s.bufferHeight <= 0) return false;
    if (!s.damageAll && s.sinceCommit.Empty()) return false;
    // A free buffer, of the right size where there is one; when the
    // compositor holds both, a third, and past that the change waits.
    ShmBuffer* free = nullptr;
    for (int i = 0; i < s.bufferCount; ++i) {
        ShmBuffer& b = s.buffers[i];
        if (b.busy) continue;
        if (!free || (b.buffer && b.width == s.bufferWidth && b.height == s.bufferHeight)) free = &b;
    }
    if (!free && s.bufferCount < 3) free = &s.buffers[s.bufferCount++];
    if (!free) {
        s.waiting = true;
        return false;
    }
    s.waiting = false;
    if (free->buffer && (free->width != s.bufferWidth || free->height != s.bufferHeight)) FreeBuffer(*free);
    if (!free->buffer && !MakeBuffer(p_.Shm(), this, *free, s.bufferWidth, s.bufferHeight)) return false;
    WriteRows(s, *free);
    if (s.sizePending) {
        // The size goes with the buffer of that size, never on a surface
        // without one.
        s.sizePending = false;
        if (s.viewport)
            wp_viewport_set_destination(s.viewport, std::max(1, s.logicalWidth), std::max(1, s.logicalHeight));
        else
            wl_surface_set_buffer_scale(s.surface, s.bufferScale);
        // A surface reaching past its configure's size keeps the configured window.
        if (s.xdgSurface && s.configWidth > 0 && s.configHeight > 0)
            xdg_surface_set_window_geometry(s.xdgSurface, 0, 0, std::min(s.logicalWidth, s.configWidth),
                                            std::min(s.logicalHeight, s.configHeight));
    }
    wl_surface_attach(s.surface, free->buffer, 0, 0);
    if (s.damageAll)
        wl_surface_damage_buffer(s.surface, 0, 0, s.bufferWidth, s.bufferHeight);
    else
        for (const Rect& r : s.sinceCommit.Rects()) wl_surface_damage_buffer(s.surface, r.left, r.top, r.Width(), r.Height());
    wl_surface_commit(s.surface);
    free->busy = true;
    s.sinceCommit.Clear();
    s.damageAll = false;
    FreeBuffer(s.placeholder);  // replaced for good
    return true;
}

void WlWindow::WriteRows(OutputSurface& s, ShmBuffer& b) {
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
               std::all_of(s.pieces.begin(), s.pieces.end(), [&](const Piece& p) {
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
        for (const Piece& p : s.pieces) {
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
    b.stale.Clear();
}

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
    dirty_ = ClientRect();
    for (auto& s : surfaces_) {
        for (ShmBuffer& b : s->buffers)
            if (b.buffer) b.stale.AddRect(Rect{0, 0, b.width, b.height});
        s->damageAll = true;
    }
}

void WlWindow::Invalidate(const Rect* r) {
    if (!visible_) return;
    dirty_ = Union(dirty_, r ? Intersect(*r, ClientRect()) : ClientRect());
}

void WlWindow::PaintNow(const Rect* r) {
    if (!visible_) return;
    if (!r) dirty_ = {};
    Paint(r ? Intersect(*r, ClientRect()) : ClientRect());
}

bool WlWindow::PaintIfDirty() {
    if (!Dirty()) return false;
    const Rect clip = dirty_;
    dirty_ = {};
    Paint(clip);
    return true;
}

void WlWindow::Paint(const Rect& clip) {
    if (clip.Empty()) return;
    PictureSurface surface(*this, clip);
    events_.OnPaint(surface);
    TakeChanges();
    painted_ = true;
}

void WlWindow::PresentPainted() {
    if (!painted_) return;
    painted_ = false;
    for (auto& s : surfaces_) Present(*s);
}

std::unique_ptr<Window> MakeWindow(WlPlatform& platform, const WindowParams& params, WindowEvents& events) {
    return std::make_unique<WlWindow>(platform, params, events);
}

}  // namespace quellora::wayland
