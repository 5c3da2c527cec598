// quellora's command line on Linux: the host's switches (/s, /p ID, /c, /a),
// which go to the core unchanged, or an XScreenSaver hack's options (--root,
// --window-id ID and the usual ones a hack accepts and may ignore).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "saver/saver_options.h"

namespace quellora::posix {

struct CommandLine {
    enum class Kind {
        Host,   // switches for RunQuellora
        Hack,   // draw into a window that a daemon (or the user) names
        Help,   // --help
        Version,  // --version (or first -v, -V, -version)
        ListAdd,     // --xscreensaver-add: into the user's XScreenSaver programs list
        ListRemove,  // --xscreensaver-remove: out of it again
        Idle,        // --idle [SECONDS]: start the saver whenever the session is idle
        Autostart,   // --autostart on|off: the idle watcher at login, or not
        Settings,    // --settings: the settings window, quellora-settings
        Error,  // `error` says what is wrong
    };
    enum class Target {
        Root,      // --root: XSCREENSAVER_WINDOW, or the root window
        WindowId,  // --window-id ID
        Own,       // no target named: a window of our own
    };
    Kind kind = Kind::Host;
    Target target = Target::Own;
    std::string windowId;  // the text after --window-id
    std::string display;   // --display NAME; empty: $DISPLAY
    SaverOptions options;  // --scale, --fps
    std::optional<uint32_t> idleSeconds;  // --idle SECONDS; nullopt: the settings' IdleTimeout
    bool autostart = false;  // --autostart on
    std::string error;
};

// Arguments exclude the program name. The arguments are a hack's when one of
// them is a hack option or starts with "--"; every argument must then be one.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// `text` in single quotes for a one-line message: control characters (C0,
// DEL and C1, which terminals act on), backslashes, quotes and bytes that are
// no UTF-8 are escaped (\n, \t, \r, \\, \', \xNN), so whatever a user typed
// stays on one line and reaches the terminal as plain text.
std::string Quoted(const std::string& text);

// The program's own lines, each "quellora: LINE": Fail puts one on stderr
// and returns 1, the exit status of a command that failed; Tell puts one on
// stdout, for what a command did.
int Fail(const std::string& line);
void Tell(const std::string& line);

inline constexpr const char* kUsage =
    "usage: quellora [/s | /p WINDOW-ID | /c | /a]\n"
    "       quellora --root | --window-id WINDOW-ID | --window  [hack options]\n"
    "       quellora --xscreensaver-add | --xscreensaver-remove | --settings\n"
    "  /s           the screen saver, full screen (also -s, s)\n"
    "  /p ID        the preview picture in window ID\n"
    "  /c           the About dialog (also with no arguments)\n"
    "  /a           Windows' password change: Linux has no such dialog, so it\n"
    "               changes nothing and ends at once\n"
    "  --root       the animation in $XSCREENSAVER_WINDOW, or in the root window\n"
    "  --window-id  the animation in the window ID (0x... or decimal)\n"
    "  --window     the animation in a window of its own\n"
    "  --scale N    N screen pixels for a picture pixel (1 to 8), or auto (the\n"
    "               largest that fits whole); without it, Scale in the settings file\n"
    "  --fps        show the frame rate in the bottom-left corner (--no-fps: don't)\n"
    "  --display D  the X display D instead of $DISPLAY\n"
    "  --version    the program's name and version (also -v, -V, -version)\n"
    "  --xscreensaver-add     put Quellora into your XScreenSaver programs list\n"
    "  --xscreensaver-remove  take it out again (~/.xscreensaver)\n"
    "  --idle [SECONDS]       stay running and start the saver whenever the session\n"
    "                         has been idle SECONDS (default: IdleTimeout, else 600)\n"
    "  --autostart on|off     start --idle at login (~/.config/autostart), or not\n"
    "  --settings             the settings window (quellora-settings)\n"
    "  -install, -visual V, -delay N, -pair, -geometry G and the other usual\n"
    "  hack options are accepted and ignored. A window id wins over --root.\n"
    "Settings: [ScreenSaverSample] in $XDG_CONFIG_HOME/Orvandel/settings.ini\n"
    "(~/.config/Orvandel/settings.ini): Scale=auto|1..8, Monitors=all|primary,\n"
    "IdleTimeout=SECONDS (1 to 86400, for --idle).\n"
    "On a Wayland compositor /s runs natively; QUELLORA_BACKEND=x11 or =wayland\n"
    "forces a backend. More in the manual: man 6x quellora.\n";

}  // namespace quellora::posix
