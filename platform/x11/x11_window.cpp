// The three kinds of window on X (the saver's own full-screen window, the
// preview child, the daemon's window drawn into): making them, painting them,
// their cursor, their end, and keeping the saver on top.
#include "platform/x11/x11_window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace quellora::x11 {

// The pixel value of a grey level (0 black .. 255 white) in a visual.
class PixelMaker {
public:
    PixelMaker(Display* dpy, Visual* visual, Colormap cmap) : dpy_(dpy), visual_(visual), cmap_(cmap) {}
    unsigned long Grey(uint8_t level) {
        const auto hit = cache_.find(level);
        if (hit != cache_.end()) return hit->second;
        unsigned long pixel = 0;
        if (visual_->c_class == TrueColor || visual_->c_class == DirectColor) {
            pixel = Channel(visual_->red_mask, level) | Channel(visual_->green_mask, level) |
                    Channel(visual_->blue_mask, level);
        } else {
            XColor c{};
            c.red = c.green = c.blue = static_cast<unsigned short>(level * 257);
            c.flags = DoRed | DoGreen | DoBlue;
            if (cmap_ && XAllocColor(dpy_, cmap_, &c))
                pixel = c.pixel;
            else
                pixel = level >= 128 ? WhitePixel(dpy_, DefaultScreen(dpy_)) : BlackPixel(dpy_, DefaultScreen(dpy_));
        }
        cache_[level] = pixel;
        return pixel;
    }

private:
    static unsigned long Channel(unsigned long mask, uint8_t level) {
        if (!mask) return 0;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const unsigned long max = mask >> shift;
        return ((level * max + 127) / 255) << shift;
    }
    Display* dpy_;
    Visual* visual_;
    Colormap cmap_;
    std::map<uint8_t, unsigned long> cache_;
};

namespace {
constexpr long kInputMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
}  // namespace

// --- surface ----------------------------------------------------------------

void X11Surface::FillBlack(const Rect& r) {
    const Rect c = Intersect(Intersect(r, clip_), w_.Client());
    if (!c.Empty()) w_.Fill(c);
}

void X11Surface::PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) {
    const Rect dst{dx, dy, dx + w, dy + h};
    const Rect c = Intersect(Intersect(dst, clip_), w_.Client());
    if (c.Empty()) return;
    w_.PutBits(picture, sx + (c.left - dx), sy + (c.top - dy), c.Width(), c.Height(), c.left, c.top);
}

void X11Surface::PutGrey(const GreyPicture& picture, int x, int y) {
    if (picture.Empty()) return;
    const Rect dst{x, y, x + picture.width, y + picture.height};
    const Rect c = Intersect(Intersect(dst, clip_), w_.Client());
    if (c.Empty()) return;
    w_.PutGreyPicture(picture, c.left - x, c.top - y, c.Width(), c.Height(), c.left, c.top);
}

// --- window -----------------------------------------------------------------

X11Window::X11Window(X11Platform& p, const WindowParams& params, WindowEvents& events)
    : p_(p), dpy_(p.Dpy()), events_(events), params_(params) {
    if (params.drawIntoParent) {
        // The host's window: we draw into it and watch its size and its end.
        xwin_ = static_cast<::Window>(static_cast<uint32_t>(params.parent));
        ErrorTrap trap(dpy_);
        XWindowAttributes a;
        if (!xwin_ || !XGetWindowAttributes(dpy_, xwin_, &a) || trap.Failed() || a.c_class != InputOutput) {
            alive_ = false;
            return;
        }
        visual_ = a.visual;
        depth_ = a.depth;
        cmap_ = a.colormap;
        w_ = a.width;
        h_ = a.height;
        XSelectInput(dpy_, xwin_, a.your_event_mask | ExposureMask | StructureNotifyMask);
        visible_ = true;
    } else {
        CreateOwn(params);
        if (!alive_) return;
    }
    p_.Register(xwin_, this);
    if (watched_) p_.Register(watched_, this);

    pixels_ = std::make_unique<PixelMaker>(dpy_, visual_, cmap_);
    black_ = pixels_->Grey(0);
    white_ = pixels_->Grey(255);
    XGCValues gv{};
    gv.foreground = black_;  // a frame's 1 bits are black
    gv.background = white_;
    gv.graphics_exposures = False;
    gc_ = XCreateGC(dpy_, xwin_, GCForeground | GCBackground | GCGraphicsExposures, &gv);
    upload_ = std::make_unique<FrameUpload>(p_, visual_, xwin_, gc_);
    if (visible_) dirty_.Mark(nullptr, Client());
}

void X11Window::CreateOwn(const WindowParams& params) {
    ::Window parent = p_.Root();
    int x = params.x, y = params.y;
    if (params.parent) {
        parent = static_cast<::Window>(static_cast<uint32_t>(params.parent));
        ErrorTrap trap(dpy_);
        XWindowAttributes a;
        if (!XGetWindowAttributes(dpy_, parent, &a) || trap.Failed()) {
            alive_ = false;
            return;
        }
        visual_ = a.visual;
        depth_ = a.depth;
        cmap_ = a.colormap;
        watched_ = parent;
        XSelectInput(dpy_, parent, a.your_event_mask | StructureNotifyMask);
    } else {
        topLevel_ = true;
        visual_ = DefaultVisual(dpy_, p_.ScreenNumber());
        depth_ = DefaultDepth(dpy_, p_.ScreenNumber());
        cmap_ = DefaultColormap(dpy_, p_.ScreenNumber());
        // The core's coordinates are relative to the primary monitor.
        x += p_.PrimaryX();
        y += p_.PrimaryY();
    }
    ours_ = true;
    inputEnabled_ = params.takesInput;
    w_ = std::max(1, params.width);
    h_ = std::max(1, params.height);

    PixelMaker px(dpy_, visual_, cmap_);
    XSetWindowAttributes swa{};
    unsigned long mask = CWBackPixel | CWEventMask | CWBorderPixel;
    swa.background_pixel = px.Grey(0);
    swa.border_pixel = px.Grey(0);
    swa.event_mask = ExposureMask | StructureNotifyMask;
    if (inputEnabled_) swa.event_mask |= kInputMask;
    if (topLevel_ && params.topMost) {
        // Above every other window, without asking a window manager.
        swa.override_redirect = True;
        swa.event_mask |= VisibilityChangeMask;
        mask |= CWOverrideRedirect;
    }
    if (topLevel_ && p_.CursorHidden()) {
        swa.cursor = p_.BlankCursor();
        shownCursor_ = swa.cursor;
        mask |= CWCursor;
    }
    xwin_ = XCreateWindow(dpy_, parent, x, y, static_cast<unsigned>(w_), static_cast<unsigned>(h_), 0, CopyFromParent,
                          InputOutput, CopyFromParent, mask, &swa);
    if (!xwin_) {
        alive_ = false;
        return;
    }
    SetWindowProperties(params);
    if (params.shownAtCreation) {
        XMapWindow(dpy_, xwin_);
        visible_ = true;
    }
}

void X11Window::SetWindowProperties(const WindowParams& params) {
    p_.NameWindow(xwin_, params.caption);
    if (topLevel_ && params.topMost) {
        // For window managers that look at override-redirect windows anyway.
        Atom states[] = {p_.Intern("_NET_WM_STATE_FULLSCREEN"), p_.Intern("_NET_WM_STATE_ABOVE")};
        XChangeProperty(dpy_, xwin_, p_.Intern("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), 2);
    }
}

X11Window::~X11Window() {
    if (!alive_ && !xwin_) return;
    upload_.reset();
    if (grey_) XDestroyImage(grey_);  // frees its pixels too
    if (gc_) XFreeGC(dpy_, gc_);
    if (xwin_) p_.Unregister(xwin_, this);
    if (watched_) p_.Unregister(watched_, this);
    if (grabbed_) {
        XUngrabKeyboard(dpy_, CurrentTime);
        XUngrabPointer(dpy_, CurrentTime);
    }
    if (ours_ && alive_) XDestroyWindow(dpy_, xwin_);
    XFlush(dpy_);
}

void X11Window::Show() {
    if (!alive_) return;
    if (ours_ && !visible_) {
        XMapRaised(dpy_, xwin_);
        visible_ = true;
        if (topLevel_ && params_.topMost && inputEnabled_) GrabInput();
    }
    dirty_.Mark(nullptr, Client());
    events_.OnActivate();
}

void X11Window::Invalidate(const Rect* r) {
    if (alive_) dirty_.Mark(r, Client());
}

void X11Window::PaintNow(const Rect* r) {
    if (!alive_) return;
    if (!visible_) {
        dirty_.Mark(r, Client());
        return;
    }
    Paint(dirty_.PaintNow(r, Client()));
}

bool X11Window::PaintIfDirty() {
    if (!Dirty()) return false;
    Paint(dirty_.Take());
    return true;
}

void X11Window::Paint(const Rect& clip) {
    X11Surface surface(*this, clip);
    events_.OnPaint(surface);
}

void X11Window::Fill(const Rect& r) {
    XFillRectangle(dpy_, xwin_, gc_, r.left, r.top, static_cast<unsigned>(r.Width()), static_cast<unsigned>(r.Height()));
}

void X11Window::PutBits(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) {
    if (upload_) upload_->Put(picture, sx, sy, w, h, dx, dy);
}

void X11Window::PutGreyPicture(const GreyPicture& picture, int sx, int sy, int w, int h, int dx, int dy) {
    if (greySource_ != &picture || !grey_) {
        // Built once at the window's depth; the picture never changes.
        if (grey_) XDestroyImage(grey_);
        grey_ = XCreateImage(dpy_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                             static_cast<unsigned>(picture.width), static_cast<unsigned>(picture.height), 32, 0);
        if (!grey_) return;
        grey_->data = static_cast<char*>(calloc(static_cast<size_t>(grey_->bytes_per_line), picture.height));
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width; ++x) XPutPixel(grey_, x, y, pixels_->Grey(picture.LevelAt(x, y)));
        greySource_ = &picture;
    }
    XPutImage(dpy_, xwin_, gc_, grey_, sx, sy, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h));
}

void X11Window::UpdateCursor(int x, int y) {
    if (!ours_ || !alive_) return;
    lastX_ = x;
    lastY_ = y;
    Cursor want = None;
    if (p_.CursorHidden())
        want = p_.BlankCursor();
    else if (AnyContains(cross_, x, y))
        want = p_.CrossCursor();
    if (want == shownCursor_) return;
    shownCursor_ = want;
    XDefineCursor(dpy_, xwin_, want);
    if (grabbed_)
        XChangeActivePointerGrab(dpy_, ButtonPressMask | ButtonReleaseMask | PointerMotionMask, want, CurrentTime);
}

void X11Window::KeepOnTop() {
    // Ordinary windows that come up over the saver go below it again. A window
    // that stays out of the window manager's stacking as well (another
    // saver, a lock screen, a menu) is left where it is: two such windows
    // raising each other would do nothing else. And however it comes about,
    // the saver raises itself at most a few times a second.
    ::Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    bool coveredByOrdinary = false;
    {
        ErrorTrap trap(dpy_);
        if (!XQueryTree(dpy_, p_.Root(), &root, &parent, &children, &count)) return;
        bool above = false;
        for (unsigned int i = 0; i < count && !coveredByOrdinary; ++i) {  // bottom to top
            if (children[i] == xwin_) {
                above = true;
                continue;
            }
            XWindowAttributes a;
            if (!above || !XGetWindowAttributes(dpy_, children[i], &a)) continue;
            const Rect r{a.x, a.y, a.x + a.width + 2 * a.border_width, a.y + a.height + 2 * a.border_width};
            coveredByOrdinary = a.map_state == IsViewable && !a.override_redirect && a.c_class == InputOutput &&
                                !Intersect(r, Rect{params_.x + p_.PrimaryX(), params_.y + p_.PrimaryY(),
                                                   params_.x + p_.PrimaryX() + w_, params_.y + p_.PrimaryY() + h_})
                                     .Empty();
        }
        if (children) XFree(children);
    }
    if (!coveredByOrdinary) return;
    const uint32_t now = p_.TickCount();
    constexpr size_t kRaisesPerSecond = 4;
    raiseTicks_.erase(std::remove_if(raiseTicks_.begin(), raiseTicks_.end(),
                                     [now](uint32_t t) { return now - t >= 1000; }),
                      raiseTicks_.end());
    if (raiseTicks_.size() >= kRaisesPerSecond) return;
    raiseTicks_.push_back(now);
    XRaiseWindow(dpy_, xwin_);
}

void X11Window::GoneExternally() {
    if (!alive_) return;
    alive_ = false;
    visible_ = false;
    if (upload_) upload_->TargetGone();
    events_.OnDestroyedExternally();
}

void X11Window::HandleEvent(XEvent& e) {
    if (!alive_) return;
    if (upload_ && upload_->HandleCompletion(e)) return;
    switch (e.type) {
        case Expose:
            if (e.xexpose.window == xwin_) {
                const Rect exposed{e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width,
                                   e.xexpose.y + e.xexpose.height};
                dirty_.Mark(&exposed, Client());
            }
            return;
        case ConfigureNotify:
            if (e.xconfigure.window == xwin_ && (e.xconfigure.width != w_ || e.xconfigure.height != h_)) {
                w_ = e.xconfigure.width;
                h_ = e.xconfigure.height;
                events_.OnResize(w_, h_);
                Invalidate(nullptr);
            }
            return;
        case DestroyNotify:
            if (e.xdestroywindow.window == xwin_ || e.xdestroywindow.window == watched_) {
                if (e.xdestroywindow.window == xwin_ && ours_) ours_ = false;  // nothing left to destroy
                GoneExternally();
            }
            return;
        case UnmapNotify:
            return;
        case VisibilityNotify:
            if (ours_ && e.xvisibility.state != VisibilityUnobscured) KeepOnTop();
            return;
        case ClientMessage:
            if (p_.IsCloseRequest(e)) events_.OnCloseRequest();
            return;
        default:
            if (ours_ && inputEnabled_ && e.xany.window == xwin_) HandleInput(e);
    }
}

void X11Window::SetPlacement(const Rect& r) {
    if (!ours_ || !topLevel_ || r.Empty()) return;
    // The core's coordinates are relative to the primary monitor, which may
    // itself have moved.
    params_.x = r.left;
    params_.y = r.top;
    w_ = r.Width();
    h_ = r.Height();
    XMoveResizeWindow(dpy_, xwin_, r.left + p_.PrimaryX(), r.top + p_.PrimaryY(), static_cast<unsigned>(w_),
                      static_cast<unsigned>(h_));
    Invalidate(nullptr);
}

void X11Window::MonitorsChanged() {
    // Only the saver's own full-screen window follows the monitors; a daemon's
    // window or a preview's parent tells its size itself.
    if (alive_ && ours_ && topLevel_) events_.OnMonitorsChanged();
}

std::unique_ptr<Window> MakeWindow(X11Platform& platform, const WindowParams& params, WindowEvents& events) {
    auto window = std::make_unique<X11Window>(platform, params, events);
    if (!window->Alive()) return nullptr;
    return window;
}

}  // namespace quellora::x11
