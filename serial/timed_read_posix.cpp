#include "serial/timed_read_posix.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace serial {

using platform::Deadline;

std::int32_t readWaiting(int fd, void* buffer, std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    ssize_t got;
    do {
        got = ::read(fd, buffer, static_cast<std::size_t>(count));
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        return static_cast<std::int32_t>(got);
    }
    // End of file, or EIO from a closed pty or an unplugged adapter.
    return got < 0 && errno == EAGAIN ? 0 : -1;
}

std::int32_t timedRead(int fd, void* buffer, std::int32_t count, const ReadTimeouts& timeouts) {
    if (count <= 0) {
        return 0;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    // The total time-out runs from the start and is not renewed by bytes.
    const Deadline total = timeouts.total(count);
    Deadline until = total;
    std::int32_t got = 0;

    while (got < count) {
        // Bytes that are already there need no wait: the block receiver reads
        // one byte per call, and a poll() per byte doubled its cost.
        const std::int32_t waiting = readWaiting(fd, bytes + got, count - got);
        if (waiting > 0) {
            got += waiting;
            // After the first byte, a gap longer than the interval ends the read.
            until = Deadline::earliest(total, Deadline::after(timeouts.interval));
            continue;
        }
        if (until.passed()) {
            break;
        }
        if (waiting < 0) {
            // It would say the same at once if asked again, so the rest of
            // the time-out is waited out instead, as a silent line takes it.
            std::this_thread::sleep_until(until.at());
            break;
        }
        // A signal, a time-out or a byte: the loop head tells which.
        pollfd device{fd, POLLIN, 0};
        poll(&device, 1, until.leftMs());
    }
    return got;
}

}  // namespace serial
