#pragma once

#include <cstdint>

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
public:
    virtual ~BlockCodec() = default;

    // Sends buffer as a checksummed block until the target says "Y".
    bool sendBlock(SerialPort* port, TransferJob* job);
    // Asks for a block into buffer until its checksum matches.
    bool receiveBlock(SerialPort* port, TransferJob* job);

    std::uint8_t buffer[BlockSize] = {};
};

extern BlockCodec blockCodec;
