// Finding and running the settings window.
#include "platform/linux/settings_window.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/command_line.h"
#include "platform/posix/user_paths.h"

namespace quellora::linux_entry {

namespace {

std::string In(const std::string& folder) {
    return folder.empty() ? std::string() : (folder.back() == '/' ? folder : folder + "/") + kSettingsWindowName;
}

bool Runnable(const std::string& file) {
    struct stat st {};
    return !file.empty() && stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindSettingsWindow(const std::string& self, const std::string& bindir, const std::string& path) {
    const size_t slash = self.rfind('/');
    if (slash != std::string::npos && Runnable(In(self.substr(0, slash + 1)))) return In(self.substr(0, slash + 1));
    if (bindir.rfind('/', 0) == 0 && Runnable(In(bindir))) return In(bindir);
    for (size_t from = 0; from <= path.size();) {
        const size_t colon = std::min(path.find(':', from), path.size());
        const std::string folder = path.substr(from, colon - from);
        // Only absolute folders: a relative one would depend on where this was started.
        if (folder.rfind('/', 0) == 0 && Runnable(In(folder))) return In(folder);
        from = colon + 1;
    }
    return {};
}

int RunSettingsWindow(const std::string& bindir) {
    std::string error;
    const std::string self = posix::ThisProgram(error);
    const char* path = std::getenv("PATH");
    const std::string program = FindSettingsWindow(self, bindir, path ? path : "");
    if (program.empty())
        return posix::Fail(std::string("the settings window is not installed (no ") + kSettingsWindowName +
                           " beside this program, in " + posix::Quoted(bindir) + " or on the PATH)");
    std::string arg0 = kSettingsWindowName;
    char* argv[] = {arg0.data(), nullptr};
    execv(program.c_str(), argv);
    return posix::Fail("cannot run the settings window " + posix::Quoted(program) + ": " + std::strerror(errno));
}

}  // namespace quellora::linux_entry
