#include "serial/timed_write_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace serial {

using platform::Deadline;

std::int32_t DriverQueue::queued() {
    int count = 0;
    // A pseudo-terminal has no line and reports nothing.
    return ioctl(fd_, TIOCOUTQ, &count) == 0 ? count : 0;
}

void DriverQueue::discard() { tcflush(fd_, TCOFLUSH); }

namespace {

// Hands the bytes to the driver, waiting while its buffer is full (as while
// CTS is held low); the count it took.
std::int32_t handOver(int fd, const unsigned char* bytes, std::int32_t count,
                      const Deadline& deadline) {
    std::int32_t handed = 0;
    while (handed < count) {
        const ssize_t written = ::write(fd, bytes + handed, static_cast<std::size_t>(count - handed));
        if (written > 0) {
            handed += static_cast<std::int32_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno == EAGAIN && !deadline.passed()) {
            // A signal or a time-out ends the poll early; the loop looks again.
            pollfd device{fd, POLLOUT, 0};
            poll(&device, 1, deadline.leftMs());
            continue;
        }
        break;  // out of time, or the device failed or has gone
    }
    return handed;
}

}  // namespace

std::int32_t timedWrite(int fd, const void* buffer, std::int32_t count,
                        const WriteTimeouts& timeouts, OutputQueue& queue, std::int32_t lineRate) {
    if (fd < 0 || count <= 0) {
        return 0;
    }
    const Deadline deadline = timeouts.total(count);
    const std::int32_t handed =
        handOver(fd, static_cast<const unsigned char*>(buffer), count, deadline);
    for (;;) {
        const std::int32_t queued = queue.queued();
        if (queued <= 0) {
            return handed;
        }
        if (deadline.passed()) {
            queue.discard();
            return std::max(0, handed - queued);
        }
        // Wait about as long as the queued bytes take on the line: a whole
        // millisecond per look would leave the line idle between the short
        // writes of a block at high rates. sleep_for goes on after a signal.
        const std::int64_t drainUs =
            static_cast<std::int64_t>(queued) * 10'000'000 / std::max<std::int32_t>(lineRate, 1);
        const auto pause = std::chrono::microseconds(std::clamp<std::int64_t>(drainUs, 20, 1000));
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(pause, deadline.left()));
    }
}

}  // namespace serial
