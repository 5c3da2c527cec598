// The saver the idle watcher runs: `quellora /s`, this program again, as a
// child process that gets the signals the watcher keeps for itself back as
// usual. One at a time.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace quellora::linux_entry {

class SaverChild {
public:
    // `program`: the file to run; `watched`: the signals the watcher blocks
    // and reads itself, back to their defaults in the saver.
    SaverChild(std::string program, const sigset_t& watched) : program_(std::move(program)), watched_(watched) {}
    ~SaverChild() { EndAndWait(); }
    SaverChild(const SaverChild&) = delete;
    SaverChild& operator=(const SaverChild&) = delete;

    // Starts it; false with `error` (one line) when it cannot be.
    bool Start(std::string& error);
    // SIGTERM to the saver that runs; its end comes through Reap.
    void End();
    // After a SIGCHLD: true when the saver has gone and its status is collected.
    bool Reap();
    // SIGTERM and wait until it has gone, for the watcher's own end.
    void EndAndWait();
    bool Running() const { return pid_ > 0; }

private:
    std::string program_;
    sigset_t watched_;
    pid_t pid_ = 0;
};

}  // namespace quellora::linux_entry
