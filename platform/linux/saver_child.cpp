// The idle watcher's saver process.
#include "platform/linux/saver_child.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/command_line.h"

namespace quellora::linux_entry {

bool SaverChild::Start(std::string& error) {
    if (pid_ > 0) return true;
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &watched_);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string arg0 = "quellora", arg1 = "/s";
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program_.c_str(), nullptr, &attr, argv, environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error = "cannot start the saver " + posix::Quoted(program_) + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    return true;
}

void SaverChild::End() {
    if (pid_ > 0) kill(pid_, SIGTERM);
}

bool SaverChild::Reap() {
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return false;
    pid_ = 0;
    return true;
}

void SaverChild::EndAndWait() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a stopped one would never see the SIGTERM
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
}

}  // namespace quellora::linux_entry
