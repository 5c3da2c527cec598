// libFuzzer target: the settings file's INI reader on arbitrary text. What it
// accepts must hold lower-case, non-empty names, and the sections written out
// again as INI must read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/settings_file.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto sections = quellora::posix::ParseIni(text);
    if (!sections) return 0;
    std::string again;
    for (const auto& [section, entries] : *sections) {
        if (section != quellora::ToLowerAscii(section)) std::abort();
        again += "[ " + section + " ]\n";
        for (const auto& [name, value] : entries) {
            if (name.empty() || name != quellora::ToLowerAscii(name)) std::abort();
            again += name + " = \"" + value + "\"\n";
        }
    }
    const auto reread = quellora::posix::ParseIni(again);
    if (!reread || *reread != *sections) std::abort();
    return 0;
}
