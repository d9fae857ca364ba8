#pragma once

#include <time.h>

#include <chrono>

// Wall and CPU time of the calling thread over a stretch of code.
struct Stopwatch {
    static long long threadCpuUs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
    }
    long long wallMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - wallStart).count();
    }
    long long cpuUs() const { return threadCpuUs() - cpuStart; }

    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
    long long cpuStart = threadCpuUs();
};
