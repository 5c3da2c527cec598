// libFuzzer target: both command line dialects. The input is the arguments,
// separated by zero bytes. The hack dialect must sort every argument list
// into one kind with what that kind needs; the host's switches must give a
// run mode; Quoted must keep any text on one line of plain UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/entry.h"
#include "platform/posix/command_line.h"
#include "platform/text.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Quoted's promise: one line, no control characters, valid UTF-8, in quotes.
void CheckQuoted(const std::string& q) {
    Check(q.size() >= 2 && q.front() == '\'' && q.back() == '\'');
    for (size_t i = 0; i < q.size();) {
        const unsigned char c = static_cast<unsigned char>(q[i]);
        Check(c >= 0x20 && c != 0x7F);
        const int len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        Check(len > 0 && i + len <= q.size());
        uint32_t cp = len == 1 ? c : len == 2 ? (c & 0x1Fu) : len == 3 ? (c & 0x0Fu) : (c & 0x07u);
        for (int k = 1; k < len; ++k) {
            const unsigned char d = static_cast<unsigned char>(q[i + k]);
            Check((d & 0xC0) == 0x80);
            cp = (cp << 6) | (d & 0x3Fu);
        }
        Check(!(cp >= 0x80 && cp <= 0x9F) && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF);
        Check(len == 1 || cp >= (len == 2 ? 0x80u : len == 3 ? 0x800u : 0x10000u));
        i += static_cast<size_t>(len);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t pos = 0; pos <= text.size() && size > 0;) {
        const size_t end = text.find('\0', pos);
        args.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        if (end == std::string::npos) break;
        pos = end + 1;
    }

    using quellora::posix::CommandLine;
    const CommandLine cl = quellora::posix::ParseCommandLine(args);
    switch (cl.kind) {
        case CommandLine::Kind::Error:
            Check(!cl.error.empty() && cl.error.find('\n') == std::string::npos);
            break;
        case CommandLine::Kind::Hack:
            if (cl.target == CommandLine::Target::WindowId) {
                bool named = false;
                for (const auto& a : args) named = named || a == cl.windowId;
                Check(named);
            }
            if (cl.options.scale) Check(*cl.options.scale >= 0 && *cl.options.scale <= 8);
            break;
        case CommandLine::Kind::Host:
            for (const auto& a : args) Check(a.rfind("--", 0) != 0);
            break;
        case CommandLine::Kind::ListAdd:
        case CommandLine::Kind::ListRemove:
        case CommandLine::Kind::Settings:
            Check(args.size() == 1);
            break;
        case CommandLine::Kind::Idle:
            Check(args[0] == "--idle" && args.size() <= 2 && cl.idleSeconds.has_value() == (args.size() == 2));
            if (cl.idleSeconds) Check(*cl.idleSeconds >= 1 && *cl.idleSeconds <= 86400);
            break;
        case CommandLine::Kind::Autostart:
            Check(args.size() == 2 && args[0] == "--autostart" && (args[1] == "on" || args[1] == "off"));
            Check(cl.autostart == (args[1] == "on"));
            break;
        case CommandLine::Kind::Help:
        case CommandLine::Kind::Version:
            break;
    }

    // The host's switches: the mode from the first argument, the window
    // from the second.
    const std::string mode = quellora::ModeString(args);
    Check(!mode.empty() || (!args.empty() && args[0].empty()));
    const quellora::RunMode run = quellora::ModeOf(mode);
    if (args.size() > 1 && run == quellora::RunMode::Preview) {
        const intptr_t parent = quellora::ParseHandle(args[1]);
        Check(parent == 0 || quellora::ParseHandle(std::to_string(static_cast<uint32_t>(parent))) == parent);
    }

    for (const auto& a : args) CheckQuoted(quellora::posix::Quoted(a));
    CheckQuoted(quellora::posix::Quoted(text));
    return 0;
}
