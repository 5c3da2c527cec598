// One entry of INI text set, every other byte kept.
#include "platform/posix/settings_edit.h"

#include <optional>

#include "platform/text.h"

namespace quellora::posix {

namespace {

bool Blank(char c) { return c == ' ' || c == '\t'; }

// The line's text without the blanks around it and a CR at its end, as the
// reader trims it.
std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (Blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

struct Line {
    size_t start = 0;  // the first byte
    size_t end = 0;    // its '\n', or the text's end
};

}  // namespace

std::string SetIniEntry(std::string_view text, std::string_view section, std::string_view name,
                        std::string_view value) {
    const std::string wantedSection = ToLowerAscii(Trimmed(section));
    const std::string wantedName = ToLowerAscii(Trimmed(name));
    const size_t firstBreak = text.find('\n');
    const std::string eol = firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r'
                                ? "\r\n"
                                : "\n";

    std::optional<Line> entry;        // the entry the reader takes
    std::optional<Line> lastInside;   // the last header or entry of the last section of that name
    bool inside = false;              // within a section of that name
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const Line line{pos, end};
        const std::string_view t = Trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t[0] == '[') {
            if (t.back() != ']' || t.size() < 3) continue;  // not understood: kept, skipped
            inside = ToLowerAscii(Trimmed(t.substr(1, t.size() - 2))) == wantedSection;
            if (inside) lastInside = line;
            continue;
        }
        const size_t eq = t.find('=');
        if (!inside || eq == std::string_view::npos || Trimmed(t.substr(0, eq)).empty()) continue;
        lastInside = line;
        if (ToLowerAscii(Trimmed(t.substr(0, eq))) == wantedName) entry = line;
    }

    std::string out;
    if (entry) {
        // The value: from the first non-blank after '=' to the line's end,
        // less its CR.
        size_t from = text.find('=', entry->start) + 1;
        while (from < entry->end && Blank(text[from])) ++from;
        size_t to = entry->end;
        if (to > from && text[to - 1] == '\r') --to;
        out.append(text.substr(0, from)).append(value).append(text.substr(to));
        return out;
    }
    const std::string added = std::string(name) + "=" + std::string(value);
    if (lastInside) {
        const size_t at = lastInside->end;
        if (at == text.size()) {  // the last line, without a break: none after the new one either
            out.append(text).append(eol).append(added);
        } else {
            out.append(text.substr(0, at + 1)).append(added).append(eol).append(text.substr(at + 1));
        }
        return out;
    }
    out.append(text);
    if (!out.empty() && out.back() != '\n') out.append(eol);
    out.append("[").append(section).append("]").append(eol).append(added).append(eol);
    return out;
}

}  // namespace quellora::posix
