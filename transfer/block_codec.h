#pragma once

#include <cstdint>
#include <functional>

class RtsPulses;
class SerialPort;
class TransferJob;

inline constexpr std::uint8_t TransferHeaderByte = 0x01;
inline constexpr std::uint8_t BlockStartByte = 0x02;
inline constexpr std::uint8_t AbortByte = 0xFF;
inline constexpr std::uint8_t AckByte = 'Y';
inline constexpr std::uint8_t NakByte = 'N';
inline constexpr std::int32_t BlockSize = 2048;
inline constexpr int MaxBlockAttempts = 3;

// 8-bit additive checksum of a whole block.
std::uint8_t blockChecksum(const std::uint8_t* data);

// One byte to the port; true when it was written.
bool writeByte(SerialPort* port, std::uint8_t byte);
// Tells the monitor the exchange is abandoned. Nothing is awaited after it,
// and whether it went out is not examined.
void sendAbortByte(SerialPort* port);

// Owns the one block buffer that every transfer moves its data through.
class BlockCodec {
    // A block as it goes on the wire, start byte and checksum around the
    // data, so that it is handed to the port in one write: separate writes
    // would each wait for the line to drain and leave it idle in between.
    struct Frame {
        std::uint8_t start = BlockStartByte;
        std::uint8_t data[BlockSize] = {};
        std::uint8_t checksum = 0;
    };
    static_assert(sizeof(Frame) == BlockSize + 2);

public:
    BlockCodec() = default;
    BlockCodec(const BlockCodec&) = delete;
    BlockCodec& operator=(const BlockCodec&) = delete;
    virtual ~BlockCodec() = default;

    // Sends buffer as a checksummed block until the target says "Y". While
    // the first reply is on its way, `meanwhile` runs once: the caller
    // prepares its next block there instead of after the reply.
    bool sendBlock(SerialPort* port, TransferJob* job, const std::function<void()>& meanwhile = {});
    // Asks for a block into buffer until its checksum matches, with an RTS
    // pulse after every byte read; a block whose checksum fails is answered
    // "N" and asked for again. `requested`: the block's start byte went out
    // with the reply to the block before. The matching block's reply is
    // acceptBlock's.
    bool receiveBlock(SerialPort* port, TransferJob* job, RtsPulses& pulses, bool requested = false);
    // Says "Y" to the block received, and with it, in the same write, asks
    // for the next when requestNext: a USB adapter takes a 1 ms frame for
    // every write. How many of those bytes went out.
    std::int32_t acceptBlock(SerialPort* port, bool requestNext);

private:
    // A block's data into buffer, summed as it comes, with its RTS pulses.
    bool receiveData(SerialPort* port, RtsPulses& pulses, unsigned& sum);
    // The data bytes that are already there, into buffer from `from` on.
    std::int32_t takeWaiting(SerialPort* port, std::int32_t from);

    Frame frame_;

public:
    std::uint8_t (&buffer)[BlockSize] = frame_.data;
};

extern BlockCodec blockCodec;
