// libFuzzer target: the XScreenSaver programs list editor on arbitrary text.
// Add must give a text that reads back with one entry more at the end and
// every other entry and byte kept; a second Add changes nothing; Remove gives
// the text before Add back, byte for byte. The first byte picks the command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/xscreensaver_list.h"

namespace {

using quellora::posix::ListEdit;

const std::string kDefaults =
    "! the system's list\n"
    "*programs:\t\\\n"
    "\t\t\t\tmaze --root\t\\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\\n\\\n"
    "\t\"Moire\"\tmoire2 --root\t\\n\n"
    "*other: 1\n";

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string command = data[0] % 2 ? "quellora" : "/opt/q/lib/quellora";
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto before = quellora::posix::ParsePrograms(text);
    const ListEdit add = quellora::posix::AddQuellora(text, kDefaults, command);
    if (!before) {
        Check(add.result == ListEdit::Result::Failed);
        Check(quellora::posix::RemoveQuellora(text, kDefaults, command).result == ListEdit::Result::Failed);
        return 0;
    }
    bool had = false;
    for (const auto& e : before->entries) had = had || quellora::posix::RunsQuellora(e);
    if (had) Check(add.result == ListEdit::Result::Unchanged);
    if (add.result != ListEdit::Result::Changed) {
        // Remove still must leave a text that reads back, or fail.
        const ListEdit remove = quellora::posix::RemoveQuellora(text, kDefaults, command);
        if (remove.result == ListEdit::Result::Changed) {
            const auto after = quellora::posix::ParsePrograms(remove.text);
            Check(after.has_value());
            for (const auto& e : after->entries) Check(!quellora::posix::RunsQuellora(e));
        }
        return 0;
    }

    // One run of bytes inserted, nothing else changed.
    const std::string& out = add.text;
    Check(out.size() > text.size());
    size_t prefix = 0;
    while (prefix < text.size() && out[prefix] == text[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < text.size() - prefix && out[out.size() - 1 - suffix] == text[text.size() - 1 - suffix]) ++suffix;
    Check(prefix + suffix == text.size());

    // It reads back, with the old entries in their places and Quellora last.
    const auto after = quellora::posix::ParsePrograms(out);
    Check(after && after->present);
    const auto old = before->present ? before->entries : quellora::posix::ParsePrograms(kDefaults)->entries;
    Check(after->entries.size() == old.size() + 1);
    for (size_t i = 0; i < old.size(); ++i) Check(after->entries[i].text == old[i].text);
    Check(quellora::posix::RunsQuellora(after->entries.back()) && after->entries.back().enabled);

    Check(quellora::posix::AddQuellora(out, kDefaults, command).result == ListEdit::Result::Unchanged);
    const ListEdit remove = quellora::posix::RemoveQuellora(out, kDefaults, command);
    Check(remove.result == ListEdit::Result::Changed && remove.text == text);
    return 0;
}
