// quellora: the saver on X11. Run by itself it takes the host's switches
// (/s, /p ID, /c, none); run by XScreenSaver it is a hack that draws into
// the window it is given (--root, --window-id ID).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/x11/command_line.h"
#include "platform/x11/x11_platform.h"

namespace {

using quellora::x11::CommandLine;

int Fail(const std::string& message) {
    std::fprintf(stderr, "quellora: %s\n", message.c_str());
    return 1;
}

std::string Hex(unsigned long id) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%lx", id);
    return buf;
}

// A window of our own for the animation, when a hack is run from a terminal.
::Window MakeOwnWindow(quellora::x11::X11Platform& p) {
    Display* dpy = p.Dpy();
    const int w = 1024, h = 768;
    XSetWindowAttributes swa{};
    swa.background_pixel = BlackPixel(dpy, p.ScreenNumber());
    const ::Window win = XCreateWindow(dpy, p.Root(), p.PrimaryX() + (p.ScreenWidth() - w) / 2,
                                       p.PrimaryY() + (p.ScreenHeight() - h) / 2, w, h, 0, CopyFromParent,
                                       InputOutput, CopyFromParent, CWBackPixel, &swa);
    XStoreName(dpy, win, "Quellora");
    XClassHint cls{const_cast<char*>("quellora"), const_cast<char*>("Quellora")};
    XSetClassHint(dpy, win, &cls);
    Atom del = p.WmDeleteWindow();
    XSetWMProtocols(dpy, win, &del, 1);
    XMapWindow(dpy, win);
    XSync(dpy, False);
    return win;
}

// Whether `window` can take the animation: one line on stderr when it can't.
int CheckTarget(quellora::x11::X11Platform& platform, unsigned long window, const std::string& where) {
    using Kind = quellora::x11::X11Platform::WindowKind;
    switch (platform.KindOf(static_cast<quellora::WindowHandle>(window))) {
        case Kind::Missing: return Fail("no window " + Hex(window) + where);
        case Kind::NoPixels: return Fail("window " + Hex(window) + where + " is input-only: nothing can be drawn in it");
        case Kind::Drawable: return 0;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using quellora::x11::Quoted;
    std::vector<std::string> args(argv + 1, argv + argc);
    const CommandLine cl = quellora::x11::ParseCommandLine(args);
    if (cl.kind == CommandLine::Kind::Help) {
        std::fputs(quellora::x11::kUsage, stdout);
        return 0;
    }
    if (cl.kind == CommandLine::Kind::Version) {
        std::puts("quellora " QUELLORA_VERSION);  // QUELLORA_VERSION: the project's version, from CMake
        return 0;
    }
    if (cl.kind == CommandLine::Kind::Error) return Fail(cl.error);

    const char* displayName = cl.display.empty() ? nullptr : cl.display.c_str();
    Display* dpy = XOpenDisplay(displayName);
    if (!dpy) {
        if (!displayName && !std::getenv("DISPLAY")) return Fail("no X display (DISPLAY is not set)");
        return Fail("cannot open display " + Quoted(XDisplayName(displayName)));
    }
    quellora::x11::X11Platform platform(dpy);
    const std::string where = " on display " + Quoted(DisplayString(dpy));

    if (cl.kind == CommandLine::Kind::Hack) {
        ::Window target = 0;
        switch (cl.target) {
            case CommandLine::Target::WindowId: {
                const auto id = quellora::x11::ParseWindowId(cl.windowId);
                if (!id) return Fail("--window-id needs a window id (0x... or decimal), not " + Quoted(cl.windowId));
                target = *id;
                break;
            }
            case CommandLine::Target::Root: {
                const char* env = std::getenv("XSCREENSAVER_WINDOW");
                if (env && *env) {
                    const auto id = quellora::x11::ParseWindowId(env);
                    if (!id) return Fail("XSCREENSAVER_WINDOW is no window id: " + Quoted(env));
                    target = *id;
                } else {
                    target = platform.Root();
                }
                break;
            }
            case CommandLine::Target::Own: target = MakeOwnWindow(platform); break;
        }
        if (const int failed = CheckTarget(platform, target, where)) return failed;
        quellora::RunHosted(platform, static_cast<quellora::WindowHandle>(target));
        return 0;
    }

    // The host's switches. A preview needs a window to draw in.
    if (quellora::ModeOf(quellora::ModeString(args)) == quellora::RunMode::Preview) {
        const std::string idText = args.size() > 1 ? args[1] : std::string();
        const quellora::WindowHandle parent = quellora::ParseHandle(idText);
        if (parent == 0) return Fail("/p needs a window id, not " + Quoted(idText));
        if (const int failed = CheckTarget(platform, static_cast<uint32_t>(parent), where)) return failed;
    }
    quellora::RunQuellora(platform, args);
    return 0;
}
