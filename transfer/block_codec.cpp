#include "transfer/block_codec.h"

#include "serial/serial_port.h"
#include "transfer/transfer_job.h"

BlockCodec blockCodec;

std::uint8_t blockChecksum(const std::uint8_t* data) {
    unsigned sum = 0;
    for (std::int32_t i = 0; i < BlockSize; ++i) sum += data[i];
    return static_cast<std::uint8_t>(sum);
}

bool writeByte(SerialPort* port, std::uint8_t byte) { return port->write(&byte, 1) == 1; }

void sendAbortByte(SerialPort* port) { writeByte(port, AbortByte); }

bool BlockCodec::sendBlock(SerialPort* port, TransferJob* job) {
    const std::uint8_t checksum = blockChecksum(buffer);
    for (int attempt = 0; attempt < MaxBlockAttempts; ++attempt) {
        if (job->isCancelled()) {
            sendAbortByte(port);
            return false;
        }
        if (!writeByte(port, BlockStartByte)) return false;
        if (port->write(buffer, BlockSize) != BlockSize) return false;
        if (!writeByte(port, checksum)) return false;
        std::uint8_t reply = 0;
        if (port->read(&reply, 1) != 1) return false;
        if (reply == AckByte) return true;
        // Any other reply: the same block and checksum go out again.
    }
    sendAbortByte(port);
    return false;
}

bool BlockCodec::receiveBlock(SerialPort* port, TransferJob* job) {
    for (int attempt = 0; attempt < MaxBlockAttempts; ++attempt) {
        if (job->isCancelled()) {
            sendAbortByte(port);
            return false;
        }
        if (!writeByte(port, BlockStartByte)) return false;
        for (std::int32_t i = 0; i < BlockSize; ++i) {
            // The target paces itself by the RTS pulse after every byte,
            // whether the byte came or not.
            const std::int32_t got = port->read(&buffer[i], 1);
            port->pulseRts();
            if (got != 1) return false;
        }
        std::uint8_t checksum = 0;
        if (port->read(&checksum, 1) != 1) return false;
        if (checksum == blockChecksum(buffer)) return writeByte(port, AckByte);
        if (!writeByte(port, NakByte)) return false;
    }
    sendAbortByte(port);
    return false;
}
