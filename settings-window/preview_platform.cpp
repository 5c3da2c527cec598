// The preview's platform over GLib's main loop.
#include "settings-window/preview_platform.h"

#include <poll.h>

#include "platform/posix/clock.h"

namespace quellora::settings_window {

// Draws into the preview's picture within the part being painted.
class PreviewSurface : public Surface {
public:
    PreviewSurface(PreviewPicture& picture, const Rect& clip) : picture_(picture), clip_(clip) {}
    void FillBlack(const Rect& r) override { picture_.FillBlack(r, clip_); }
    void PutBitmap1(const Bitmap1& pic, int sx, int sy, int w, int h, int dx, int dy) override {
        picture_.PutBitmap1(pic, sx, sy, w, h, dx, dy, clip_);
    }
    void PutGrey(const GreyPicture& pic, int x, int y) override { picture_.PutGrey(pic, x, y, clip_); }

private:
    PreviewPicture& picture_;
    Rect clip_;
};

class PreviewPlatform::PreviewWindow : public Window {
public:
    explicit PreviewWindow(PreviewPlatform& p) : p_(p) {}
    ~PreviewWindow() override { p_.Forget(this); }
    WindowHandle Handle() const override { return kHandle; }
    // Shown, it is painted whole, as a window that comes up on screen is.
    void Show() override {
        p_.Invalidate(nullptr);
        p_.events_->OnActivate();
    }
    void Invalidate(const Rect* r) override { p_.Invalidate(r); }
    void PaintNow(const Rect* r) override { p_.PaintNow(r); }
    Rect ClientRect() const override { return {0, 0, p_.windowRect_.Width(), p_.windowRect_.Height()}; }
    void SetCrossCursorRects(const std::vector<Rect>&) override {}
    void SetPlacement(const Rect& r) override { p_.Place(r); }

private:
    PreviewPlatform& p_;
};

PreviewPlatform::PreviewPlatform(KeyStore& keys) : keys_(keys) {
    monitors_.push_back(Monitor{Rect{0, 0, 1024, 768}, true});
}

PreviewPlatform::~PreviewPlatform() = default;

Rect PreviewPlatform::Primary() const {
    for (const Monitor& m : monitors_)
        if (m.primary) return m.rect;
    return monitors_.empty() ? Rect{0, 0, 1024, 768} : monitors_.front().rect;
}

Rect PreviewPlatform::VirtualScreen() {
    Rect all;
    for (const Monitor& m : monitors_) all = Union(all, m.rect);
    return all;
}

void PreviewPlatform::SetMonitors(std::vector<Monitor> monitors) {
    if (monitors.empty()) monitors.push_back(Monitor{Rect{0, 0, 1024, 768}, true});
    monitors_ = std::move(monitors);
}

void PreviewPlatform::SetArea(int width, int height) {
    if (width == areaW_ && height == areaH_) return;
    areaW_ = width;
    areaH_ = height;
    Refit();
}

void PreviewPlatform::Refit() {
    int w = 1, h = 1;
    FitPreview(areaW_, areaH_, windowRect_.Width(), windowRect_.Height(), w, h);
    if (w == picture_.Width() && h == picture_.Height() && windowRect_.Width() == picture_.ScreenWidth() &&
        windowRect_.Height() == picture_.ScreenHeight())
        return;
    picture_.Resize(windowRect_.Width(), windowRect_.Height(), w, h);
    // Every pixel again, from the saver window's picture of the moment.
    if (window_) PaintNow(nullptr);
}

std::unique_ptr<Window> PreviewPlatform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    if (window_) return nullptr;  // the preview shows one saver window
    windowRect_ = {params.x, params.y, params.x + params.width, params.y + params.height};
    dirty_.Take();
    picture_ = PreviewPicture{};
    Refit();
    auto window = std::make_unique<PreviewWindow>(*this);
    window_ = window.get();
    events_ = &events;
    return window;
}

void PreviewPlatform::Forget(PreviewWindow* window) {
    if (window != window_) return;
    window_ = nullptr;
    events_ = nullptr;
    dirty_.Take();
}

bool PreviewPlatform::GetWindowRect(WindowHandle window, Rect& out) {
    if (!IsWindow(window)) return false;
    out = windowRect_;
    return true;
}

void PreviewPlatform::Place(const Rect& r) {
    windowRect_ = r;
    Refit();
}

void PreviewPlatform::Invalidate(const Rect* r) {
    dirty_.Mark(r, Client());
    if (dirty_.Pending(true)) g_main_context_wakeup(nullptr);
}

void PreviewPlatform::PaintNow(const Rect* r) { Paint(dirty_.PaintNow(r, Client())); }

void PreviewPlatform::Paint(const Rect& clip) {
    if (!events_ || clip.Empty()) return;
    PreviewSurface surface(picture_, clip);
    events_->OnPaint(surface);
    if (onPicture) onPicture();
}

bool PreviewPlatform::ProcessOneMessage() {
    if (dirty_.Pending(true)) {
        Paint(dirty_.Take());
        return true;
    }
    return g_main_context_iteration(nullptr, FALSE);
}

void PreviewPlatform::WaitUntil(std::optional<uint32_t> dueTick) {
    if (quit_ || dirty_.Pending(true)) return;
    std::optional<timespec> wait;
    if (dueTick) {
        wait = posix::TimeUntilTick(*dueTick);
        if (!wait) return;
    }
    // One pass of GLib's loop, with the wait cut short at the due tick to
    // the nanosecond (GLib's own timeouts count whole milliseconds).
    GMainContext* context = g_main_context_default();
    if (!g_main_context_acquire(context)) {
        g_main_context_iteration(context, FALSE);
        return;
    }
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    gint timeout = -1;
    gint count = 0;
    for (;;) {
        count = g_main_context_query(context, priority, &timeout, fds_.data(), static_cast<gint>(fds_.size()));
        if (static_cast<size_t>(count) <= fds_.size()) break;
        fds_.resize(static_cast<size_t>(count));
    }
    if (timeout >= 0) {
        const timespec glib{timeout / 1000, (timeout % 1000) * 1000000L};
        if (!wait || glib.tv_sec < wait->tv_sec || (glib.tv_sec == wait->tv_sec && glib.tv_nsec < wait->tv_nsec))
            wait = glib;
    }
    std::vector<pollfd> polled(static_cast<size_t>(count));
    for (gint i = 0; i < count; ++i) polled[i] = pollfd{fds_[i].fd, static_cast<short>(fds_[i].events), 0};
    ppoll(polled.data(), polled.size(), wait ? &*wait : nullptr, nullptr);
    for (gint i = 0; i < count; ++i) fds_[i].revents = static_cast<gushort>(polled[i].revents);
    if (g_main_context_check(context, priority, fds_.data(), count)) g_main_context_dispatch(context);
    g_main_context_release(context);
}

void PreviewPlatform::PostQuit() {
    quit_ = true;
    g_main_context_wakeup(nullptr);
}

}  // namespace quellora::settings_window
