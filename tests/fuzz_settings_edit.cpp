// libFuzzer target: setting one entry of arbitrary INI text. Every line of the
// text but the one that changes stays byte for byte (what differs between
// the two texts holds no line break of the old one), setting the same value
// again changes nothing, and where the reader took the old text it takes the
// new one with the entry set and every other entry as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/settings_edit.h"
#include "platform/posix/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // The first byte picks the entry and its value; the rest is the text.
    static const char* const kNames[] = {"Scale", "Monitors", "IdleTimeout", "DispStr"};
    static const char* const kValues[] = {"auto", "2", "primary", "600", ""};
    const char* name = kNames[data[0] % 4];
    const char* value = kValues[(data[0] / 4) % 5];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string out = quellora::posix::SetIniEntry(text, "ScreenSaverSample", name, value);

    size_t prefix = 0;
    while (prefix < text.size() && prefix < out.size() && text[prefix] == out[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < text.size() - prefix && suffix < out.size() - prefix &&
           text[text.size() - 1 - suffix] == out[out.size() - 1 - suffix])
        ++suffix;
    if (text.substr(prefix, text.size() - prefix - suffix).find('\n') != std::string::npos) std::abort();

    if (quellora::posix::SetIniEntry(out, "ScreenSaverSample", name, value) != out) std::abort();

    const auto before = quellora::posix::ParseIni(text);
    if (!before.skipped.empty()) return 0;
    const auto after = quellora::posix::ParseIni(out);
    if (!after.skipped.empty()) std::abort();
    auto expected = before.sections;
    std::string lower = name;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    expected["screensaversample"][lower] = value;
    if (after.sections != expected) std::abort();
    return 0;
}
