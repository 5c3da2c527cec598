// Quellora in the user's XScreenSaver programs list.
#include "platform/posix/xscreensaver_list.h"

#include "platform/posix/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/command_line.h"
#include "platform/posix/user_paths.h"

namespace quellora::posix {

namespace {

struct Line {
    size_t begin, contentEnd, end;  // content excludes "\n" and a "\r" before it or at the end
};

struct Parsed {
    std::vector<Line> lines;
    bool present = false;
    size_t first = 0, last = 0;  // the programs resource's lines
    size_t valueStart = 0;       // byte after its colon
    std::vector<ProgramsEntry> entries;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::vector<Line> SplitLines(const std::string& text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t nl = text.find('\n', pos);
        Line l;
        l.begin = pos;
        if (nl == std::string::npos) {
            // A last line without its newline reads as it will with one.
            l.end = text.size();
            l.contentEnd = l.end > pos && text[l.end - 1] == '\r' ? l.end - 1 : l.end;
        } else {
            l.end = nl + 1;
            l.contentEnd = nl > pos && text[nl - 1] == '\r' ? nl - 1 : nl;
        }
        lines.push_back(l);
        pos = l.end;
    }
    return lines;
}

// A line goes on in the next one when it ends in an odd number of backslashes.
bool Continues(const std::string& text, const Line& l) {
    size_t n = 0;
    for (size_t i = l.contentEnd; i > l.begin && text[i - 1] == '\\'; --i) ++n;
    return n % 2 == 1;
}

bool IsBlankLine(const std::string& text, const Line& l) {
    for (size_t i = l.begin; i < l.contentEnd; ++i)
        if (!IsBlank(text[i])) return false;
    return true;
}

// The resource name of a line "name: value", as the daemon and the
// app-defaults file write it; empty for comments and other lines.
std::string ResourceName(const std::string& line) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == '!' || t[0] == '#') return {};
    const size_t colon = t.find(':');
    if (colon == std::string::npos) return {};
    std::string name = Trim(t.substr(0, colon));
    for (const char* prefix : {"XScreenSaver.", "XScreenSaver*", "*"})
        if (name.rfind(prefix, 0) == 0) {
            name = name.substr(std::strlen(prefix));
            break;
        }
    return name;
}

ProgramsEntry ParseEntry(const std::string& raw) {
    ProgramsEntry e;
    e.text = Trim(raw);
    std::string s = e.text;
    if (!s.empty() && s[0] == '-') {
        e.enabled = false;
        s = Trim(s.substr(1));
    }
    size_t k = 0;
    while (k < s.size() && (std::isalnum(static_cast<unsigned char>(s[k])) || s[k] == '_' || s[k] == '-')) ++k;
    if (k > 0 && k < s.size() && s[k] == ':') s = Trim(s.substr(k + 1));
    if (!s.empty() && s[0] == '"') {
        const size_t q = s.find('"', 1);
        s = q == std::string::npos ? std::string() : Trim(s.substr(q + 1));
    }
    e.command = s;
    return e;
}

// The value of the programs resource with the line breaks taken out.
std::string JoinValue(const std::string& text, const Parsed& p, size_t upTo) {
    std::string value;
    for (size_t j = p.first; j <= upTo; ++j) {
        const Line& l = p.lines[j];
        const size_t from = j == p.first ? p.valueStart : l.begin;
        size_t to = l.contentEnd;
        if (j < p.last || Continues(text, l)) --to;  // the backslash
        value.append(text, from, to - from);
    }
    return value;
}

std::vector<ProgramsEntry> SplitEntries(const std::string& value) {
    std::vector<ProgramsEntry> entries;
    size_t pos = 0;
    for (;;) {
        const size_t sep = value.find("\\n", pos);
        const std::string raw = value.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
        if (!Trim(raw).empty()) entries.push_back(ParseEntry(raw));
        if (sep == std::string::npos) break;
        pos = sep + 2;
    }
    return entries;
}

std::optional<Parsed> Parse(const std::string& text, std::string* error) {
    auto fail = [&](const char* why) -> std::optional<Parsed> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (text.size() > kMaxXScreenSaverFileBytes) return fail("it is larger than 1 MiB");
    if (text.find('\0') != std::string::npos) return fail("it holds a zero byte");
    Parsed p;
    p.lines = SplitLines(text);
    for (size_t i = 0; i < p.lines.size();) {
        const Line& l = p.lines[i];
        const std::string name = ResourceName(text.substr(l.begin, l.contentEnd - l.begin));
        const size_t lead = text.find_first_not_of(" \t", l.begin);
        if (lead < l.contentEnd && (text[lead] == '!' || text[lead] == '#')) {
            ++i;  // a comment is one line, whatever it ends with
            continue;
        }
        size_t last = i;
        while (last < p.lines.size() && Continues(text, p.lines[last])) ++last;
        const bool open = last == p.lines.size();
        if (open) last = p.lines.size() - 1;
        if (name == "programs") {
            if (p.present) return fail("it has two programs lists");
            if (open) return fail("its programs list does not end (its last line ends in a backslash)");
            p.present = true;
            p.first = i;
            p.last = last;
            p.valueStart = text.find(':', l.begin) + 1;
        }
        i = last + 1;
    }
    if (p.present) p.entries = SplitEntries(JoinValue(text, p, p.last));
    return p;
}

bool RunsQuelloraIn(const std::vector<ProgramsEntry>& entries) {
    for (const auto& e : entries)
        if (RunsQuellora(e)) return true;
    return false;
}

// Characters a command may have without quoting for the daemon's shell.
bool PlainCommand(const std::string& command) {
    if (command.empty()) return false;
    for (const char c : command)
        if (!std::isalnum(static_cast<unsigned char>(c)) && !std::strchr("/._+-,=@%", c)) return false;
    return true;
}

std::string EntryBody(const std::string& command) { return "\"Quellora\"  " + command + " --root"; }

ListEdit Failed(std::string why) {
    ListEdit e;
    e.result = ListEdit::Result::Failed;
    e.error = std::move(why);
    return e;
}

ListEdit Changed(std::string text) {
    ListEdit e;
    e.result = ListEdit::Result::Changed;
    e.text = std::move(text);
    return e;
}

ListEdit Unchanged() {
    ListEdit e;
    e.result = ListEdit::Result::Unchanged;
    return e;
}

// Whether an entry must be closed with \n before another can follow.
bool NeedsSeparator(const std::string& value) {
    const std::string t = Trim(value);
    return !t.empty() && !(t.size() >= 2 && t.compare(t.size() - 2, 2, "\\n") == 0);
}

}  // namespace

std::optional<ProgramsList> ParsePrograms(const std::string& text, std::string* error) {
    const auto p = Parse(text, error);
    if (!p) return std::nullopt;
    ProgramsList list;
    list.present = p->present;
    list.entries = p->entries;
    return list;
}

bool RunsQuellora(const ProgramsEntry& entry) {
    size_t end = 0;
    while (end < entry.command.size() && !IsBlank(entry.command[end])) ++end;
    const std::string program = entry.command.substr(0, end);
    const size_t slash = program.rfind('/');
    return (slash == std::string::npos ? program : program.substr(slash + 1)) == "quellora";
}

ListEdit AddQuellora(const std::string& text, const std::string& defaults, const std::string& command) {
    std::string why;
    const auto p = Parse(text, &why);
    if (!p) return Failed(why);
    if (RunsQuelloraIn(p->entries)) return Unchanged();
    if (!PlainCommand(command)) return Failed("the command " + Quoted(command) + " would need quoting");
    const std::string body = EntryBody(command);

    if (!p->present) {
        // The system's list, written out, with Quellora at its end. Its line
        // differs from the one added to a list (tabs, not two blanks), so
        // that Remove can tell the two cases apart.
        const auto d = Parse(defaults, nullptr);
        if (!d || !d->present || d->entries.empty()) return Failed("the system's programs list can't be read");
        if (!p->lines.empty() && Continues(text, p->lines.back()))
            return Failed("its last line ends in a backslash");
        // A last line without its newline gets one, and the list then starts
        // with one tab less: the text before Add is always known.
        const bool open = !text.empty() && text.back() != '\n';
        std::string block = open ? "\nprograms:\t\\\n" : "programs:\t\t\\\n";
        for (const auto& e : d->entries) block += "\t\t\t\t" + e.text + " \\n\\\n";
        block += "\t\t\t\t" + body + " \\n\\\n\n";
        return Changed(text + block);
    }

    const Line& lk = p->lines[p->last];
    if (p->last > p->first && IsBlankLine(text, lk)) {
        // The usual end: entries each on a line ending in \n\, then a blank
        // line. A line of ours goes before the blank one.
        const Line& prev = p->lines[p->last - 1];
        const std::string eol = text.substr(prev.contentEnd, prev.end - prev.contentEnd);
        const std::string sep = NeedsSeparator(JoinValue(text, *p, p->last - 1)) ? "\\n" : "";
        return Changed(text.substr(0, lk.begin) + sep + "  " + body + " \\n\\" + eol + text.substr(lk.begin));
    }
    // The list ends on a line with text: that line goes on into ours.
    std::string eol = text.substr(lk.contentEnd, lk.end - lk.contentEnd);
    if (eol.empty() || eol.back() != '\n') eol = "\n";  // the file's last line, without its newline
    const std::string sep = NeedsSeparator(JoinValue(text, *p, p->last)) ? "\\n" : "";
    return Changed(text.substr(0, lk.contentEnd) + "\\" + eol + sep + "  " + body + " \\n" + text.substr(lk.contentEnd));
}

namespace {

// The programs value with the text offset of each of its bytes.
struct MappedValue {
    std::string value;
    std::vector<size_t> at;  // at[k]: where value[k] stands in the text
};

MappedValue MapValue(const std::string& text, const Parsed& p) {
    MappedValue m;
    for (size_t j = p.first; j <= p.last; ++j) {
        const Line& l = p.lines[j];
        const size_t from = j == p.first ? p.valueStart : l.begin;
        size_t to = l.contentEnd;
        if (j < p.last || Continues(text, l)) --to;  // the backslash
        for (size_t k = from; k < to; ++k) {
            m.value += text[k];
            m.at.push_back(k);
        }
    }
    return m;
}

// The line that holds text offset `offset`.
size_t LineOf(const std::vector<Line>& lines, size_t offset) {
    size_t lo = 0, hi = lines.size();
    while (hi - lo > 1) {
        const size_t mid = (lo + hi) / 2;
        (lines[mid].begin <= offset ? lo : hi) = mid;
    }
    return lo;
}

// Whether text[from, to) holds only blanks.
bool OnlyBlanks(const std::string& text, size_t from, size_t to) {
    for (size_t k = from; k < to; ++k)
        if (!IsBlank(text[k])) return false;
    return true;
}

// Where line `j`'s part of the value ends: before its continuing backslash.
size_t ValueEnd(const std::string& text, const Parsed& p, size_t j) {
    const Line& l = p.lines[j];
    return j < p.last || Continues(text, l) ? l.contentEnd - 1 : l.contentEnd;
}

// The text before Add, when `text` is exactly what Add made of it: Add
// writes the system's list at the end of a text without one, or one line
// before the list's blank last line, or one line after its last line of
// text. Each guess is checked by adding again, so only Add's own bytes go.
std::optional<std::string> UndoAdd(const std::string& text, const Parsed& q, const std::string& defaults,
                                   const std::string& command) {
    std::vector<std::string> guesses;
    const size_t start = q.lines[q.first].begin;
    if (q.last == q.lines.size() - 1) {
        guesses.push_back(text.substr(0, start));
        if (start > 0 && text[start - 1] == '\n') guesses.push_back(text.substr(0, start - 1));
    }
    if (q.last >= q.first + 2) {
        const Line& l = q.lines[q.last - 1];
        guesses.push_back(text.substr(0, l.begin) + text.substr(l.end));
    }
    if (q.last > q.first) {
        const Line& l = q.lines[q.last];
        const Line& prev = q.lines[q.last - 1];
        guesses.push_back(text.substr(0, prev.contentEnd - 1) + text.substr(l.contentEnd));
    }
    for (auto& g : guesses) {
        const ListEdit a = AddQuellora(g, defaults, command);
        if (a.result == ListEdit::Result::Changed && a.text == text) return std::move(g);
    }
    return std::nullopt;
}

}  // namespace

ListEdit RemoveQuellora(const std::string& text, const std::string& defaults, const std::string& command) {
    std::string why;
    const auto p = Parse(text, &why);
    if (!p) return Failed(why);
    if (!RunsQuelloraIn(p->entries)) return Unchanged();
    if (auto before = UndoAdd(text, *p, defaults, command)) return Changed(std::move(*before));

    // Any other entry that runs quellora goes with the lines it stands on,
    // which must hold nothing else: blanks, the entry (over one line or
    // more, as xscreensaver-settings breaks a long one), its \n and the
    // backslashes that carry the list on.
    const auto shared = [] {
        return Failed("Quellora's entry shares its line with another entry; take it out in xscreensaver-settings");
    };
    const MappedValue m = MapValue(text, *p);
    std::vector<bool> drop(p->lines.size(), false);
    std::vector<std::string> keep;  // the entries that stay, to check the result by
    for (size_t pos = 0;;) {
        const size_t sep = m.value.find("\\n", pos);
        const size_t end = sep == std::string::npos ? m.value.size() : sep;
        size_t b = pos, e = end;
        while (b < e && IsBlank(m.value[b])) ++b;
        while (e > b && IsBlank(m.value[e - 1])) --e;
        if (b < e) {
            const ProgramsEntry entry = ParseEntry(m.value.substr(b, e - b));
            if (!RunsQuellora(entry)) {
                keep.push_back(entry.text);
            } else {
                // From its first byte to its \n (or its last byte).
                const size_t from = m.at[b];
                const size_t to = sep == std::string::npos ? m.at[e - 1] + 1 : m.at[sep + 1] + 1;
                const size_t la = LineOf(p->lines, from), lb = LineOf(p->lines, to - 1);
                if (la == p->first || !OnlyBlanks(text, p->lines[la].begin, from) ||
                    !OnlyBlanks(text, to, ValueEnd(text, *p, lb)))
                    return shared();
                for (size_t j = la; j <= lb; ++j) drop[j] = true;
            }
        }
        if (sep == std::string::npos) break;
        pos = sep + 2;
    }

    // The text without those lines. A run of them that ends the list takes
    // the backslash before it along, so the line before ends the list.
    std::string out;
    out.reserve(text.size());
    size_t copied = 0;
    for (size_t j = p->first + 1; j <= p->last; ++j) {
        if (!drop[j] || drop[j - 1]) continue;
        size_t k = j;
        while (k < p->last && drop[k + 1]) ++k;
        const bool ends = k == p->last;
        const size_t cut = ends ? p->lines[j - 1].contentEnd - 1 : p->lines[j].begin;
        out.append(text, copied, cut - copied);
        copied = ends ? p->lines[k].contentEnd : p->lines[k].end;
        j = k;
    }
    out.append(text, copied, std::string::npos);

    const auto r = Parse(out, nullptr);
    if (!r || !r->present) return Failed("internal error: the list would not read back");
    std::vector<std::string> got;
    for (const auto& e : r->entries) got.push_back(e.text);
    if (got != keep) return shared();
    return Changed(std::move(out));
}

std::string UserXScreenSaverFile() {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    return (home == "/" ? "" : home) + "/.xscreensaver";
}

namespace {

// The whole of a regular file. `exists` is false for a missing file.
bool ReadText(const std::string& path, std::string& text, bool& exists, struct stat& st, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            exists = false;
            return true;
        }
        error = std::strerror(errno);
        return false;
    }
    exists = true;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) error = std::strerror(errno);
    if (ok && !S_ISREG(st.st_mode)) {
        ok = false;
        error = "not a regular file";
    }
    if (ok && static_cast<size_t>(st.st_size) > kMaxXScreenSaverFileBytes) {
        ok = false;
        error = "larger than 1 MiB";
    }
    char buf[65536];
    while (ok) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            error = std::strerror(errno);
        }
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > kMaxXScreenSaverFileBytes) {
            ok = false;
            error = "larger than 1 MiB";
        }
    }
    close(fd);
    return ok;
}

constexpr const char kTempPrefix[] = ".xscreensaver.quellora-";  // then PID-N

}  // namespace

std::string RunningSettingsTool(const std::string& procFolder) {
    DIR* dir = opendir(procFolder.c_str());
    if (!dir) return {};
    const auto baseName = [](const std::string& path) {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    };
    const auto isTool = [](const std::string& name) {
        return name == "xscreensaver-settings" || name == "xscreensaver-demo";
    };
    std::string found;
    while (const dirent* e = readdir(dir)) {
        const std::string pid = e->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string folder = procFolder + "/" + pid;
        struct stat st {};
        if (stat(folder.c_str(), &st) != 0 || st.st_uid != getuid()) continue;
        // The program it runs, or else the name it was started by.
        char exe[PATH_MAX];
        const ssize_t n = readlink((folder + "/exe").c_str(), exe, sizeof exe - 1);
        std::string name = n > 0 ? baseName(std::string(exe, static_cast<size_t>(n))) : std::string();
        if (!isTool(name)) {
            std::string argv0;
            if (FILE* f = std::fopen((folder + "/cmdline").c_str(), "rb")) {
                for (int c; (c = std::fgetc(f)) != EOF && c != 0 && argv0.size() < PATH_MAX;) argv0 += static_cast<char>(c);
                std::fclose(f);
            }
            name = baseName(argv0);
        }
        if (isTool(name)) {
            found = name + " (process " + pid + ")";
            break;
        }
    }
    closedir(dir);
    return found;
}

ListCommandResult EditXScreenSaverFile(bool add, const std::string& givenPath, const std::string& defaultsPath,
                                       const std::string& command, const std::string& procFolder) {
    ListCommandResult r;
    if (givenPath.empty()) {
        r.message = kNoHomeFolder;
        return r;
    }
    std::string path = givenPath;
    struct stat lst {};
    if (lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path.c_str(), resolved)) {
            r.message = "cannot follow " + Quoted(path) + ": " + std::strerror(errno);
            return r;
        }
        path = resolved;
    }
    std::string text, error;
    bool exists = false;
    struct stat st {};
    if (!ReadText(path, text, exists, st, error)) {
        r.message = "cannot read " + Quoted(path) + ": " + error + "; left as it was";
        return r;
    }
    // Only the file of the user who runs it: not one that root's HOME, say,
    // points to in someone else's home.
    const size_t slash = path.rfind('/');
    struct stat folder {};
    const std::string folderPath = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (exists ? st.st_uid != geteuid()
               : stat(folderPath.c_str(), &folder) == 0 && folder.st_uid != geteuid()) {
        r.message = Quoted(exists ? path : folderPath) + " belongs to another user; left as it was";
        return r;
    }
    RemoveStaleTemporaries(folderPath, kTempPrefix);
    // Add writes the system's list when the file has none, and Remove
    // knows such a list by it.
    std::string defaults, derror;
    bool found = false;
    struct stat dst {};
    if (!ReadText(defaultsPath, defaults, found, dst, derror)) defaults.clear();
    const ListEdit edit = add ? AddQuellora(text, defaults, command) : RemoveQuellora(text, defaults, command);
    if (edit.result == ListEdit::Result::Failed) {
        r.message = Quoted(path) + " can't be edited: " + edit.error + "; left as it was";
        return r;
    }
    if (edit.result == ListEdit::Result::Unchanged) {
        r.exitCode = 0;
        r.message = add ? "Quellora is in the programs list of " + Quoted(path) + " already"
                        : "Quellora is not in the programs list of " + Quoted(path);
        return r;
    }
    if (const std::string tool = RunningSettingsTool(procFolder); !tool.empty()) {
        r.message = "close " + tool + " first: it would save its own list over this change; " + Quoted(path) +
                    " is left as it was";
        return r;
    }
    if (!exists) {
        // A new file: the permissions the user gives new files.
        const mode_t mask = umask(0);
        umask(mask);
        st.st_mode = 0666 & ~mask;
    }
    if (edit.text.empty()) {
        if (unlink(path.c_str()) != 0) {
            r.message = "cannot remove " + Quoted(path) + ": " + std::strerror(errno);
            return r;
        }
        r.message = "took Quellora out of the programs list; " + Quoted(path) + " held nothing else and is removed";
    } else {
        if (!WriteFileAtomically(path, edit.text, st.st_mode & 07777, kTempPrefix, error)) {
            r.message = "cannot write " + Quoted(path) + ": " + error + "; left as it was";
            return r;
        }
        r.message = add ? "added Quellora to the programs list in " + Quoted(path) + "; choose it in xscreensaver-settings"
                        : "took Quellora out of the programs list in " + Quoted(path);
    }
    r.exitCode = 0;
    r.changed = true;
    return r;
}

std::string HackCommand(const std::string& program, const std::string& hackFolder) {
    char resolved[PATH_MAX];
    const std::string folder = realpath(hackFolder.c_str(), resolved) ? std::string(resolved) : hackFolder;
    const size_t slash = program.rfind('/');
    if (slash != std::string::npos && program.substr(0, slash) == folder) return "quellora";
    return program;
}

namespace {


// Whether xscreensaver-command reaches a daemon on this display.
bool DaemonAnswers() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char name[] = "xscreensaver-command", option[] = "-time";
    char* argv[] = {name, option, nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, name, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int RunXScreenSaverListCommand(bool add, const std::string& hackFolder) {
    std::string error;
    const std::string self = ThisProgram(error);
    if (self.empty()) return Fail(error);
    const std::string command = HackCommand(self, hackFolder);
    const ListCommandResult r = EditXScreenSaverFile(add, UserXScreenSaverFile(), kXScreenSaverDefaultsFile, command);
    if (r.exitCode != 0) return Fail(r.message);
    Tell(r.message);
    // The daemon looks at the file's time before it starts a hack and reads
    // it again when it has changed.
    if (r.changed && DaemonAnswers())
        Tell("XScreenSaver is running; it reads the new list before it starts its next hack");
    return 0;
}

}  // namespace quellora::posix
