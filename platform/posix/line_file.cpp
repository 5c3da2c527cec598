// One-line files over a file descriptor: each line is written at offset 0
// with one pwrite, so a reader never sees half of it.
#include "platform/posix/line_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace quellora::posix {

namespace {

class FdLineFile : public LineFile {
public:
    explicit FdLineFile(int fd) : fd_(fd) {}
    ~FdLineFile() override { close(fd_); }
    void Rewrite(const std::string& line) override {
        if (pwrite(fd_, line.data(), line.size(), 0) == static_cast<ssize_t>(line.size()))
            (void)!ftruncate(fd_, static_cast<off_t>(line.size()));
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<LineFile> OpenLineFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<FdLineFile>(fd);
}

}  // namespace quellora::posix
