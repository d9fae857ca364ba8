#pragma once

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "serial/line_timeouts.h"

namespace serial {

// The one reader of a port opened for overlapped access: a thread that keeps
// exactly one read in flight, queues what arrives and sets an event while
// bytes are queued. The console loop waits on that event beside the console's
// input; the loop and a transfer's worker take from the queue. With a single
// read in flight nothing can race for a byte, and bytes leave the queue in
// the order they came off the line.
class PortReader {
public:
    // Starts the thread; lost is set when the device fails or goes.
    PortReader(HANDLE port, std::atomic<bool>& lost);
    // Cancels the read in flight and waits for the thread.
    ~PortReader();
    PortReader(const PortReader&) = delete;
    PortReader& operator=(const PortReader&) = delete;

    bool started() const { return thread_.joinable(); }
    // Manual reset: set while bytes are queued, and for good once the device
    // has failed, so that a waiter goes and finds out.
    HANDLE readyEvent() const { return ready_; }

    // Up to count queued bytes, without waiting: how many, 0 when none are
    // queued, -1 when none are and the device has failed.
    std::int32_t takeWaiting(void* buffer, std::int32_t count);
    // Up to count bytes, under the line's read time-outs: the total one from
    // the start, the interval one after each byte that came. Ends at once,
    // with what it has, when the device has failed.
    std::int32_t read(void* buffer, std::int32_t count, const ReadTimeouts& timeouts);

private:
    void run();
    // Waits until the queue has room; false when the reader is to stop.
    bool waitForRoom();
    // One read of up to count bytes, waited out: the Windows error, 0 on
    // success (got may be 0: the driver's time-out passed on a silent line).
    DWORD readOnce(std::uint8_t* into, DWORD count, DWORD& got);
    // A byte, then whatever the driver holds behind it.
    DWORD readArrival(std::uint8_t* into, DWORD room, DWORD& got);
    void queue(const std::uint8_t* bytes, DWORD count);
    void fail();
    // Takes from the queue with lock_ held; resets the event once it is empty.
    std::int32_t takeLocked(std::uint8_t* into, std::int32_t count);

    HANDLE port_;
    std::atomic<bool>& lost_;
    HANDLE ready_ = nullptr;
    // The read in flight, issued and cancelled under ioLock_ so that stopping
    // never misses a read that is just being started.
    OVERLAPPED io_{};
    std::mutex ioLock_;
    std::atomic<bool> stopping_{false};

    std::mutex lock_;
    std::condition_variable room_;
    std::string queued_;
    std::size_t takenAt_ = 0;
    bool failed_ = false;

    std::thread thread_;
};

}  // namespace serial
