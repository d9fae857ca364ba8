#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace serial {
class PortReader;
}

// Why an open failed, where the port can tell more than that it did (a
// port served over the network).
enum class OpenFailure : std::uint8_t {
    Unknown,
    NoSuchHost,
    Refused,
    NoAnswer,
    Unreachable,
    ClosedByServer,
    PortControlRefused,
    PortControlSilent,
};

// The one serial line to the target: 8 data bits, no parity, 1 stop bit,
// CTS output handshake, RTS raised, DTR low, no software flow control.
// Reads and writes block and report only how many bytes went through; how
// long they may take is serial::lineTimeouts (serial/line_timeouts.h).
// The operations are virtual so that tests can stand in for the line.
class SerialPort {
public:
    SerialPort() = default;
    virtual ~SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    virtual bool open(const char* portName, std::int32_t baudRate);
    // open() for a caller that must stay responsive meanwhile: where opening
    // can take seconds (a network server that does not answer), giveUp is
    // asked every few tens of milliseconds and a true ends the open, failed.
    bool openUnless(const char* portName, std::int32_t baudRate, std::function<bool()> giveUp) {
        openGiveUp = std::move(giveUp);
        const bool opened = open(portName, baudRate);
        openGiveUp = nullptr;
        return opened;
    }
    virtual void close();
    virtual std::int32_t read(void* buffer, std::int32_t count);
    virtual std::int32_t write(const void* buffer, std::int32_t count);
    // Lowers RTS and raises it again at once.
    virtual void pulseRts();
    // The pulse is a call into the device's driver, which may take a while
    // (a USB adapter sends control requests for it); false where it does
    // nothing (no RTS line) or only queues messages (a network port).
    virtual bool pulseIsLineControl() const;

    // For a wait on the port together with other input: what becomes ready
    // when bytes arrive (a descriptor on POSIX, an event on Windows); -1 when
    // the port has none, and then read() itself is the wait.
    virtual std::intptr_t waitHandle() const;
    // Takes up to count bytes that are already there, without waiting: how
    // many, 0 when none are, -1 when the device failed or has gone.
    virtual std::int32_t readWaiting(void* buffer, std::int32_t count);

    // The device has gone (an unplugged adapter, a closed pseudo-terminal):
    // a read or write failed in the way only a vanished device fails. A
    // silent line is not lost. Cleared by the next successful open. Set by
    // whichever thread uses the port, read by the main thread.
    bool lost() const { return portLost.load(); }
    // Why the last open failed; Unknown where the port cannot tell.
    OpenFailure openFailure() const { return failure; }

protected:
    void reportLost() { portLost.store(true); }

    std::atomic<bool> portLost{false};
    OpenFailure failure = OpenFailure::Unknown;
    // What openUnless was given, for the length of its open().
    std::function<bool()> openGiveUp;
    std::intptr_t handle = -1;
    // The rate the line was opened with; tells how long queued bytes take.
    std::int32_t lineRate = 0;
    // The driver's low-latency flag was set at open and is cleared at close.
    bool lowLatencySet = false;
    // The device has an RTS line to pulse (a pseudo-terminal has none).
    bool hasRts = true;
    // Windows: the thread that does every read of the port, from open to close.
    std::shared_ptr<serial::PortReader> reader;
    // Windows: the named claim on the port that keeps a second console off it.
    std::intptr_t claim = 0;
};

// The device a port name opens on this platform. The name itself is what the
// banner shows and the settings keep.
std::string systemPortPath(const std::string& portName);
