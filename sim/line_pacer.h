#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace sim {

// One direction of a serial line at a given baud rate: 10 bit times per byte
// (8N1). Byte k of a burst is due at start + (k + 1) byte times, so that the
// schedule never drifts however late the caller wakes; credit is never banked
// while the line is idle.
class LinePacer {
public:
    using Clock = std::chrono::steady_clock;

    explicit LinePacer(std::int32_t baud) : baud_(baud) {}

    bool paced() const { return baud_ > 0; }
    bool idle() const { return idle_; }
    // Bytes begin to wait for the line at `now`; the first is due one byte
    // time later unless a burst is still running.
    void begin(Clock::time_point now);
    // Number of bytes that may have moved by `now`, less those that did.
    std::size_t allowance(Clock::time_point now) const;
    void moved(std::size_t count);
    // Nothing left to move: the next byte starts a new burst.
    void stop() { idle_ = true; }
    // When the next byte is due, and when the last of the next `count`.
    Clock::time_point nextDue() const { return dueTime(count_); }
    Clock::time_point dueAfter(std::size_t count) const { return dueTime(count_ + (count > 0 ? count - 1 : 0)); }
    // When to move bytes next, `waiting` of them being there and the last
    // batch moved at `lastMove` (none yet: a default time point). The first
    // byte of a burst and the last are moved on time, so that a reply is
    // never late; those between in batches at least batchQuantum apart, not
    // one wake-up per byte.
    Clock::time_point nextWake(Clock::time_point lastMove, std::size_t waiting) const;
    static constexpr std::chrono::microseconds batchQuantum{500};

private:
    Clock::time_point dueTime(std::uint64_t index) const;

    std::int32_t baud_;
    bool idle_ = true;
    Clock::time_point start_{};
    std::uint64_t count_ = 0;
};

}  // namespace sim
