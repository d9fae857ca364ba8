#pragma once

#include <chrono>
#include <cstdint>
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
    // How long the pulse for bytes that came several at once waits for more
    // to come. The control requests of a pulse slow an adapter's stream of
    // received bytes; a target that waits for a pulse gets it after this.
    static constexpr std::chrono::milliseconds BatchHold{5};

    RtsPulses(SerialPort* port, PulseMode mode);
    // Waits for the last pulse asked for (bounded) and ends the thread.
    ~RtsPulses();
    RtsPulses(const RtsPulses&) = delete;
    RtsPulses& operator=(const RtsPulses&) = delete;

    // After every read of a block, whether a byte came or not: a pulse for
    // each of the `bytes` it took, and one for a read that took none. On the
    // pulse thread they merge into one, at once after a lone byte (a target
    // may be waiting for it), after BatchHold without more bytes otherwise.
    void afterRead(std::int32_t bytes);
    // The block's data is in: a pulse held over for more bytes goes out now.
    void release();
    // Waits until the last pulse asked for is over (bounded): the exchange
    // ends only then. Between blocks the pulses are not waited for: the last
    // of a block may still be under way while its reply and the next
    // request go out, which a target that waits for each pulse has seen
    // before it sent the checksum.
    void settle();
    // Pulses run on a thread of their own.
    bool overlapped() const { return shared_ != nullptr; }
    // A read may take every byte that has come: bytes that are there
    // together were sent without a pulse between them.
    bool readsWhatHasCome() const { return mode_ == PulseMode::Overlapped; }

private:
    struct Shared;
    // The pulse thread: one pulse for whatever was asked for since its last.
    static void run(SerialPort* port, const std::shared_ptr<Shared>& shared);

    SerialPort* port_;
    PulseMode mode_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};
