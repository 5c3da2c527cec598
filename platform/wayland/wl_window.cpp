// The saver's window on Wayland: its surfaces, one per output, the one
// picture they show parts of, and the buffers that take those parts to the
// compositor.
#include "platform/wayland/wl_window.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "viewporter-client-protocol.h"
#include "platform/wayland/layer_shell.h"
#include "xdg-shell-client-protocol.h"

namespace quellora::wayland {

namespace {

constexpr uint32_t kBlack = 0x000000, kWhite = 0xffffff;

// Drawing into the window's picture, inside the part being painted.
class PictureSurface : public Surface {
public:
    PictureSurface(WlWindow& w, const Rect& clip) : w_(w), clip_(Intersect(clip, w.ClientRect())) {}

    void FillBlack(const Rect& r) override {
        const Rect c = Intersect(r, clip_);
        for (int y = c.top; y < c.bottom; ++y)
            std::fill_n(&w_.picture_[static_cast<size_t>(y) * w_.w_ + c.left], c.Width(), kBlack);
    }

    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) override {
        const Rect c = Intersect(Rect{dx, dy, dx + w, dy + h}, clip_);
        if (c.Empty()) return;
        for (int y = c.top; y < c.bottom; ++y) {
            const uint64_t* bits = picture.Row(sy + (y - dy));
            uint32_t* out = &w_.picture_[static_cast<size_t>(y) * w_.w_ + c.left];
            int bx = sx + (c.left - dx), n = c.Width();
            // A word of 64 pixels at a time, its first pixel in the top bit;
            // a 1 bit is black.
            while (n > 0) {
                uint64_t word = bits[bx >> 6] << (bx & 63);
                const int take = std::min(n, 64 - (bx & 63));
                for (int i = 0; i < take; ++i, word <<= 1) out[i] = static_cast<uint32_t>((word >> 63) - 1) & kWhite;
                out += take;
                bx += take;
                n -= take;
            }
        }
    }

    void PutGrey(const GreyPicture& picture, int px, int py) override {
        if (picture.Empty()) return;
        const Rect c = Intersect(Rect{px, py, px + picture.width, py + picture.height}, clip_);
        for (int y = c.top; y < c.bottom; ++y)
            for (int x = c.left; x < c.right; ++x) {
                const uint32_t level = picture.LevelAt(x - px, y - py);
                w_.picture_[static_cast<size_t>(y) * w_.w_ + x] = level * 0x010101u;
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

void OnToplevelConfigure(void* data, xdg_toplevel*, int32_t w, int32_t h, wl_array*) {
    auto* s = static_cast<OutputSurface*>(data);
    s->logicalWidth = w;
    s->logicalHeight = h;
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
    s->window->Configured(*s, s->logicalWidth, s->logicalHeight);
}
const xdg_surface_listener kXdgSurfaceListener = {OnXdgSurfaceConfigure};

void OnRelease(void* data, wl_buffer* buffer) { static_cast<WlWindow*>(data)->Released(buffer); }
const wl_buffer_listener kBufferListener = {OnRelease};

void FreeBuffer(ShmBuffer& b) {
    if (b.buffer) wl_buffer_destroy(b.buffer);
    if (b.pixels) munmap(b.pixels, b.bytes);
    b = ShmBuffer{};
}

bool MakeBuffer(wl_shm* shm, WlWindow* owner, ShmBuffer& b, int w, int h) {
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
    b.buffer = wl_shm_pool_create_buffer(pool, 0, w, h, static_cast<int32_t>(stride), WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(b.buffer, &kBufferListener, owner);
    b.width = w;
    b.height = h;
    b.stale = Rect{0, 0, w, h};
    return true;
}

}  // namespace

WlWindow::WlWindow(WlPlatform& p, const WindowParams& params, WindowEvents& events)
    : p_(p), events_(events), x_(params.x), y_(params.y) {
    w_ = std::max(1, params.width);
    h_ = std::max(1, params.height);
    picture_.assign(static_cast<size_t>(w_) * h_, kBlack);
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
    if (p_.LayerShell()) {
        s->layer = zwlr_layer_shell_v1_get_layer_surface(p_.LayerShell(), s->surface, o.output,
                                                         ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "quellora");
        zwlr_layer_surface_v1_set_anchor(s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT |
                                                       ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
        zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 1);  // exclusive
        zwlr_layer_surface_v1_add_listener(s->layer, &kLayerListener, s.get());
    } else {
        s->xdgSurface = xdg_wm_base_get_xdg_surface(p_.WmBase(), s->surface);
        xdg_surface_add_listener(s->xdgSurface, &kXdgSurfaceListener, s.get());
        s->toplevel = xdg_surface_get_toplevel(s->xdgSurface);
        xdg_toplevel_add_listener(s->toplevel, &kToplevelListener, s.get());
        xdg_toplevel_set_title(s->toplevel, "Quellora");
        xdg_toplevel_set_app_id(s->toplevel, "quellora");
        xdg_toplevel_set_fullscreen(s->toplevel, o.output);
    }
    wl_surface_commit(s->surface);
    surfaces_.push_back(std::move(s));
}

void WlWindow::DropSurface(OutputSurface& s) {
    for (ShmBuffer& b : s.buffers) FreeBuffer(b);
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
        OutputSurface& s = **it;
        const Rect r = monitors[i].rect;
        const Rect placed{r.left - x_, r.top - y_, r.right - x_, r.bottom - y_};
        if (placed != s.rect) {
            // A new size or place: new buffers, written whole.
            s.rect = placed;
            for (ShmBuffer& b : s.buffers)
                if (!b.busy) FreeBuffer(b);
            if (s.configured) Configured(s, s.logicalWidth, s.logicalHeight);
        }
    }
}

void WlWindow::MonitorsChanged() {
    OutputsChanged();
    if (visible_) events_.OnMonitorsChanged();
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
}

void WlWindow::Configured(OutputSurface& s, int logicalWidth, int logicalHeight) {
    const int scale = std::max(1, s.output->desc.scale);
    if (logicalWidth <= 0 || logicalHeight <= 0) {
        logicalWidth = s.rect.Width() / scale;
        logicalHeight = s.rect.Height() / scale;
    }
    s.logicalWidth = logicalWidth;
    s.logicalHeight = logicalHeight;
    // The buffer has the output's device pixels: the viewport maps it onto
    // the logical size, or without one the buffer scale divides it.
    if (s.viewport)
        wp_viewport_set_destination(s.viewport, logicalWidth, logicalHeight);
    else
        wl_surface_set_buffer_scale(s.surface, scale);
    s.configured = true;
    for (ShmBuffer& b : s.buffers) b.stale = Rect{0, 0, s.rect.Width(), s.rect.Height()};
    Present(s);
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

void WlWindow::Present(OutputSurface& s) {
    if (!s.configured || s.rect.Empty()) return;
    ShmBuffer* free = nullptr;
    for (ShmBuffer& b : s.buffers)
        if (!b.busy) {
            free = &b;
            break;
        }
    if (!free) {
        s.waiting = true;  // the next release brings the part
        return;
    }
    s.waiting = false;
    const int w = s.rect.Width(), h = s.rect.Height();
    if (free->buffer && (free->width != w || free->height != h)) FreeBuffer(*free);
    if (!free->buffer && !MakeBuffer(p_.Shm(), this, *free, w, h)) return;
    const Rect stale = Intersect(free->stale, Rect{0, 0, w, h});
    if (stale.Empty()) return;
    // The stale part from the picture, black where the output lies outside it.
    const Rect inside = Intersect(Rect{stale.left + s.rect.left, stale.top + s.rect.top, stale.right + s.rect.left,
                                       stale.bottom + s.rect.top},
                                  ClientRect());
    for (int y = stale.top; y < stale.bottom; ++y) {
        uint32_t* dst = free->pixels + static_cast<size_t>(y) * w;
        const int wy = y + s.rect.top;
        if (inside.Empty() || wy < inside.top || wy >= inside.bottom) {
            std::fill(dst + stale.left, dst + stale.right, kBlack);
            continue;
        }
        const int from = inside.left - s.rect.left, to = inside.right - s.rect.left;
        std::fill(dst + stale.left, dst + from, kBlack);
        std::memcpy(dst + from, &picture_[static_cast<size_t>(wy) * w_ + inside.left],
                    static_cast<size_t>(to - from) * sizeof(uint32_t));
        std::fill(dst + to, dst + stale.right, kBlack);
    }
    free->stale = {};
    wl_surface_attach(s.surface, free->buffer, 0, 0);
    wl_surface_damage_buffer(s.surface, stale.left, stale.top, stale.Width(), stale.Height());
    wl_surface_commit(s.surface);
    free->busy = true;
}

void WlWindow::Damage(const Rect& r) {
    for (auto& s : surfaces_) {
        const Rect part = Intersect(r, s->rect);
        if (part.Empty()) continue;
        const Rect local{part.left - s->rect.left, part.top - s->rect.top, part.right - s->rect.left,
                         part.bottom - s->rect.top};
        for (ShmBuffer& b : s->buffers) b.stale = Union(b.stale, local);
        Present(*s);
    }
}

void WlWindow::SetPlacement(const Rect& r) {
    x_ = r.left;
    y_ = r.top;
    w_ = std::max(1, r.Width());
    h_ = std::max(1, r.Height());
    picture_.assign(static_cast<size_t>(w_) * h_, kBlack);
    dirty_ = ClientRect();
    OutputsChanged();
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
    Damage(clip);
}

std::unique_ptr<Window> MakeWindow(WlPlatform& platform, const WindowParams& params, WindowEvents& events) {
    return std::make_unique<WlWindow>(platform, params, events);
}

}  // namespace quellora::wayland
