// The window's settings: read as the saver reads them, written entry by entry.
#include "settings-window/settings_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/posix/atomic_file.h"
#include "platform/posix/command_line.h"
#include "platform/posix/settings_edit.h"
#include "platform/posix/settings_file.h"
#include "platform/text.h"
#include "settings/idle_timeout.h"
#include "settings/settings_store.h"

namespace quellora::settings_window {

namespace {

constexpr const char kTempPrefix[] = ".settings.ini-";  // then PID-N

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Said the same way in every message: where the file is, with ~ for the home.
std::string Shown(const std::string& path) {
    const char* home = std::getenv("HOME");
    const std::string h = home && home[0] == '/' ? home : "";
    if (!h.empty() && h != "/" && path.compare(0, h.size() + 1, h + "/") == 0) return "~" + path.substr(h.size());
    return path;
}

// What the saver's reader did not use in the file, and what stands instead,
// as it says it on stderr ("settings.ini line 3 is not an entry; skipped").
std::string ReaderProblem(const std::string& path) {
    const posix::SettingsText read = posix::ReadSettingsFile(path);
    if (read.problems.empty()) return {};
    std::string text = "Quellora did not use all of " + Shown(path) + ":";
    for (const std::string& line : read.problems) text += "\n" + line;
    return text;
}

}  // namespace

uint32_t MinutesOf(uint32_t seconds) {
    const uint32_t minutes = (seconds + 30) / 60;
    return minutes < 1 ? 1 : minutes > kMaxWaitMinutes ? kMaxWaitMinutes : minutes;
}

SettingsDocument::SettingsDocument(std::string folder)
    : folder_(std::move(folder)), path_(folder_ + "/settings.ini") {}

bool SettingsDocument::ReadText(std::string& text, bool& exists, Trouble& trouble) {
    text.clear();
    exists = false;
    if (folder_.empty()) {
        trouble = {"there is no home folder (HOME is not set)", "Set HOME."};
        return false;
    }
    const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return true;
        trouble = {std::strerror(errno), errno == EACCES ? "Check its permissions." : ""};
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        trouble = {std::strerror(errno), ""};
    } else if (S_ISDIR(st.st_mode)) {
        trouble = {"it is a folder", "Move the folder away."};
    } else if (!S_ISREG(st.st_mode)) {
        trouble = {"it is not a regular file", "Move it away."};
    } else if (static_cast<size_t>(st.st_size) > posix::kMaxSettingsFileBytes) {
        trouble = {"it is larger than 64 KiB", "Make it smaller."};
    }
    char buf[4096];
    while (trouble.why.empty()) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) trouble = {std::strerror(errno), ""};
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        if (text.size() > posix::kMaxSettingsFileBytes) trouble = {"it is larger than 64 KiB", "Make it smaller."};
    }
    close(fd);
    if (!trouble.why.empty()) return false;
    exists = true;
    return true;
}

void SettingsDocument::Load() {
    problem_.clear();
    std::string text;
    bool exists = false;
    Trouble trouble;
    if (!ReadText(text, exists, trouble))
        problem_ = "Quellora can't read " + Shown(path_) + ": " + trouble.why + ", so the saver uses its defaults." +
                   (trouble.fix.empty() ? "" : " " + trouble.fix);
    else if (exists)
        problem_ = ReaderProblem(path_);
    readProblem_ = problem_;

    // The values, read by the saver's own reader; changes not saved yet over them.
    posix::SettingsFile file(folder_, true);  // what it finds wrong is shown in the window
    UnsavedOverFile keys(file, *this);
    SettingsStore store(keys, kSettingsKey);
    waitMinutes_ = MinutesOf(
        ParseIdleSeconds(store.ReadString(kSettingsSection, kIdleTimeoutEntry, "")).value_or(kDefaultIdleSeconds));
    scale_ = ParseScale(store.ReadString(kSettingsSection, kScaleEntry, "auto")).value_or(kAutoScale);
    monitors_ = ParseMonitors(store.ReadString(kSettingsSection, kMonitorsEntry, "all")).value_or(MonitorChoice::All);
}

std::optional<std::string> SettingsDocument::Unsaved(const std::string& entry) const {
    const auto it = pending_.find(ToLowerAscii(entry));
    if (it == pending_.end()) return std::nullopt;
    return it->second;
}

bool SettingsDocument::SetWaitMinutes(uint32_t minutes) {
    if (minutes < 1) minutes = 1;
    if (minutes > kMaxWaitMinutes) minutes = kMaxWaitMinutes;
    waitMinutes_ = minutes;
    return Change(kIdleTimeoutEntry, std::to_string(minutes * 60));
}

bool SettingsDocument::SetScale(int scale) {
    if (scale < kAutoScale || scale > kMaxScaleSetting) scale = kAutoScale;
    scale_ = scale;
    return Change(kScaleEntry, scale == kAutoScale ? "auto" : std::to_string(scale));
}

bool SettingsDocument::SetMonitors(MonitorChoice monitors) {
    monitors_ = monitors;
    return Change(kMonitorsEntry, monitors == MonitorChoice::Primary ? "primary" : "all");
}

bool SettingsDocument::Change(const char* entry, std::string value) {
    pending_[ToLowerAscii(entry)] = std::move(value);
    return Save();
}

bool SettingsDocument::Save() {
    problem_.clear();
    if (pending_.empty()) {
        problem_ = readProblem_;
        return true;
    }
    // The text as it is now (another program may have changed it since it
    // was read), with every change not saved yet.
    const auto fail = [this](const std::string& why, const std::string& fix) {
        problem_ = "Quellora can't save to " + Shown(path_) + ": " + why + "." + (fix.empty() ? "" : " " + fix) +
                   " Your changes are kept here and saved with the next one, or when you press Try Again.";
        return false;
    };
    std::string text;
    bool exists = false;
    Trouble trouble;
    if (!ReadText(text, exists, trouble)) return fail(trouble.why, trouble.fix);
    static const char* const kEntries[] = {kIdleTimeoutEntry, kScaleEntry, kMonitorsEntry};
    for (const char* entry : kEntries)
        if (const auto value = Unsaved(entry)) text = posix::SetIniEntry(text, kSettingsSection, entry, *value);

    // A link is followed, so the file it names is the one that changes.
    std::string target = path_;
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(path_.c_str(), resolved)) return fail(std::strerror(errno), "");
        target = resolved;
    }
    mode_t mode = 0;
    if (exists && stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
        // The folder, and the configuration home above it (for its user
        // alone, as XDG asks), when they are missing.
        const std::string folder = FolderOf(target);
        for (const auto& [dir, dirMode] : {std::pair{FolderOf(folder), 0700}, std::pair{folder, 0777}}) {
            if (mkdir(dir.c_str(), static_cast<mode_t>(dirMode)) != 0 && errno != EEXIST)
                return fail("can't make the folder " + Shown(dir) + ": " + std::strerror(errno), "");
        }
    }
    posix::RemoveStaleTemporaries(FolderOf(target), kTempPrefix);
    std::string error;
    if (!posix::WriteFileAtomically(target, text, mode, kTempPrefix, error)) return fail(error, "");
    pending_.clear();
    problem_ = ReaderProblem(path_);
    readProblem_ = problem_;
    return true;
}

std::optional<KeyValue> UnsavedOverFile::ReadValue(const std::string& path, const std::string& name) {
    if (ToLowerAscii(path) == ToLowerAscii(std::string(kSettingsKey) + kSettingsSection))
        if (const auto value = document_.Unsaved(name)) return KeyValue{KeyValue::Type::String, *value, 0};
    return file_.ReadValue(path, name);
}

}  // namespace quellora::settings_window
