// Windows on X: the full-screen saver window of our own, the preview child in
// a host's window, or a wrapper that draws straight into a daemon's window or
// the root window. Frames go out as 1-bit images in the server's bitmap
// layout, through shared memory when the server is on this machine.
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "platform/x11/bitmap_pack.h"
#include "platform/x11/x11_platform.h"

namespace quellora::x11 {

namespace {

constexpr long kInputMask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;

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

class X11Window;

class X11Surface : public Surface {
public:
    X11Surface(X11Window& w, const Rect& clip) : w_(w), clip_(clip) {}
    void FillBlack(const Rect& r) override;
    void PutBitmap1(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) override;
    void PutGrey(const GreyPicture& picture, int x, int y) override;
    bool PutFrame() const { return putFrame_; }

private:
    X11Window& w_;
    Rect clip_;
    bool putFrame_ = false;
};

class X11Window final : public quellora::Window, public EventSink {
public:
    X11Window(X11Platform& p, const WindowParams& params, WindowEvents& events);
    ~X11Window() override;

    // quellora::Window
    WindowHandle Handle() const override { return static_cast<WindowHandle>(xwin_); }
    void Show() override;
    void Invalidate(const Rect* r) override;
    void PaintNow() override;
    Rect ClientRect() const override { return Client(); }
    void SetCrossCursorRect(const Rect& r) override { cross_ = r; }

    // EventSink
    void HandleEvent(XEvent& e) override;
    bool PaintIfDirty() override;
    bool Dirty() const override { return visible_ && alive_ && !dirty_.Empty(); }
    void CursorChanged() override { UpdateCursor(lastX_, lastY_); }

    // Drawing, for the surface; rectangles are already clipped.
    void Fill(const Rect& r);
    void PutBits(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy);
    void PutGreyPicture(const GreyPicture& picture, int sx, int sy, int w, int h, int dx, int dy);
    Rect Client() const { return {0, 0, w_, h_}; }
    bool Alive() const { return alive_; }

private:
    void CreateOwn(const WindowParams& params);
    void SetWindowProperties(const WindowParams& params);
    void GrabInput();
    void Paint(const Rect& clip);
    void UpdateCursor(int x, int y);
    void HandleInput(XEvent& e);
    void GoneExternally();
    void KeepOnTop();
    // Shared-memory image for the frames.
    bool EnsureBitsImage(int w, int h);
    void FreeBitsImage();
    void WaitForPut();

    X11Platform& p_;
    Display* dpy_;
    WindowEvents& events_;
    WindowParams params_;
    ::Window xwin_ = 0;     // where we draw
    ::Window watched_ = 0;  // a foreign parent whose end ends us
    bool ours_ = false;     // we created xwin_
    bool topLevel_ = false;
    bool inputEnabled_ = false;
    bool alive_ = true;
    bool visible_ = false;
    bool grabbed_ = false;
    int w_ = 0, h_ = 0;
    Rect dirty_;
    Rect cross_;
    int lastX_ = -1, lastY_ = -1;
    Cursor shownCursor_ = None;

    Visual* visual_ = nullptr;
    int depth_ = 0;
    Colormap cmap_ = None;
    GC gc_ = nullptr;
    unsigned long black_ = 0, white_ = 0;
    std::unique_ptr<PixelMaker> pixels_;

    BitmapLayout layout_;
    XImage* bits_ = nullptr;
    int bitsW_ = 0, bitsH_ = 0;
    XShmSegmentInfo shm_{};
    bool shmAttached_ = false;
    bool putPending_ = false;
    std::vector<uint8_t> plain_;  // the image's memory without shared memory

    const GreyPicture* greySource_ = nullptr;
    XImage* grey_ = nullptr;

    std::vector<uint32_t> raiseTicks_;  // when KeepOnTop last raised us

};

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
    putFrame_ = true;
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
    layout_.unit = BitmapUnit(dpy_);
    layout_.msbFirstBits = BitmapBitOrder(dpy_) == MSBFirst;
    layout_.msbFirstBytes = ImageByteOrder(dpy_) == MSBFirst;

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
    if (visible_) dirty_ = Client();
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
    XStoreName(dpy_, xwin_, params.caption.c_str());
    XChangeProperty(dpy_, xwin_, p_.Intern("_NET_WM_NAME"), p_.Intern("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(params.caption.data()),
                    static_cast<int>(params.caption.size()));
    XClassHint cls{const_cast<char*>("quellora"), const_cast<char*>("Quellora")};
    XSetClassHint(dpy_, xwin_, &cls);
    Atom del = p_.WmDeleteWindow();
    XSetWMProtocols(dpy_, xwin_, &del, 1);
    if (topLevel_ && params.topMost) {
        // For window managers that look at override-redirect windows anyway.
        Atom states[] = {p_.Intern("_NET_WM_STATE_FULLSCREEN"), p_.Intern("_NET_WM_STATE_ABOVE")};
        XChangeProperty(dpy_, xwin_, p_.Intern("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(states), 2);
    }
}

X11Window::~X11Window() {
    if (!alive_ && !xwin_) return;
    WaitForPut();
    FreeBitsImage();
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

void X11Window::GrabInput() {
    // The saver takes the keyboard and the pointer, so every key and every
    // motion comes to it whatever other windows exist. Another client's grab
    // may still be ending: try for a moment.
    const Cursor cursor = p_.CursorHidden() ? p_.BlankCursor() : None;
    bool keyboard = false, pointer = false;
    for (int attempt = 0; attempt < 50 && !(keyboard && pointer); ++attempt) {
        if (attempt) {
            timespec pause{0, 20 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        if (!keyboard)
            keyboard = XGrabKeyboard(dpy_, xwin_, True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess;
        if (!pointer)
            pointer = XGrabPointer(dpy_, xwin_, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                                   GrabModeAsync, GrabModeAsync, None, cursor, CurrentTime) == GrabSuccess;
    }
    grabbed_ = keyboard || pointer;
    if (!keyboard) {
        ErrorTrap trap(dpy_);
        XSetInputFocus(dpy_, xwin_, RevertToParent, CurrentTime);
    }
}

void X11Window::Show() {
    if (!alive_) return;
    if (ours_ && !visible_) {
        XMapRaised(dpy_, xwin_);
        visible_ = true;
        if (topLevel_ && params_.topMost && inputEnabled_) GrabInput();
    }
    dirty_ = Client();
    events_.OnActivate();
}

void X11Window::Invalidate(const Rect* r) {
    if (!alive_ || !visible_) return;
    dirty_ = Union(dirty_, r ? Intersect(*r, Client()) : Client());
}

void X11Window::PaintNow() {
    if (!alive_ || !visible_) return;
    dirty_ = {};
    Paint(Client());
}

bool X11Window::PaintIfDirty() {
    if (!Dirty()) return false;
    const Rect clip = dirty_;
    dirty_ = {};
    Paint(clip);
    return true;
}

void X11Window::Paint(const Rect& clip) {
    X11Surface surface(*this, clip);
    events_.OnPaint(surface);
    if (surface.PutFrame()) p_.CountFrame();
}

void X11Window::Fill(const Rect& r) {
    XFillRectangle(dpy_, xwin_, gc_, r.left, r.top, static_cast<unsigned>(r.Width()), static_cast<unsigned>(r.Height()));
}

bool X11Window::EnsureBitsImage(int w, int h) {
    if (bits_ && w <= bitsW_ && h <= bitsH_) return true;
    FreeBitsImage();
    const int width = static_cast<int>(PackedStride(w) * 8);  // whole words: the row stride the server expects
    if (p_.ShmUsable()) {
        bits_ = XShmCreateImage(dpy_, visual_, 1, XYBitmap, nullptr, &shm_, static_cast<unsigned>(width),
                                static_cast<unsigned>(h));
        if (bits_) {
            shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(bits_->bytes_per_line) * h, IPC_CREAT | 0600);
            void* mem = shm_.shmid >= 0 ? shmat(shm_.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
            bool ok = mem != reinterpret_cast<void*>(-1);
            if (ok) {
                shm_.shmaddr = bits_->data = static_cast<char*>(mem);
                shm_.readOnly = True;
                ErrorTrap trap(dpy_);
                ok = XShmAttach(dpy_, &shm_) && !trap.Failed();
                shmAttached_ = ok;
            }
            // Marked for removal now, so nothing is left behind however we end.
            if (shm_.shmid >= 0) shmctl(shm_.shmid, IPC_RMID, nullptr);
            if (ok && bits_->bytes_per_line == static_cast<int>(PackedStride(w))) {
                bitsW_ = width;
                bitsH_ = h;
                return true;
            }
            // A server on another machine, or no permission: plain requests.
            FreeBitsImage();
            p_.DisableShm();
        }
    }
    plain_.assign(PackedStride(w) * static_cast<size_t>(h), 0);
    bits_ = XCreateImage(dpy_, visual_, 1, XYBitmap, 0, reinterpret_cast<char*>(plain_.data()),
                         static_cast<unsigned>(width), static_cast<unsigned>(h), 32,
                         static_cast<int>(PackedStride(w)));
    if (!bits_) return false;
    bitsW_ = width;
    bitsH_ = h;
    return true;
}

void X11Window::FreeBitsImage() {
    if (!bits_) return;
    if (shmAttached_) {
        XShmDetach(dpy_, &shm_);
        XSync(dpy_, False);
        shmAttached_ = false;
    }
    if (shm_.shmaddr) {
        shmdt(shm_.shmaddr);
        shm_.shmaddr = nullptr;
    }
    shm_ = XShmSegmentInfo{};
    bits_->data = nullptr;  // ours, not Xlib's
    XDestroyImage(bits_);
    bits_ = nullptr;
    bitsW_ = bitsH_ = 0;
    putPending_ = false;
}

void X11Window::WaitForPut() {
    // The server reads the shared image after we send the request; the next
    // frame may only be packed into it once the server says it is done.
    if (!putPending_) return;
    const int type = p_.ShmCompletionType();
    auto match = [](Display*, XEvent* e, XPointer arg) -> Bool {
        const auto* self = reinterpret_cast<std::pair<int, ::Window>*>(arg);
        return e->type == self->first && reinterpret_cast<XShmCompletionEvent*>(e)->drawable == self->second;
    };
    std::pair<int, ::Window> key{type, xwin_};
    XEvent e;
    XFlush(dpy_);
    // A put into a window that has just gone away gets no completion: give
    // up after a while rather than wait for ever.
    for (int waited = 0; waited < 500; waited += 10) {
        if (XCheckIfEvent(dpy_, &e, match, reinterpret_cast<XPointer>(&key))) break;
        pollfd pfd{ConnectionNumber(dpy_), POLLIN, 0};
        poll(&pfd, 1, 10);
    }
    putPending_ = false;
}

void X11Window::PutBits(const Bitmap1& picture, int sx, int sy, int w, int h, int dx, int dy) {
    WaitForPut();
    if (!EnsureBitsImage(w, h)) return;
    PackBitmapRows(picture, sx, sy, w, h, layout_, reinterpret_cast<uint8_t*>(bits_->data),
                   static_cast<size_t>(bits_->bytes_per_line));
    if (shmAttached_) {
        XShmPutImage(dpy_, xwin_, gc_, bits_, 0, 0, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h), True);
        putPending_ = true;
    } else {
        XPutImage(dpy_, xwin_, gc_, bits_, 0, 0, dx, dy, static_cast<unsigned>(w), static_cast<unsigned>(h));
    }
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
    else if (cross_.Contains(x, y))
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
    putPending_ = false;
    events_.OnDestroyedExternally();
}

void X11Window::HandleEvent(XEvent& e) {
    if (!alive_) return;
    if (p_.ShmCompletionType() && e.type == p_.ShmCompletionType()) {
        putPending_ = false;
        return;
    }
    switch (e.type) {
        case Expose:
            if (e.xexpose.window == xwin_)
                dirty_ = Union(dirty_, Intersect(Rect{e.xexpose.x, e.xexpose.y, e.xexpose.x + e.xexpose.width,
                                                      e.xexpose.y + e.xexpose.height},
                                                 Client()));
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
            if (e.xclient.message_type == p_.WmProtocols() &&
                static_cast<Atom>(e.xclient.data.l[0]) == p_.WmDeleteWindow())
                events_.OnCloseRequest();
            return;
        default:
            if (ours_ && inputEnabled_ && e.xany.window == xwin_) HandleInput(e);
    }
}

void X11Window::HandleInput(XEvent& e) {
    switch (e.type) {
        case KeyPress:
            if (const uint16_t vk = VirtualKeyOf(e.xkey)) events_.OnKeyDown(vk, ShiftStateOf(e.xkey.state));
            return;
        case KeyRelease: {
            // Without detectable auto-repeat, a held key comes as release and
            // press with the same time: that is a repeat, not a release.
            if (XEventsQueued(dpy_, QueuedAfterReading)) {
                XEvent next;
                XPeekEvent(dpy_, &next);
                if (next.type == KeyPress && next.xkey.keycode == e.xkey.keycode && next.xkey.time == e.xkey.time)
                    return;
            }
            if (const uint16_t vk = VirtualKeyOf(e.xkey)) events_.OnKeyUp(vk, ShiftStateOf(e.xkey.state));
            return;
        }
        case MotionNotify:
            UpdateCursor(e.xmotion.x, e.xmotion.y);
            events_.OnMouseMove(e.xmotion.x, e.xmotion.y, ShiftStateOf(e.xmotion.state));
            return;
        case ButtonPress: {
            const XButtonEvent& b = e.xbutton;
            MouseButton button;
            switch (b.button) {
                case Button1: button = MouseButton::Left; break;
                case Button2: button = MouseButton::Middle; break;
                case Button3: button = MouseButton::Right; break;
                default: return;  // wheel steps are no presses
            }
            events_.OnMouseDown(button, b.x, b.y, ShiftStateOf(b.state), static_cast<uint32_t>(b.time));
            return;
        }
        default:
            return;
    }
}

}  // namespace

std::unique_ptr<Window> MakeWindow(X11Platform& platform, const WindowParams& params, WindowEvents& events) {
    auto window = std::make_unique<X11Window>(platform, params, events);
    if (!window->Alive()) return nullptr;
    return window;
}

}  // namespace quellora::x11
