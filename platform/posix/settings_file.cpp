// The per-user settings file and its INI reader.
#include "platform/posix/settings_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/text.h"

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

}  // namespace

std::optional<IniSections> ParseIni(const std::string& text) {
    if (text.find('\0') != std::string::npos) return std::nullopt;
    IniSections sections;
    std::map<std::string, std::string>* current = nullptr;
    size_t pos = 0;
    // A UTF-8 byte order mark at the start is not part of the first line.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 3) return std::nullopt;
            current = &sections[ToLowerAscii(Trim(line.substr(1, line.size() - 2)))];
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || current == nullptr) return std::nullopt;
        const std::string name = ToLowerAscii(Trim(line.substr(0, eq)));
        if (name.empty()) return std::nullopt;
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        (*current)[name] = value;
    }
    return sections;
}

std::string SettingsFile::DefaultFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/Orvandel";
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') base = pw->pw_dir;
    }
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

std::optional<IniSections> SettingsFile::Load() const {
    if (folder_.empty()) return std::nullopt;
    const int fd = open(FilePath().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    std::string text;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<size_t>(st.st_size) <= kMaxSettingsFileBytes;
    if (ok) {
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = false;
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
            if (text.size() > kMaxSettingsFileBytes) {  // grew while we read it
                ok = false;
                break;
            }
        }
    }
    close(fd);
    if (!ok) return std::nullopt;
    return ParseIni(text);
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
    const auto sections = Load();
    return sections && sections->count(*section) > 0;
}

std::optional<KeyValue> SettingsFile::ReadValue(const std::string& path, const std::string& name) {
    const auto section = SectionOf(path);
    if (!section || section->empty()) return std::nullopt;  // the folder itself holds no values
    const auto sections = Load();
    if (!sections) return std::nullopt;
    const auto s = sections->find(*section);
    if (s == sections->end()) return std::nullopt;
    const auto v = s->second.find(ToLowerAscii(name));
    if (v == s->second.end()) return std::nullopt;
    return KeyValue{KeyValue::Type::String, v->second, 0};
}

}  // namespace quellora::posix
