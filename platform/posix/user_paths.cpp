// The home folder and this program's path.
#include "platform/posix/user_paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace quellora::posix {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty())
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/') base = pw->pw_dir;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

std::string ThisProgram(std::string& error) {
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        error = std::string("cannot tell where this program is: ") + std::strerror(errno);
        return {};
    }
    return std::string(self, static_cast<size_t>(n));
}

}  // namespace quellora::posix
