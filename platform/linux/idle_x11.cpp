// The X server's idle time through the MIT-SCREEN-SAVER extension: the
// watcher sleeps until the timeout could be reached, then asks how long the
// server has seen no input; while idle it asks a few times a second, so that
// input ends the idle period at once. A display that runs an XScreenSaver
// daemon is left to the daemon.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

#include <unistd.h>


#include "platform/linux/idle_source.h"

namespace quellora::linux_entry {

namespace {

constexpr int kIdlePollMs = 200;

class X11Idle : public IdleSource {
public:
    X11Idle(Display* dpy, uint32_t seconds) : dpy_(dpy), timeoutMs_(static_cast<unsigned long>(seconds) * 1000) {
        info_ = XScreenSaverAllocInfo();
        // The server gone, Xlib returns from the call that found it instead
        // of ending the program, and Read says so to the loop.
        XSetIOErrorHandler(Quiet);
        XSetIOErrorExitHandler(dpy_, Gone, this);
    }
    ~X11Idle() override {
        XFree(info_);
        XCloseDisplay(dpy_);
    }

    std::string Name() const override { return "MIT-SCREEN-SAVER (X11 " + std::string(DisplayString(dpy_)) + ")"; }
    int Fd() const override { return ConnectionNumber(dpy_); }

    int Prepare() override {
        XFlush(dpy_);
        if (idle_ && !gone_) return kIdlePollMs;
        const unsigned long idleMs = gone_ ? 0 : IdleMs();
        return gone_ || idleMs >= timeoutMs_ ? 0 : static_cast<int>(timeoutMs_ - idleMs);
    }

    bool Read(bool readable, std::vector<Event>& events, std::string& error) override {
        if (readable) {
            while (!gone_ && XPending(dpy_)) {
                XEvent e;
                XNextEvent(dpy_, &e);
            }
        }
        const unsigned long idleMs = gone_ ? 0 : IdleMs();
        if (gone_) {
            error = "the X server went away";
            return false;
        }
        if (!idle_ && idleMs >= timeoutMs_) {
            idle_ = true;
            events.push_back(Event::Idle);
        } else if (idle_ && idleMs < lastMs_) {
            idle_ = false;
            events.push_back(Event::Active);
        }
        lastMs_ = idleMs;
        return true;
    }

    bool SetTimeout(uint32_t seconds, std::vector<Event>&, std::string&) override {
        timeoutMs_ = static_cast<unsigned long>(seconds) * 1000;
        return true;
    }

private:
    static int Quiet(Display*) { return 0; }
    static void Gone(Display*, void* self) { static_cast<X11Idle*>(self)->gone_ = true; }

    unsigned long IdleMs() {
        XScreenSaverQueryInfo(dpy_, DefaultRootWindow(dpy_), info_);
        return info_->idle;
    }

    Display* dpy_;
    XScreenSaverInfo* info_ = nullptr;
    unsigned long timeoutMs_;
    unsigned long lastMs_ = 0;
    bool idle_ = false;
    bool gone_ = false;
};

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

bool HasVersion(Display* dpy, ::Window window, Atom version) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    const int rc =
        XGetWindowProperty(dpy, window, version, 0, 64, False, XA_STRING, &type, &format, &items, &after, &data);
    if (data) XFree(data);
    return rc == Success && type != None;
}

// XScreenSaver's daemon announces itself with _SCREENSAVER_VERSION: today's
// on a window of its own among the root window's children ("XScreenSaver
// Daemon"), older ones on the root window itself. Its own clients look in
// both places.
bool DaemonRuns(Display* dpy) {
    const Atom version = XInternAtom(dpy, "_SCREENSAVER_VERSION", True);
    if (version == None) return false;
    const ::Window root = DefaultRootWindow(dpy);
    if (HasVersion(dpy, root, version)) return true;
    ::Window rootReturn = 0, parent = 0;
    ::Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, root, &rootReturn, &parent, &children, &count)) return false;
    // A window may go while it is asked: that is no error of ours.
    XSync(dpy, False);
    const auto previous = XSetErrorHandler(IgnoreErrors);
    bool found = false;
    for (unsigned int i = 0; i < count && !found; ++i) found = HasVersion(dpy, children[i], version);
    XSync(dpy, False);
    XSetErrorHandler(previous);
    if (children) XFree(children);
    return found;
}

}  // namespace

std::unique_ptr<IdleSource> OpenX11Idle(uint32_t seconds, const std::string& display, std::string& why, bool& fatal) {
    fatal = false;
    if (display.empty()) {
        why = "no X display (DISPLAY is not set)";
        return nullptr;
    }
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) {
        why = "cannot open the X display";
        return nullptr;
    }
    if (DaemonRuns(dpy)) {
        XCloseDisplay(dpy);
        fatal = true;
        why = "the XScreenSaver daemon runs on this display and starts the savers itself; choose Quellora in "
              "xscreensaver-settings (quellora --xscreensaver-add) instead";
        return nullptr;
    }
    int event = 0, error = 0;
    if (!XScreenSaverQueryExtension(dpy, &event, &error)) {
        XCloseDisplay(dpy);
        why = "the X server has no MIT-SCREEN-SAVER extension";
        return nullptr;
    }
    return std::make_unique<X11Idle>(dpy, seconds);
}

}  // namespace quellora::linux_entry
