#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>

// A pseudo-terminal standing in for the serial line: the port opens the
// slave by its path, the test plays the target on the master.
struct PtyLine {
    PtyLine() {
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
            const char* name = ttyname(slave);
            path = name != nullptr ? name : "";
        }
    }
    ~PtyLine() {
        closeMaster();
        if (slave >= 0) {
            ::close(slave);
        }
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    void closeMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

    bool send(const std::string& bytes) const {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // What the port wrote, collected until count bytes or the deadline.
    std::string receive(std::size_t count, int deadlineMs = 1000) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now()).count();
            pollfd input{master, POLLIN, 0};
            if (left <= 0 || poll(&input, 1, static_cast<int>(left)) <= 0) {
                break;
            }
            char chunk[256];
            const ssize_t n = ::read(master, chunk, std::min(sizeof chunk, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

    int master = -1;
    int slave = -1;
    std::string path;
};

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
