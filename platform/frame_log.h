// Frames put on screen: counted for the frame-rate readout and, when the
// measuring scripts ask for it (QUELLORA_FRAME_LOG), kept in a one-line file
// "<frames> <tick>\n" (the frames so far and the millisecond tick of that
// count, each right-aligned in 20 characters), rewritten about once a second
// and when the log closes, so that a count is there however the process ends.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace quellora {

// A file of one line that each Rewrite replaces.
class LineFile {
public:
    virtual ~LineFile() = default;
    virtual void Rewrite(const std::string& line) = 0;
};

class FrameLog {
public:
    explicit FrameLog(std::unique_ptr<LineFile> file = nullptr) : file_(std::move(file)) {}
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    // One frame put on screen at `tick`.
    void Count(uint32_t tick);
    uint64_t Frames() const { return frames_; }
    // Frames a second over the last second or so; nullopt before a second
    // has passed since the first frame.
    std::optional<double> Rate() const { return rate_; }

    // The file's line for a count.
    static std::string Line(uint64_t frames, uint32_t tick);

private:
    std::unique_ptr<LineFile> file_;
    uint64_t frames_ = 0;
    uint32_t lastTick_ = 0;
    uint32_t writtenTick_ = 0;
    uint64_t windowFrames_ = 0;  // the count when the rate's window began
    uint32_t windowTick_ = 0;
    std::optional<double> rate_;
};

}  // namespace quellora
