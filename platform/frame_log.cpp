// Counting frames, and the frame log's line.
#include "platform/frame_log.h"

#include <cstdio>

namespace quellora {

namespace {
constexpr uint32_t kSecond = 1000;
}

FrameLog::~FrameLog() {
    if (file_ && frames_ > 0) file_->Rewrite(Line(frames_, lastTick_));
}

std::string FrameLog::Line(uint64_t frames, uint32_t tick) {
    char line[48];
    std::snprintf(line, sizeof line, "%20llu %20lu\n", static_cast<unsigned long long>(frames),
                  static_cast<unsigned long>(tick));
    return line;
}

void FrameLog::Count(uint32_t tick) {
    if (frames_++ == 0) {
        windowTick_ = writtenTick_ = tick;
        windowFrames_ = 1;
        if (file_) file_->Rewrite(Line(frames_, tick));
    }
    lastTick_ = tick;
    if (tick - windowTick_ >= kSecond) {
        rate_ = static_cast<double>(frames_ - windowFrames_) * kSecond / static_cast<double>(tick - windowTick_);
        windowTick_ = tick;
        windowFrames_ = frames_;
    }
    if (file_ && tick - writtenTick_ >= kSecond) {
        file_->Rewrite(Line(frames_, tick));
        writtenTick_ = tick;
    }
}

}  // namespace quellora
