#include "serial/timed_read_posix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;

void sleepUntilMs(std::int64_t whenMs) {
    std::this_thread::sleep_until(Clock::time_point(std::chrono::milliseconds(whenMs)));
}

}  // namespace

std::int64_t monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

std::int32_t timedRead(int fd, void* buffer, std::int32_t count, const ReadTimeouts& timeouts) {
    if (count <= 0) {
        return 0;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    // The total time-out runs from the start and is not renewed by bytes.
    const std::int64_t deadline =
        monotonicMs() + timeouts.totalMultiplierMs * count + timeouts.totalConstantMs;
    std::int32_t got = 0;
    std::int64_t lastByteAt = 0;

    while (got < count) {
        // Bytes that are already there need no wait: the block receiver reads
        // one byte per call, and a poll() per byte doubled its cost.
        const ssize_t waiting = ::read(fd, bytes + got, static_cast<std::size_t>(count - got));
        if (waiting > 0) {
            got += static_cast<std::int32_t>(waiting);
            lastByteAt = monotonicMs();
            continue;
        }
        const std::int64_t now = monotonicMs();
        // After the first byte, a gap longer than the interval ends the read.
        const std::int64_t until =
            got == 0 ? deadline : std::min(deadline, lastByteAt + timeouts.intervalMs);
        if (now >= until) {
            break;
        }
        pollfd device{fd, POLLIN, 0};
        const int ready = poll(&device, 1, static_cast<int>(until - now));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            continue;  // the loop head sees the time is up
        }
        ssize_t received = -1;
        if (ready > 0) {
            do {
                received = ::read(fd, bytes + got, static_cast<std::size_t>(count - got));
            } while (received < 0 && errno == EINTR);
        }
        if (received > 0) {
            got += static_cast<std::int32_t>(received);
            lastByteAt = monotonicMs();
            continue;
        }
        if (received < 0 && errno == EAGAIN) {
            // Someone else took the bytes first; look again shortly.
            sleepUntilMs(std::min(until, monotonicMs() + 1));
            continue;
        }
        // Readable but nothing came: end of file, EIO from a closed pty or an
        // unplugged adapter, or a failed poll. It would say the same at once
        // if asked again, so the rest of the time-out is waited out instead,
        // just as a silent line would take it.
        sleepUntilMs(got == 0 ? deadline : std::min(deadline, lastByteAt + timeouts.intervalMs));
        break;
    }
    return got;
}

}  // namespace serial
