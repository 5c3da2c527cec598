// quellora's command line on Linux.
#include "platform/x11/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace quellora::x11 {

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
    {"xrm", true},
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

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    bool hackForm = false;
    for (const auto& a : args) {
        if (a == "--help") {
            cl.kind = CommandLine::Kind::Help;
            return cl;
        }
        if (FindHackOption(a) || a.rfind("--", 0) == 0) hackForm = true;
    }
    if (!hackForm) return cl;  // the host's switches

    cl.kind = CommandLine::Kind::Hack;
    for (size_t i = 0; i < args.size(); ++i) {
        const HackOption* o = FindHackOption(args[i]);
        if (!o) {
            cl.kind = CommandLine::Kind::Error;
            cl.error = "unknown option '" + args[i] + "' (try --help)";
            return cl;
        }
        std::string value;
        if (o->takesValue) {
            if (i + 1 >= args.size()) {
                cl.kind = CommandLine::Kind::Error;
                cl.error = "option '" + args[i] + "' needs a value";
                return cl;
            }
            value = args[++i];
        }
        const std::string name = o->name;
        if (name == "root") {
            cl.target = CommandLine::Target::Root;
        } else if (name == "window-id") {
            cl.target = CommandLine::Target::WindowId;
            cl.windowId = value;
        } else if (name == "display") {
            cl.display = value;
        }
    }
    return cl;
}

std::optional<unsigned long> ParseWindowId(const std::string& text) {
    if (text.empty()) return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return std::nullopt;
    for (char c : digits) {
        const bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!ok) return std::nullopt;
    }
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0 || v == 0 || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<unsigned long>(v);
}

}  // namespace quellora::x11
