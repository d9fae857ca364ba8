#include "serial/port_reader_win32.h"

#include <algorithm>

namespace serial {

namespace {

// What one pass takes off the driver at most.
constexpr DWORD ReadSize = 4096;
// Past this much unread, the reader stops taking bytes off the driver, whose
// own buffer then fills as it did before there was a reader.
constexpr std::size_t QueueLimit = 64 * 1024;

}  // namespace

PortReader::PortReader(HANDLE port, std::atomic<bool>& lost) : port_(port), lost_(lost) {
    ready_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    io_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (ready_ != nullptr && io_.hEvent != nullptr) {
        thread_ = std::thread([this] { run(); });
    }
}

PortReader::~PortReader() {
    {
        const std::lock_guard<std::mutex> hold(ioLock_);
        stopping_.store(true);
        // A read already ended is not touched; one in flight ends at once.
        CancelIoEx(port_, &io_);
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        room_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (HANDLE event : {ready_, io_.hEvent}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
}

std::int32_t PortReader::takeWaiting(void* buffer, std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    const std::lock_guard<std::mutex> hold(lock_);
    const std::int32_t taken = takeLocked(static_cast<std::uint8_t*>(buffer), count);
    return taken == 0 && failed_ ? -1 : taken;
}

std::int32_t PortReader::read(void* buffer, std::int32_t count, const ReadTimeouts& timeouts) {
    if (count <= 0) {
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    // The total time-out runs from the start and is not renewed by bytes.
    const platform::Deadline total = timeouts.total(count);
    platform::Deadline until = total;
    std::int32_t got = 0;
    for (;;) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            const std::int32_t taken = takeLocked(bytes + got, count - got);
            if (taken > 0) {
                got += taken;
                // After the first byte, a gap longer than the interval ends the read.
                until = platform::Deadline::earliest(total, platform::Deadline::after(timeouts.interval));
            }
            if (got == count || failed_ || until.passed()) {
                return got;
            }
        }
        // The event is reset only under the lock, when the queue runs empty,
        // so bytes queued since the look above end this wait at once.
        WaitForSingleObject(ready_, static_cast<DWORD>(until.leftMs()));
    }
}

std::int32_t PortReader::takeLocked(std::uint8_t* into, std::int32_t count) {
    const std::size_t take = std::min(queued_.size() - takenAt_, static_cast<std::size_t>(count));
    std::copy_n(queued_.data() + takenAt_, take, into);
    takenAt_ += take;
    if (takenAt_ == queued_.size()) {
        queued_.clear();
        takenAt_ = 0;
        if (!failed_) {
            ResetEvent(ready_);
        }
    }
    if (take > 0) {
        room_.notify_one();
    }
    return static_cast<std::int32_t>(take);
}

void PortReader::run() {
    std::uint8_t bytes[ReadSize];
    while (waitForRoom()) {
        DWORD got = 0;
        const DWORD error = readArrival(bytes, ReadSize, got);
        if (got > 0) {
            queue(bytes, got);
        }
        if (stopping_.load()) {
            return;
        }
        // With fAbortOnError off, a read fails only when the device has gone
        // (ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED,
        // ERROR_GEN_FAILURE ...). A removed device may also end reads with
        // nothing, like a silent line; its status can no longer be read then.
        DWORD errors = 0;
        COMSTAT status{};
        const bool gone = error != 0 && error != ERROR_OPERATION_ABORTED;
        if (gone || (error == 0 && got == 0 && !ClearCommError(port_, &errors, &status))) {
            fail();
            return;
        }
        if (error == ERROR_OPERATION_ABORTED) {
            // Nobody else cancels this thread's reads; should a driver end
            // them so anyway, the next one is not started in a spin.
            Sleep(10);
        }
    }
}

bool PortReader::waitForRoom() {
    std::unique_lock<std::mutex> hold(lock_);
    room_.wait(hold, [this] { return stopping_.load() || queued_.size() - takenAt_ < QueueLimit; });
    return !stopping_.load();
}

DWORD PortReader::readArrival(std::uint8_t* into, DWORD room, DWORD& got) {
    // One byte waits for the line, up to the driver's time-out; the bytes
    // behind it are there already and are read without a wait. (A read of
    // more would wait for all of them under Wine.)
    DWORD error = readOnce(into, 1, got);
    if (error != 0 || got == 0) {
        return error;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_, &errors, &status) || status.cbInQue == 0) {
        return 0;
    }
    DWORD more = 0;
    error = readOnce(into + 1, std::min<DWORD>(status.cbInQue, room - 1), more);
    got += more;
    return error;
}

DWORD PortReader::readOnce(std::uint8_t* into, DWORD count, DWORD& got) {
    got = 0;
    {
        const std::lock_guard<std::mutex> hold(ioLock_);
        if (stopping_.load()) {
            return ERROR_OPERATION_ABORTED;
        }
        if (!ReadFile(port_, into, count, nullptr, &io_) && GetLastError() != ERROR_IO_PENDING) {
            return GetLastError();
        }
    }
    // The driver ends the read by the time-outs set at open, or on cancel.
    // Wine reports the time-out as a failure; it is a silent line.
    if (GetOverlappedResult(port_, &io_, &got, TRUE)) {
        return 0;
    }
    const DWORD error = GetLastError();
    return error == ERROR_TIMEOUT ? 0 : error;
}

void PortReader::queue(const std::uint8_t* bytes, DWORD count) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (takenAt_ >= ReadSize) {
        // A queue that never quite runs empty under steady output keeps
        // only what is still to be taken.
        queued_.erase(0, takenAt_);
        takenAt_ = 0;
    }
    queued_.append(reinterpret_cast<const char*>(bytes), count);
    SetEvent(ready_);
}

void PortReader::fail() {
    const std::lock_guard<std::mutex> hold(lock_);
    failed_ = true;
    lost_.store(true);
    SetEvent(ready_);
}

}  // namespace serial
