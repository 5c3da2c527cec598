// The platform on Xlib: the message loop primitives over the X connection,
// windows that put 1-bit frames with XPutImage (shared memory when the server
// is local), the monitors from XRandR (or Xinerama), the per-user settings file and the
// About dialog drawn with Xft; what it shares with the Wayland host, the
// services only Windows has among them, is posix/desktop_platform.h's.
// EnableWindow does nothing here as there: the About dialog marks itself a
// modal transient of its owner instead.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/desktop_platform.h"

namespace quellora::x11 {

// Something of ours that wants the events of an X window, and paints what
// has been marked for painting when the queue is empty.
class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void HandleEvent(XEvent& event) = 0;
    // Delivers a pending paint, if any; true when one was delivered.
    virtual bool PaintIfDirty() = 0;
    virtual bool Dirty() const = 0;
    // The cursor's display count went across its threshold.
    virtual void CursorChanged() {}
    // The monitors changed (RandR): Monitors() already tells the new set.
    virtual void MonitorsChanged() {}
};

class X11Platform : public posix::DesktopPlatform {
public:
    // Takes over an open connection.
    explicit X11Platform(Display* display);
    ~X11Platform() override;

    Display* Dpy() const { return dpy_; }
    int ScreenNumber() const { return screen_; }
    ::Window Root() const { return RootWindow(dpy_, screen_); }
    Atom WmDeleteWindow() const { return wmDeleteWindow_; }
    // Whether `e` is the window manager's request to close a window.
    bool IsCloseRequest(const XEvent& e) const {
        return e.type == ClientMessage && e.xclient.message_type == wmProtocols_ &&
               static_cast<Atom>(e.xclient.data.l[0]) == wmDeleteWindow_;
    }
    Atom Intern(const char* name) const { return XInternAtom(dpy_, name, False); }
    // Gives a window of ours its title, its class "quellora"/"Quellora" and
    // the window manager's close request.
    void NameWindow(::Window window, const std::string& title);
    // The primary monitor's top-left corner on the X screen.
    int PrimaryX() const { return primary_.left; }
    int PrimaryY() const { return primary_.top; }
    // MIT-SHM completion events carry this type; 0 when shared memory is off.
    int ShmCompletionType() const { return shmCompletion_; }
    bool ShmUsable() const { return shmCompletion_ != 0; }
    void DisableShm() { shmCompletion_ = 0; }

    void Register(::Window window, EventSink* sink);
    void Unregister(::Window window, EventSink* sink);
    // An invisible cursor, and the cross-hair.
    Cursor BlankCursor();
    Cursor CrossCursor();

    // Message loop primitives.
    bool ProcessOneMessage() override;
    void WaitUntil(std::optional<uint32_t> dueTick) override;

    // Windows.
    std::unique_ptr<Window> CreateWindow(const WindowParams& params, WindowEvents& events) override;
    bool GetWindowRect(WindowHandle window, Rect& out) override;
    bool IsWindow(WindowHandle window) override;
    bool CanDrawInto(WindowHandle window) override;
    WindowHandle ForegroundWindow() override;
    int ScreenWidth() override { return primary_.Width(); }
    int ScreenHeight() override { return primary_.Height(); }
    Rect VirtualScreen() override;
    std::vector<Monitor> Monitors() override;
    void DialogFrameSize(int& extraWidth, int& extraHeight) override;
    int ShowModal(ModalDialog& dialog) override;

    std::optional<PlatformFamily> PlatformId() override { return PlatformFamily::X11; }

private:
    void Dispatch(XEvent& event);
    void FindMonitors();
    // After a RandR notification or a change of the root window, the monitors
    // are read again and the windows hear of it when they changed. True when
    // the event was RandR's own and needs no further dispatch.
    bool MonitorsNotified(XEvent& event);
    void CursorChanged() override;

    Display* dpy_;
    int screen_;
    Atom wmProtocols_, wmDeleteWindow_;
    Rect primary_;                  // on the X screen
    std::vector<Monitor> monitors_;  // on the X screen
    int shmCompletion_ = 0;
    int randrEvents_ = -1;  // RandR's first event code, when it tells of changes
    bool usedFonts_ = false;
    Cursor blank_ = 0, cross_ = 0;
    std::multimap<::Window, EventSink*> sinks_;
    std::vector<EventSink*> painters_;  // every sink, in registration order
};

// Tells whether any request made while it lives failed: for the few requests
// that can fail in ordinary use (a window id that names no window).
class ErrorTrap {
public:
    explicit ErrorTrap(Display* dpy);
    ~ErrorTrap();
    // Waits for the server and says whether any trapped request failed.
    bool Failed();

private:
    Display* dpy_;
};

// Installs the handlers that make X errors quiet failures (a request on a
// window that has just gone away) and a lost connection one line on stderr
// and exit status 1.
void InstallErrorHandlers();

// Creates a window of ours or wraps the host's window (x11_window.cpp).
std::unique_ptr<Window> MakeWindow(X11Platform& platform, const WindowParams& params, WindowEvents& events);

// Runs the About dialog modally (x11_about.cpp).
int RunAboutDialog(X11Platform& platform, ModalDialog& dialog);

// Maps a key event to a Windows virtual key code; 0 for keys without one.
uint16_t VirtualKeyOf(XKeyEvent& event);
// The shift state of an X event's modifier mask.
uint32_t ShiftStateOf(unsigned int state);

}  // namespace quellora::x11
