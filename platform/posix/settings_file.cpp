// The per-user settings file and its INI reader.
#include "platform/posix/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/posix/command_line.h"
#include "platform/posix/user_paths.h"
#include "platform/text.h"
#include "settings/display_options.h"
#include "settings/idle_timeout.h"
#include "settings/settings_store.h"

namespace quellora::posix {

namespace {

constexpr const char* kSettingsKeyPath = "software\\orvandel";

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates `path` itself when it is missing, with the user's normal
// permissions (the umask decides), but never the folders above it: a
// configuration home that does not exist is not built. True when the folder
// exists afterwards.
bool MakeFolder(const std::string& path) {
    if (path.empty()) return false;
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
    return IsDirectory(path);
}

// Lines that are not used are named one by one up to this many; the rest are
// counted in one more line.
constexpr size_t kSkipsNamed = 5;

std::string SkipLine(const std::string& file, const IniSkip& skip) {
    const std::string where = file + " line " + std::to_string(skip.line);
    switch (skip.why) {
        case IniSkip::Why::NotAnEntry: return where + " is not an entry; skipped";
        case IniSkip::Why::OutsideSection: return where + " is an entry outside any section; skipped";
        case IniSkip::Why::BadSection:
            return where + " is not a section line; skipped, with the entries under it";
    }
    return where + " skipped";
}

// A value as the user wrote it, on one line: plain text as it is, anything
// else quoted with its control characters escaped; a long one cut short.
std::string Shown(const std::string& value) {
    constexpr size_t kLongest = 40;
    const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
        return c >= 0x20 && c < 0x7F && c != '\'' && c != '\\';
    });
    if (plain && value.size() <= kLongest) return value;
    return Quoted(value.substr(0, kLongest)) + (value.size() > kLongest ? "..." : "");
}

// The values of the settings' own section that are there but mean nothing:
// the readers fall back to the default for each.
void ValueProblems(const std::string& file, const IniSections& sections, std::vector<std::string>& out) {
    const auto section = sections.find(ToLowerAscii(kSettingsSection));
    if (section == sections.end()) return;
    using Check = std::string (*)(std::string_view);
    const std::pair<const char*, Check> checks[] = {
        {kScaleEntry, ScaleProblem},
        {kMonitorsEntry, MonitorsProblem},
        {kIdleTimeoutEntry, IdleSecondsProblem},
    };
    for (const auto& [entry, check] : checks) {
        const auto value = section->second.find(ToLowerAscii(entry));
        if (value == section->second.end()) continue;
        if (const std::string why = check(value->second); !why.empty())
            out.push_back(file + ": " + entry + "=" + Shown(value->second) + " " + why);
    }
}

// The file's text; nullopt, with the reason in `problem`, when it is there
// but can't be read whole. A missing one is empty.
std::optional<std::string> ReadText(const std::string& path, std::string& problem) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::string();
        problem = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    const std::string tooLarge =
        Quoted(path) + " is larger than " + std::to_string(kMaxSettingsFileBytes / 1024) + " KiB";
    std::string text;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        problem = Quoted(path) + " is not a file";
    } else if (static_cast<size_t>(st.st_size) > kMaxSettingsFileBytes) {
        problem = tooLarge;
    } else {
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) problem = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            if (text.size() > kMaxSettingsFileBytes) {  // grew while we read it
                problem = tooLarge;
                break;
            }
        }
    }
    close(fd);
    if (!problem.empty()) return std::nullopt;
    return text;
}

}  // namespace

IniText ParseIni(const std::string& text) {
    IniText out;
    std::map<std::string, std::string>* current = nullptr;
    bool underBadSection = false;
    size_t pos = 0, number = 0;
    // A UTF-8 byte order mark at the start is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++number;
        auto skip = [&](IniSkip::Why why) { out.skipped.push_back(IniSkip{number, why}); };
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.find('\0') != std::string::npos) {
            skip(IniSkip::Why::NotAnEntry);
            continue;
        }
        if (line[0] == '[') {
            underBadSection = line.back() != ']' || line.size() < 3;
            current = nullptr;
            if (underBadSection)
                skip(IniSkip::Why::BadSection);
            else
                current = &out.sections[ToLowerAscii(Trim(line.substr(1, line.size() - 2)))];
            continue;
        }
        const size_t eq = line.find('=');
        const std::string name = eq == std::string::npos ? "" : ToLowerAscii(Trim(line.substr(0, eq)));
        if (name.empty()) {
            skip(IniSkip::Why::NotAnEntry);
            continue;
        }
        if (underBadSection) continue;  // said with its section line
        if (current == nullptr) {
            skip(IniSkip::Why::OutsideSection);
            continue;
        }
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        (*current)[name] = value;
    }
    return out;
}

SettingsText ReadSettingsFile(const std::string& path) {
    SettingsText out;
    std::string problem;
    const auto text = ReadText(path, problem);
    if (!text) {
        out.problems.push_back(problem + "; the defaults stand");
        return out;
    }
    const std::string file = path.substr(path.rfind('/') + 1);
    IniText ini = ParseIni(*text);
    for (size_t i = 0; i < ini.skipped.size() && i < kSkipsNamed; ++i)
        out.problems.push_back(SkipLine(file, ini.skipped[i]));
    if (ini.skipped.size() > kSkipsNamed)
        out.problems.push_back(file + ": " + std::to_string(ini.skipped.size() - kSkipsNamed) +
                               " more lines are not entries; skipped");
    ValueProblems(file, ini.sections, out.problems);
    out.sections = std::move(ini.sections);
    return out;
}

void SayOnce(const std::vector<std::string>& lines) {
    static std::set<std::string> said;
    for (const std::string& line : lines)
        if (said.insert(line).second) std::fprintf(stderr, "quellora: %s\n", line.c_str());
}

std::string SettingsFile::DefaultFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/Orvandel";
    const std::string base = HomeFolder();
    if (base.empty()) return {};
    return base + "/.config/Orvandel";
}

std::optional<std::string> SettingsFile::SectionOf(const std::string& path) const {
    std::string p = ToLowerAscii(path);
    while (!p.empty() && p.back() == '\\') p.pop_back();
    const std::string key = kSettingsKeyPath;
    if (p == key) return std::string();
    if (p.size() > key.size() + 1 && p.compare(0, key.size(), key) == 0 && p[key.size()] == '\\') {
        std::string section = p.substr(key.size() + 1);
        if (section.find('\\') != std::string::npos) return std::nullopt;  // no deeper keys
        return section;
    }
    return std::nullopt;
}

IniSections SettingsFile::Load() const {
    if (folder_.empty()) return {};
    SettingsText read = ReadSettingsFile(FilePath());
    if (!quiet_) SayOnce(read.problems);
    return std::move(read.sections);
}

bool SettingsFile::CreateKey(const std::string& path) {
    const auto section = SectionOf(path);
    if (!section) return false;
    if (!MakeFolder(folder_)) return false;
    if (section->empty()) return true;
    // Sections live in the file, which is never written: a missing one can't
    // be made.
    return KeyExists(path);
}

bool SettingsFile::KeyExists(const std::string& path) {
    const auto section = SectionOf(path);
    if (!section) return false;
    if (!IsDirectory(folder_)) return false;
    if (section->empty()) return true;
    return Load().count(*section) > 0;
}

std::optional<KeyValue> SettingsFile::ReadValue(const std::string& path, const std::string& name) {
    const auto section = SectionOf(path);
    if (!section || section->empty()) return std::nullopt;  // the folder itself holds no values
    const IniSections sections = Load();
    const auto s = sections.find(*section);
    if (s == sections.end()) return std::nullopt;
    const auto v = s->second.find(ToLowerAscii(name));
    if (v == s->second.end()) return std::nullopt;
    return KeyValue{KeyValue::Type::String, v->second, 0};
}

}  // namespace quellora::posix
