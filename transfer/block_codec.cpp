#include "transfer/block_codec.h"

#include "serial/serial_port.h"
#include "transfer/rts_pulses.h"
#include "transfer/transfer_job.h"

BlockCodec blockCodec;

std::uint8_t blockChecksum(const std::uint8_t* data) {
    unsigned sum = 0;
    for (std::int32_t i = 0; i < BlockSize; ++i) sum += data[i];
    return static_cast<std::uint8_t>(sum);
}

bool writeByte(SerialPort* port, std::uint8_t byte) { return port->write(&byte, 1) == 1; }

void sendAbortByte(SerialPort* port) { writeByte(port, AbortByte); }

bool BlockCodec::sendBlock(SerialPort* port, TransferJob* job, const std::function<void()>& meanwhile) {
    frame_.checksum = blockChecksum(buffer);
    for (int attempt = 0; attempt < MaxBlockAttempts; ++attempt) {
        if (job->isCancelled()) {
            sendAbortByte(port);
            return false;
        }
        if (port->write(&frame_, sizeof frame_) != std::int32_t(sizeof frame_)) return false;
        if (attempt == 0 && meanwhile) meanwhile();
        std::uint8_t reply = 0;
        if (port->read(&reply, 1) != 1) return false;
        if (reply == AckByte) return true;
        // Any other reply: the same block and checksum go out again.
    }
    sendAbortByte(port);
    return false;
}

bool BlockCodec::receiveBlock(SerialPort* port, TransferJob* job, RtsPulses& pulses, bool requested) {
    for (int attempt = 0; attempt < MaxBlockAttempts; ++attempt) {
        // A request that went out with the last reply was the cancel test's.
        if (attempt > 0 || !requested) {
            if (job->isCancelled()) {
                sendAbortByte(port);
                return false;
            }
            if (!writeByte(port, BlockStartByte)) return false;
        }
        unsigned sum = 0;
        if (!receiveData(port, pulses, sum)) return false;
        std::uint8_t checksum = 0;
        if (port->read(&checksum, 1) != 1) return false;
        // The last pulse may still be under way: a target that waits for
        // each pulse sent the checksum only after it, and one that streams
        // does not look.
        if (checksum == static_cast<std::uint8_t>(sum)) return true;
        if (!writeByte(port, NakByte)) return false;
    }
    sendAbortByte(port);
    return false;
}

std::int32_t BlockCodec::acceptBlock(SerialPort* port, bool requestNext) {
    const std::uint8_t reply[2] = {AckByte, BlockStartByte};
    return port->write(reply, requestNext ? 2 : 1);
}

std::int32_t BlockCodec::takeWaiting(SerialPort* port, std::int32_t from) {
    // Never past the data: the checksum follows it.
    const std::int32_t got = port->readWaiting(&buffer[from], BlockSize - from);
    return got > 0 ? got : 0;
}

bool BlockCodec::receiveData(SerialPort* port, RtsPulses& pulses, unsigned& sum) {
    const bool takeAll = pulses.readsWhatHasCome();
    for (std::int32_t at = 0; at < BlockSize;) {
        // What has come is taken in one go; an empty line is waited for a
        // byte at a time, under the read time-out, and the bytes that came
        // with that byte count with it. Strict pulses read every byte alone.
        std::int32_t got = takeAll ? takeWaiting(port, at) : 0;
        if (got == 0) {
            got = port->read(&buffer[at], 1);
            if (takeAll && got == 1) got += takeWaiting(port, at + 1);
        }
        // The target paces itself by the RTS pulse after every byte,
        // whether the byte came or not.
        pulses.afterRead(got);
        if (got <= 0) return false;
        // Summed as the bytes come, so that the reply to the checksum
        // waits for nothing but the comparison.
        for (const std::int32_t end = at + got; at < end; ++at) sum += buffer[at];
    }
    pulses.release();
    return true;
}
