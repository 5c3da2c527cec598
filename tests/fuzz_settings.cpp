// libFuzzer target: the settings file's INI reader on arbitrary text. What it
// takes must hold lower-case, non-empty names; the sections written out again
// as INI must read back the same, with no line skipped; and a line that is not
// an entry, put after any text, is skipped without changing what stands.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/settings_file.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto ini = quellora::posix::ParseIni(text);
    size_t lastLine = 0;
    for (const auto& skip : ini.skipped) {
        if (skip.line <= lastLine) std::abort();  // one report a line, in order
        lastLine = skip.line;
    }
    std::string again;
    for (const auto& [section, entries] : ini.sections) {
        if (section != quellora::ToLowerAscii(section)) std::abort();
        again += "[ " + section + " ]\n";
        for (const auto& [name, value] : entries) {
            if (name.empty() || name != quellora::ToLowerAscii(name)) std::abort();
            if (value.find('\0') != std::string::npos) std::abort();
            again += name + " = \"" + value + "\"\n";
        }
    }
    const auto reread = quellora::posix::ParseIni(again);
    if (reread.sections != ini.sections || !reread.skipped.empty()) std::abort();
    const auto withBadLine = quellora::posix::ParseIni(text + "\nnot an entry\n");
    if (withBadLine.sections != ini.sections || withBadLine.skipped.size() != ini.skipped.size() + 1) std::abort();
    return 0;
}
