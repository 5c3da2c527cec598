// The two clocks the measuring programs read: this process's CPU time and
// the monotonic wall clock, both in milliseconds.
#pragma once

#include <time.h>

namespace quellora::bench {

inline double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

inline double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

}  // namespace quellora::bench
