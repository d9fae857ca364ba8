#pragma once

#include <cstdint>

#include "serial/line_timeouts.h"

namespace serial {

// What the driver still holds of the bytes written to it.
class OutputQueue {
public:
    virtual ~OutputQueue() = default;
    // Bytes not yet on the line; 0 or less when the driver cannot tell.
    virtual std::int32_t queued() = 0;
    // Drops what has not left.
    virtual void discard() = 0;
};

// The driver's own queue of a terminal device (TIOCOUTQ, TCOFLUSH).
class DriverQueue final : public OutputQueue {
public:
    explicit DriverQueue(int fd) : fd_(fd) {}
    std::int32_t queued() override;
    void discard() override;

private:
    int fd_;
};

// Writes count bytes to a non-blocking descriptor and returns once they
// have left the host, not when the driver has taken them: the target's reply
// time-outs run from the end of the write, and a 2048-byte block needs 178 ms
// on the wire at 115200 baud. At the deadline what has not left is dropped
// and the count that did is returned. lineRate tells how long queued bytes
// take, so that the drain is looked at about when it should be done.
std::int32_t timedWrite(int fd, const void* buffer, std::int32_t count,
                        const WriteTimeouts& timeouts, OutputQueue& queue, std::int32_t lineRate);

}  // namespace serial
