// quellora's command line on Linux.
#include "platform/posix/command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/display_options.h"
#include "settings/idle_timeout.h"

namespace quellora::posix {

namespace {

struct HackOption {
    const char* name;  // without its leading dashes
    bool takesValue;
};

// The options XScreenSaver and its hacks use. The ones we have no use for are
// accepted so that any command line the daemon builds works.
constexpr HackOption kHackOptions[] = {
    {"root", false},      {"window-id", true}, {"window", false},    {"display", true},
    {"install", false},   {"noinstall", false}, {"no-install", false}, {"visual", true},
    {"fps", false},       {"no-fps", false},   {"delay", true},      {"pair", false},
    {"geometry", true},   {"mono", false},     {"sync", false},      {"bg", true},
    {"fg", true},         {"background", true}, {"foreground", true}, {"name", true},
    {"xrm", true},        {"scale", true},
};

// The option `arg` names, if it is one: "-x" or "--x".
const HackOption* FindHackOption(const std::string& arg) {
    std::string name;
    if (arg.rfind("--", 0) == 0)
        name = arg.substr(2);
    else if (arg.rfind("-", 0) == 0)
        name = arg.substr(1);
    else
        return nullptr;
    for (const auto& o : kHackOptions)
        if (name == o.name) return &o;
    return nullptr;
}

// One of the host's switches as a first argument: /s, -s, s, /p, /c, /a,
// in either case, alone or with a colon and more after it (/c:123).
bool IsHostSwitch(const std::string& arg) {
    if (arg == "s" || arg == "S") return true;
    return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-') && std::strchr("sSpPcCaA", arg[1]) &&
           (arg.size() == 2 || arg[2] == ':');
}

CommandLine Error(std::string text) {
    CommandLine cl;
    cl.kind = CommandLine::Kind::Error;
    cl.error = std::move(text);
    return cl;
}

// --idle [SECONDS] or --autostart on|off (args[0]), alone with its value.
CommandLine ParseWatcherOptions(const std::vector<std::string>& args) {
    CommandLine cl;
    const std::string& option = args[0];
    if (option == "--idle") {
        if (args.size() > 2) return Error("--idle takes only the seconds of idle time");
        cl.kind = CommandLine::Kind::Idle;
        if (args.size() == 2) {
            cl.idleSeconds = ParseIdleSeconds(args[1]);
            if (!cl.idleSeconds)
                return Error("--idle needs a whole number of seconds from 1 to " + std::to_string(kMaxIdleSeconds) +
                             ", not " + Quoted(args[1]));
        }
        return cl;
    }
    if (args.size() != 2 || (args[1] != "on" && args[1] != "off"))
        return Error(args.size() < 2 ? std::string("--autostart needs on or off")
                                     : "--autostart takes on or off, not " + Quoted(args[1]));
    cl.kind = CommandLine::Kind::Autostart;
    cl.autostart = args[1] == "on";
    return cl;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    // The usual ways of asking for help, as the first argument; the host
    // would take -h, -? and help for the saver (second letter H, ? or E).
    if (!args.empty())
        for (const char* ask : {"-h", "-?", "/?", "-help", "help"})
            if (args[0] == ask) {
                cl.kind = CommandLine::Kind::Help;
                return cl;
            }
    // And of asking for the version, which the host would take for the saver.
    if (!args.empty() && (args[0] == "-v" || args[0] == "-V" || args[0] == "-version")) {
        cl.kind = CommandLine::Kind::Version;
        return cl;
    }
    bool hackForm = false;
    for (const auto& a : args) {
        if (a == "--help" || a == "--version") {
            cl.kind = a == "--help" ? CommandLine::Kind::Help : CommandLine::Kind::Version;
            return cl;
        }
        if (a == "--settings") {
            if (args.size() != 1) return Error("--settings takes no other options");
            cl.kind = CommandLine::Kind::Settings;
            return cl;
        }
        if (a == "--xscreensaver-add" || a == "--xscreensaver-remove") {
            if (args.size() != 1) {
                cl.kind = CommandLine::Kind::Error;
                cl.error = a + " takes no other options";
                return cl;
            }
            cl.kind = a == "--xscreensaver-add" ? CommandLine::Kind::ListAdd : CommandLine::Kind::ListRemove;
            return cl;
        }
        if (a == "--idle" || a == "--autostart")
            return a == args[0] ? ParseWatcherOptions(args) : Error(a + " takes no other options but its value");
        if (FindHackOption(a) || a.rfind("--", 0) == 0) hackForm = true;
    }
    if (!hackForm) return cl;  // the host's switches

    // A host's switch with a hack's option after it: the switch stands alone.
    if (IsHostSwitch(args[0]))
        for (size_t i = 1; i < args.size(); ++i)
            if (FindHackOption(args[i]) || args[i].rfind("--", 0) == 0) {
                const HackOption* o = FindHackOption(args[i]);
                return Error(Quoted(args[0]) + " takes no option " + Quoted(args[i]) +
                             (o && std::string(o->name) == "display"
                                  ? "; for another X display, put DISPLAY=NAME before the command"
                                  : std::string()));
            }

    cl.kind = CommandLine::Kind::Hack;
    for (size_t i = 0; i < args.size(); ++i) {
        const HackOption* o = FindHackOption(args[i]);
        if (!o) {
            cl.kind = CommandLine::Kind::Error;
            cl.error = "unknown option " + Quoted(args[i]) + " (try --help)";
            return cl;
        }
        std::string value;
        if (o->takesValue) {
            if (i + 1 >= args.size()) {
                cl.kind = CommandLine::Kind::Error;
                cl.error = "option " + Quoted(args[i]) + " needs a value";
                return cl;
            }
            value = args[++i];
        }
        const std::string name = o->name;
        if (name == "root" || name == "window") {
            // The later of the two counts, as for the daemon's own hacks;
            // a window id wins over both, whatever the order (the daemon's
            // settings preview passes --root and --window-id together).
            if (cl.target != CommandLine::Target::WindowId)
                cl.target = name == "root" ? CommandLine::Target::Root : CommandLine::Target::Own;
        } else if (name == "window-id") {
            cl.target = CommandLine::Target::WindowId;
            cl.windowId = value;
        } else if (name == "display") {
            cl.display = value;
        } else if (name == "fps" || name == "no-fps") {
            cl.options.showFrameRate = name == "fps";
        } else if (name == "scale") {
            cl.options.scale = ParseScale(value);
            if (!cl.options.scale) {
                cl.kind = CommandLine::Kind::Error;
                cl.error = "--scale needs auto or a whole number from 1 to 8, not " + Quoted(value);
                return cl;
            }
        }
    }
    return cl;
}

std::string Quoted(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "'";
    auto escapeByte = [&](unsigned char b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
                case '\n': out += "\\n"; break;
                case '\t': out += "\\t"; break;
                case '\r': out += "\\r"; break;
                case '\\': out += "\\\\"; break;
                case '\'': out += "\\'"; break;
                default:
                    if (c < 0x20 || c == 0x7F)
                        escapeByte(c);
                    else
                        out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A UTF-8 sequence: its length from the lead byte, then continuation
        // bytes, no overlong forms, no surrogates, nothing past U+10FFFF.
        int len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        uint32_t cp = len == 4 ? (c & 0x07u) : len == 3 ? (c & 0x0Fu) : (c & 0x1Fu);
        bool ok = len > 0 && c <= 0xF4 && i + len <= text.size();
        for (int k = 1; ok && k < len; ++k) {
            const unsigned char d = static_cast<unsigned char>(text[i + k]);
            ok = (d & 0xC0) == 0x80;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        if (ok) ok = !(len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) && !(len == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (!ok || (cp >= 0x80 && cp <= 0x9F)) {
            // Not UTF-8, or a C1 control (U+009B is a terminal's CSI): byte by byte.
            const int n = ok ? len : 1;
            for (int k = 0; k < n; ++k) escapeByte(static_cast<unsigned char>(text[i + k]));
            i += n;
            continue;
        }
        out.append(text, i, static_cast<size_t>(len));
        i += static_cast<size_t>(len);
    }
    out += "'";
    return out;
}

int Fail(const std::string& line) {
    std::fprintf(stderr, "quellora: %s\n", line.c_str());
    return 1;
}

void Tell(const std::string& line) {
    std::printf("quellora: %s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace quellora::posix
