// quellora, the Linux program: the saver on X11 and Wayland. Run by itself it
// takes the host's switches (/s, /p ID, /c, none); run by XScreenSaver it is
// a hack that draws into the window it is given (--root, --window-id ID).
// The full-screen saver runs on Wayland instead when a compositor answers
// (platform/wayland). It also edits the XScreenSaver programs list, with
// --idle watches the session and starts the saver when it is idle, and with
// --settings runs the settings window.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/linux/autostart.h"
#include "platform/linux/idle_watcher.h"
#include "platform/linux/launch.h"
#include "platform/linux/settings_window.h"
#include "platform/text.h"
#include "platform/posix/command_line.h"
#include "platform/posix/xscreensaver_list.h"
#include "platform/x11/x11_platform.h"
#ifdef QUELLORA_WAYLAND
#include "platform/wayland/wayland_host.h"
#endif

namespace {

using quellora::posix::CommandLine;
using quellora::posix::Fail;

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
    p.NameWindow(win, "Quellora");
    XMapWindow(dpy, win);
    XSync(dpy, False);
    return win;
}

// What the core says went wrong, as one line on stderr.
int Fail(const quellora::RunError& error, const std::string& where, const std::vector<std::string>& args) {
    using Kind = quellora::RunError::Kind;
    using quellora::posix::Quoted;
    const unsigned long id = static_cast<uint32_t>(error.window);
    switch (error.kind) {
        case Kind::NoWindowId:
            // The id is the argument after the switch: "/p:123" has it glued on.
            if (!args.empty() && args[0].size() > 2)
                return Fail("/p needs the window id as the argument after it (/p ID), not " +
                            Quoted(args.size() > 1 ? args[0] + " " + args[1] : args[0]));
            return Fail("/p needs a window id, not " + Quoted(error.argument));
        case Kind::NoWindow: return Fail("no window " + Hex(id) + where);
        case Kind::NoPixels: return Fail("window " + Hex(id) + where + " is input-only: nothing can be drawn in it");
    }
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using quellora::posix::Quoted;
    std::vector<std::string> args(argv + 1, argv + argc);
    const CommandLine cl = quellora::posix::ParseCommandLine(args);
    const auto env = quellora::linux_entry::LaunchEnvironment::Read();
    if (cl.kind == CommandLine::Kind::Help) {
        std::fputs(quellora::posix::kUsage, stdout);
        return 0;
    }
    if (cl.kind == CommandLine::Kind::Version) {
        std::puts("quellora " QUELLORA_VERSION);  // QUELLORA_VERSION: the project's version, from CMake
        return 0;
    }
    if (cl.kind == CommandLine::Kind::Error) return Fail(cl.error);
    if (cl.kind == CommandLine::Kind::ListAdd || cl.kind == CommandLine::Kind::ListRemove)
        // QUELLORA_HACK_FOLDER: where this install puts its hacks, from CMake
        return quellora::posix::RunXScreenSaverListCommand(cl.kind == CommandLine::Kind::ListAdd, QUELLORA_HACK_FOLDER);
    if (cl.kind == CommandLine::Kind::Idle) return quellora::linux_entry::RunIdleWatcher(cl.idleSeconds, env);
    if (cl.kind == CommandLine::Kind::Autostart)
        return quellora::linux_entry::RunAutostartCommand(cl.autostart, QUELLORA_HACK_FOLDER);
    // QUELLORA_BINDIR: where this install puts its commands, from CMake
    if (cl.kind == CommandLine::Kind::Settings) return quellora::linux_entry::RunSettingsWindow(QUELLORA_BINDIR);

    // The full-screen saver runs on a Wayland compositor when one answers.
#ifdef QUELLORA_WAYLAND
    constexpr bool kWayland = true;
#else
    constexpr bool kWayland = false;
#endif
    using Host = quellora::linux_entry::HostChoice::Host;
    const auto choice = quellora::linux_entry::ChooseHost(env, cl, args, kWayland);
    if (choice.host == Host::Fail) return Fail(choice.why);
    std::string noWayland = choice.why;  // why the saver did not run on Wayland, when it could have
#ifdef QUELLORA_WAYLAND
    if (choice.host == Host::Wayland || choice.host == Host::WaylandFirst) {
        const auto connection = quellora::wayland::Connect(env.waylandSocket, env.waylandDisplay);
        if (connection.display) return quellora::wayland::Run(connection.display, args);
        if (choice.host == Host::Wayland) return Fail(connection.why);
        noWayland = connection.why;
    }
#endif

    const char* displayName = cl.display.empty() ? nullptr : cl.display.c_str();
    Display* dpy = XOpenDisplay(displayName);
    if (!dpy) {
        // Both hosts the saver looked for, in one line.
        const std::string before = noWayland.empty() ? "" : noWayland + " and ";
        if (!displayName && !env.display) return Fail(before + "no X display (DISPLAY is not set)");
        return Fail(before + "cannot open display " + Quoted(XDisplayName(displayName)));
    }
    quellora::x11::X11Platform platform(dpy);
    const std::string where = " on display " + Quoted(DisplayString(dpy));

    if (cl.kind == CommandLine::Kind::Hack) {
        ::Window target = 0;
        switch (cl.target) {
            case CommandLine::Target::WindowId: {
                const auto id = quellora::ParseWindowId(cl.windowId);
                if (!id) return Fail("--window-id needs a window id (0x... or decimal), not " + Quoted(cl.windowId));
                target = *id;
                break;
            }
            case CommandLine::Target::Root: {
                const char* env = std::getenv("XSCREENSAVER_WINDOW");
                if (env && *env) {
                    const auto id = quellora::ParseWindowId(env);
                    if (!id) return Fail("XSCREENSAVER_WINDOW is no window id: " + Quoted(env));
                    target = *id;
                } else {
                    target = platform.Root();
                }
                break;
            }
            case CommandLine::Target::Own: target = MakeOwnWindow(platform); break;
        }
        if (const auto error = quellora::RunHosted(platform, static_cast<quellora::WindowHandle>(target), cl.options))
            return Fail(*error, where, args);
        return 0;
    }

    // The host's switches.
    if (const auto error = quellora::RunQuellora(platform, args)) return Fail(*error, where, args);
    return 0;
}
