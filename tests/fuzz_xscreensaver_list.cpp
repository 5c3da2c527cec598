// libFuzzer target: the XScreenSaver programs list editor on arbitrary text.
// Add must give a text that reads back with one entry more at the end and
// every other entry and byte kept; a second Add changes nothing; Remove gives
// the text before Add back, byte for byte. Remove of an entry Add did not
// write only takes bytes out, keeping every other entry as it was. The first
// byte picks the command.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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
        // Remove takes bytes out and nothing else, and leaves a text that
        // reads back with every other entry as it was, in its place; or fails.
        const ListEdit remove = quellora::posix::RemoveQuellora(text, kDefaults, command);
        Check(remove.result != ListEdit::Result::Unchanged || !had);
        if (remove.result == ListEdit::Result::Changed) {
            size_t k = 0;
            for (const char c : remove.text) {
                while (k < text.size() && text[k] != c) ++k;
                Check(k < text.size());
                ++k;
            }
            const auto after = quellora::posix::ParsePrograms(remove.text);
            Check(after && after->present == before->present);
            std::vector<std::string> others;
            for (const auto& e : before->entries)
                if (!quellora::posix::RunsQuellora(e)) others.push_back(e.text);
            Check(after->entries.size() == others.size());
            for (size_t i = 0; i < others.size(); ++i) Check(after->entries[i].text == others[i]);
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
