// The Xlib platform: the connection, the message loop primitives, screens,
// cursor, clock and the frame log.
#include "platform/x11/x11_platform.h"

#include "platform/posix/clock.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/Xatom.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <fontconfig/fontconfig.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>


namespace quellora::x11 {

namespace {

int g_trapDepth = 0;
bool g_trapped = false;

int OnXError(Display*, XErrorEvent*) {
    // Requests on a window that another client has just destroyed fail
    // harmlessly; a trap records its own failures.
    if (g_trapDepth > 0) g_trapped = true;
    return 0;
}

int OnXIOError(Display*) {
    std::fputs("quellora: lost the connection to the X server\n", stderr);
    std::_Exit(1);
}

}  // namespace

void InstallErrorHandlers() {
    XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnXIOError);
}

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy) {
    XSync(dpy_, False);
    if (g_trapDepth++ == 0) g_trapped = false;
}

ErrorTrap::~ErrorTrap() {
    XSync(dpy_, False);
    --g_trapDepth;
}

bool ErrorTrap::Failed() {
    XSync(dpy_, False);
    return g_trapped;
}

X11Platform::X11Platform(Display* display)
    : dpy_(display),
      screen_(DefaultScreen(display)),
      wmProtocols_(XInternAtom(display, "WM_PROTOCOLS", False)),
      wmDeleteWindow_(XInternAtom(display, "WM_DELETE_WINDOW", False)) {
    InstallErrorHandlers();
    // Held keys repeat as presses alone, without the releases in between.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(dpy_, True, &supported);
    FindMonitors();
    // Monitors that come, go or change while we run: RandR tells.
    int rrEvents = 0, rrErrors = 0;
    if (XRRQueryExtension(dpy_, &rrEvents, &rrErrors)) {
        randrEvents_ = rrEvents;
        XRRSelectInput(dpy_, Root(), RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    // A monitor set by a client (RRSetMonitor) is told by a ConfigureNotify
    // on the root window alone.
    XWindowAttributes root{};
    if (XGetWindowAttributes(dpy_, Root(), &root))
        XSelectInput(dpy_, Root(), root.your_event_mask | StructureNotifyMask);
    if (XShmQueryExtension(dpy_)) shmCompletion_ = XShmGetEventBase(dpy_) + ShmCompletion;
}

X11Platform::~X11Platform() {
    if (blank_) XFreeCursor(dpy_, blank_);
    if (cross_) XFreeCursor(dpy_, cross_);
    XCloseDisplay(dpy_);  // Xft lets go of its fonts here
    // The dialog's fonts came through fontconfig: its caches go too, so that
    // the process ends with nothing left allocated.
    if (usedFonts_) FcFini();
}

void X11Platform::FindMonitors() {
    const Rect screen{0, 0, DisplayWidth(dpy_, screen_), DisplayHeight(dpy_, screen_)};
    monitors_.clear();
    // XRandR's monitor list, with its primary; without one, the first is
    // taken as primary.
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (XRRQueryExtension(dpy_, &eventBase, &errorBase) && XRRQueryVersion(dpy_, &major, &minor) &&
        major * 100 + minor >= 105) {
        int count = 0;
        if (XRRMonitorInfo* list = XRRGetMonitors(dpy_, Root(), True, &count)) {
            for (int i = 0; i < count; ++i)
                if (list[i].width > 0 && list[i].height > 0)
                    monitors_.push_back(Monitor{Rect{list[i].x, list[i].y, list[i].x + list[i].width,
                                                     list[i].y + list[i].height},
                                                list[i].primary != 0});
            XRRFreeMonitors(list);
        }
    }
    // Else Xinerama's screens, the first of them primary.
    if (monitors_.empty() && XineramaIsActive(dpy_)) {
        int count = 0;
        if (XineramaScreenInfo* list = XineramaQueryScreens(dpy_, &count)) {
            for (int i = 0; i < count; ++i)
                if (list[i].width > 0 && list[i].height > 0)
                    monitors_.push_back(Monitor{Rect{list[i].x_org, list[i].y_org, list[i].x_org + list[i].width,
                                                     list[i].y_org + list[i].height},
                                                false});
            XFree(list);
        }
    }
    // Else the whole screen is the one monitor.
    if (monitors_.empty()) monitors_.push_back(Monitor{screen, true});
    if (std::none_of(monitors_.begin(), monitors_.end(), [](const Monitor& m) { return m.primary; }))
        monitors_.front().primary = true;
    for (const Monitor& m : monitors_)
        if (m.primary) primary_ = m.rect;
}

std::vector<Monitor> X11Platform::Monitors() {
    std::vector<Monitor> out = monitors_;
    for (Monitor& m : out)
        m.rect = Rect{m.rect.left - primary_.left, m.rect.top - primary_.top, m.rect.right - primary_.left,
                      m.rect.bottom - primary_.top};
    return out;
}

Rect X11Platform::VirtualScreen() {
    return Rect{-primary_.left, -primary_.top, DisplayWidth(dpy_, screen_) - primary_.left,
                DisplayHeight(dpy_, screen_) - primary_.top};
}

void X11Platform::DialogFrameSize(int& extraWidth, int& extraHeight) {
    // The window manager draws its frame outside our window. The dialog keeps
    // the frame sizes of its design, so its client area has the size and
    // proportions it was laid out for.
    extraWidth = 6;
    extraHeight = 29;
}

int X11Platform::ShowModal(ModalDialog& dialog) {
    usedFonts_ = true;
    return RunAboutDialog(*this, dialog);
}

void X11Platform::NameWindow(::Window window, const std::string& title) {
    XStoreName(dpy_, window, title.c_str());
    XChangeProperty(dpy_, window, Intern("_NET_WM_NAME"), Intern("UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
    XClassHint cls{const_cast<char*>("quellora"), const_cast<char*>("Quellora")};
    XSetClassHint(dpy_, window, &cls);
    Atom del = wmDeleteWindow_;
    XSetWMProtocols(dpy_, window, &del, 1);
}

void X11Platform::Register(::Window window, EventSink* sink) {
    sinks_.emplace(window, sink);
    if (std::find(painters_.begin(), painters_.end(), sink) == painters_.end()) painters_.push_back(sink);
}

void X11Platform::Unregister(::Window window, EventSink* sink) {
    for (auto it = sinks_.lower_bound(window); it != sinks_.end() && it->first == window;) {
        if (it->second == sink)
            it = sinks_.erase(it);
        else
            ++it;
    }
    const bool stillUsed =
        std::any_of(sinks_.begin(), sinks_.end(), [sink](const auto& kv) { return kv.second == sink; });
    if (!stillUsed) painters_.erase(std::remove(painters_.begin(), painters_.end(), sink), painters_.end());
}

bool X11Platform::MonitorsNotified(XEvent& event) {
    const bool randr = randrEvents_ >= 0 &&
                       (event.type == randrEvents_ + RRScreenChangeNotify || event.type == randrEvents_ + RRNotify);
    const bool root = event.type == ConfigureNotify && event.xconfigure.window == Root();
    if (!randr && !root) return false;
    XRRUpdateConfiguration(&event);
    const std::vector<Monitor> before = monitors_;
    const Rect primaryBefore = primary_;
    FindMonitors();
    const bool same = primary_ == primaryBefore && monitors_.size() == before.size() &&
                      std::equal(before.begin(), before.end(), monitors_.begin(), [](const Monitor& a, const Monitor& b) {
                          return a.rect == b.rect && a.primary == b.primary;
                      });
    if (!same) {
        const std::vector<EventSink*> targets = painters_;  // a handler may unregister sinks
        for (EventSink* s : targets)
            if (std::find(painters_.begin(), painters_.end(), s) != painters_.end()) s->MonitorsChanged();
    }
    return randr;  // the root's own ConfigureNotify goes on to whoever draws into it
}

void X11Platform::Dispatch(XEvent& event) {
    if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        return;
    }
    if (MonitorsNotified(event)) return;
    // A handler may unregister sinks: collect them first.
    std::vector<EventSink*> targets;
    for (auto it = sinks_.lower_bound(event.xany.window); it != sinks_.end() && it->first == event.xany.window; ++it)
        targets.push_back(it->second);
    for (EventSink* s : targets) {
        if (std::find(painters_.begin(), painters_.end(), s) != painters_.end()) s->HandleEvent(event);
    }
}

bool X11Platform::ProcessOneMessage() {
    if (XPending(dpy_) > 0) {
        XEvent event;
        XNextEvent(dpy_, &event);
        Dispatch(event);
        return true;
    }
    // Like WM_PAINT: a marked window is painted once the queue is empty.
    for (size_t i = 0; i < painters_.size(); ++i) {
        if (painters_[i]->PaintIfDirty()) return true;
    }
    return false;
}

void X11Platform::WaitUntil(std::optional<uint32_t> dueTick) {
    if (quit_) return;
    if (XPending(dpy_) > 0) return;  // flushes our requests, too
    for (EventSink* s : painters_)
        if (s->Dirty()) return;
    pollfd pfd{ConnectionNumber(dpy_), POLLIN, 0};
    if (!dueTick) {
        poll(&pfd, 1, -1);
        return;
    }
    const auto wait = posix::TimeUntilTick(*dueTick);
    if (!wait) return;
    ppoll(&pfd, 1, &*wait, nullptr);
}

std::unique_ptr<Window> X11Platform::CreateWindow(const WindowParams& params, WindowEvents& events) {
    return MakeWindow(*this, params, events);
}

bool X11Platform::GetWindowRect(WindowHandle window, Rect& out) {
    const ::Window w = static_cast<::Window>(static_cast<uint32_t>(window));
    if (!w) return false;
    ErrorTrap trap(dpy_);
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, w, &a) || trap.Failed()) return false;
    int x = 0, y = 0;
    ::Window child;
    XTranslateCoordinates(dpy_, w, a.root, 0, 0, &x, &y, &child);
    if (trap.Failed()) return false;
    x -= primary_.left;
    y -= primary_.top;
    out = Rect{x, y, x + a.width, y + a.height};
    return true;
}

bool X11Platform::IsWindow(WindowHandle window) {
    const ::Window w = static_cast<::Window>(static_cast<uint32_t>(window));
    if (!w) return false;
    ErrorTrap trap(dpy_);
    XWindowAttributes a;
    return XGetWindowAttributes(dpy_, w, &a) && !trap.Failed();
}

bool X11Platform::CanDrawInto(WindowHandle window) {
    const ::Window w = static_cast<::Window>(static_cast<uint32_t>(window));
    if (!w) return false;
    ErrorTrap trap(dpy_);
    XWindowAttributes a;
    return XGetWindowAttributes(dpy_, w, &a) && !trap.Failed() && a.c_class == InputOutput;
}

WindowHandle X11Platform::ForegroundWindow() {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    ::Window active = 0;
    if (XGetWindowProperty(dpy_, Root(), Intern("_NET_ACTIVE_WINDOW"), 0, 1, False, XA_WINDOW, &type, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (type == XA_WINDOW && format == 32 && count == 1) active = reinterpret_cast<unsigned long*>(data)[0];
        XFree(data);
    }
    if (!active || !IsWindow(static_cast<WindowHandle>(active))) return 0;
    return static_cast<WindowHandle>(active);
}

Cursor X11Platform::BlankCursor() {
    if (!blank_) {
        char zero = 0;
        Pixmap p = XCreateBitmapFromData(dpy_, Root(), &zero, 1, 1);
        XColor black{};
        blank_ = XCreatePixmapCursor(dpy_, p, p, &black, &black, 0, 0);
        XFreePixmap(dpy_, p);
    }
    return blank_;
}

Cursor X11Platform::CrossCursor() {
    if (!cross_) cross_ = XCreateFontCursor(dpy_, XC_crosshair);
    return cross_;
}

void X11Platform::CursorChanged() {
    for (EventSink* s : painters_) s->CursorChanged();
}

}  // namespace quellora::x11
