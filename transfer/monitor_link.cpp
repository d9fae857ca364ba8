// The exchanges with the target's monitor that move memory images: opened by
// "BWR\r" or "BRD\r", a header with address and length, checksummed blocks,
// closed by "end binary\r". Runs on the job's worker thread.
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/host_file_io.h"
#include "serial/serial_port.h"
#include "transfer/block_codec.h"
#include "transfer/transfer_job.h"

namespace {

// The monitor needs a moment after "BRD\r" before it acknowledges.
constexpr auto ReadExchangePause = std::chrono::milliseconds(200);

}  // namespace

std::int32_t TransferJob::sendWord(SerialPort* port, std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return port->write(bytes, 4);
}

bool TransferJob::sendEchoed(SerialPort* port, const char* text) {
    for (const char* next = text; *next != '\0'; ++next) {
        writeByte(port, static_cast<std::uint8_t>(*next));
        // The echo's value is not compared; a missing echo after the last
        // byte does not matter either.
        std::uint8_t echo = 0;
        if (port->read(&echo, 1) != 1 && next[1] != '\0') return false;
    }
    return true;
}

bool TransferJob::waitForText(SerialPort* port, const char* text) {
    // The text may arrive with other bytes before, between and after its
    // characters; a silent line ends the wait.
    const char* wanted = text;
    while (*wanted != '\0') {
        std::uint8_t byte = 0;
        if (port->read(&byte, 1) != 1) return false;
        if (byte == static_cast<std::uint8_t>(*wanted)) ++wanted;
    }
    return true;
}

bool TransferJob::beginBinaryWrite(SerialPort* port) {
    return sendEchoed(port, "BWR\r") && waitForText(port, "binary\r");
}

bool TransferJob::endBinaryWrite(SerialPort* port) {
    return writeByte(port, '\r') && waitForText(port, "end binary\r");
}

bool TransferJob::beginBinaryRead(SerialPort* port) {
    if (!sendEchoed(port, "BRD\r")) return false;
    std::this_thread::sleep_for(ReadExchangePause);
    return waitForText(port, "binary\r");
}

bool TransferJob::endBinaryRead(SerialPort* port) { return waitForText(port, "end binary\r"); }

bool TransferJob::sendExchange(SerialPort* port, std::uint64_t fileOffset, std::uint32_t address,
                               std::uint32_t length) {
    return platform::seekFile(handle, fileOffset) && beginBinaryWrite(port) &&
           streamToTarget(port, address, length) && endBinaryWrite(port);
}

bool TransferJob::sendHeader(SerialPort* port, std::uint32_t address, std::uint32_t length) {
    return writeByte(port, TransferHeaderByte) && sendWord(port, address) == 4 &&
           sendWord(port, length) == 4;
}

bool TransferJob::streamToTarget(SerialPort* port, std::uint32_t address, std::uint32_t length) {
    if (isCancelled()) {
        sendAbortByte(port);
        return false;
    }
    if (!sendHeader(port, address, length)) return false;

    // Each block is read from the file (and the cancel flag looked at) while
    // the reply to the one before is on its way; what goes on the wire, and
    // when an abort does, is as if it were read after that reply.
    std::uint8_t next[BlockSize];
    bool cancelled = false;
    bool readOk = true;
    const auto prepare = [&](std::uint32_t remaining) {
        const std::uint32_t count = remaining < BlockSize ? remaining : BlockSize;
        cancelled = isCancelled();
        // A final block is padded with zero bytes, never with what an
        // earlier block or transfer left in the buffer; a file that ends
        // before the announced length fails rather than send made-up data.
        std::memset(next + count, 0, BlockSize - count);
        readOk = readExactly(next, count);
    };
    if (length > 0) prepare(length);
    for (std::uint32_t remaining = length; remaining > 0;) {
        const std::uint32_t count = remaining < BlockSize ? remaining : BlockSize;
        if (cancelled || !readOk) {
            sendAbortByte(port);
            return false;
        }
        std::memcpy(blockCodec.buffer, next, BlockSize);
        remaining -= count;
        const auto meanwhile = [&] {
            if (remaining > 0) prepare(remaining);
        };
        if (!blockCodec.sendBlock(port, this, meanwhile)) return false;
        addBytes(count);
    }
    return true;
}

bool TransferJob::streamFromTarget(SerialPort* port, std::uint32_t address, std::uint32_t length) {
    if (isCancelled()) {
        sendAbortByte(port);
        return false;
    }
    if (!sendHeader(port, address, length)) return false;

    // One pulse thread for the whole exchange; it has made its last pulse
    // before the worker leaves, and with it the exchange.
    RtsPulses pulses(port, pulseMode);
    bool requested = false;
    for (std::uint32_t remaining = length; remaining > 0;) {
        const std::uint32_t count = remaining < BlockSize ? remaining : BlockSize;
        const bool cancelled = isCancelled();
        if (!blockCodec.receiveBlock(port, this, pulses, requested)) return false;
        // A long stop while the block came: the monitor has left the
        // exchange, and a "Y" would reach its command line.
        if (isCancelled() && stopSeen_) {
            sendAbortByte(port);
            return false;
        }
        // Kept before its "Y", so that the next block's request can leave
        // with the "Y": a block whose "Y" did not go out is taken back.
        const bool writeOk = writeExactly(blockCodec.buffer, count);
        remaining -= count;
        requested = writeOk && !cancelled && remaining > 0 && !isCancelled();
        const std::int32_t sent = blockCodec.acceptBlock(port, requested);
        if (sent < 1) {
            if (writeOk) takeBack(count);
            return false;
        }
        if (cancelled || !writeOk) {
            sendAbortByte(port);
            return false;
        }
        addBytes(count);
        if (requested && sent < 2) return false;
    }
    return true;
}
