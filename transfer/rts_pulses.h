#pragma once

#include <chrono>
#include <memory>
#include <thread>

class SerialPort;

// How a block read makes the RTS pulse that follows every byte it reads.
enum class PulseMode {
    // On a thread beside the reads: a byte is read while the pulse for the
    // one before is still in the driver. A target that waits for each pulse
    // still gets one per byte, in order; pulses asked for while one is under
    // way are made as one.
    Overlapped,
    // Each pulse is made before the next byte is read, one for every byte,
    // however long the driver takes for it.
    Strict,
};

// The RTS pulses of one read exchange. A USB adapter turns every pulse into
// control requests of a millisecond or more, which would hold up a block of
// 2048 one-byte reads by seconds; beside the reads they cost the line
// nothing. Where a pulse is no such call (a device without RTS, a network
// port that only queues it) or no thread can be made, pulses are strict.
class RtsPulses {
public:
    // How long the worker waits for a pulse call before it goes on without
    // it: a driver that hangs in the call must not hang the transfer.
    static constexpr std::chrono::milliseconds CallBound{100};

    RtsPulses(SerialPort* port, PulseMode mode);
    // Waits for the last pulse asked for (bounded) and ends the thread.
    ~RtsPulses();
    RtsPulses(const RtsPulses&) = delete;
    RtsPulses& operator=(const RtsPulses&) = delete;

    // After every one-byte read of a block, whether a byte came or not.
    void afterRead();
    // Before the worker writes a byte: the last pulse asked for is over.
    void settle();
    // Pulses run on a thread of their own.
    bool overlapped() const { return shared_ != nullptr; }

private:
    struct Shared;
    // The pulse thread: one pulse for whatever was asked for since its last.
    static void run(SerialPort* port, const std::shared_ptr<Shared>& shared);

    SerialPort* port_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
