#pragma once

// USB serial adapters may hold received bytes up to 16 ms before passing them
// on unless the driver's low-latency flag is set; that delay is most of a
// block's round trip. The flag is set at open where the driver takes it and
// put back at close. A driver that refuses (a pseudo-terminal, most UARTs'
// own drivers, which need no flag) is left as it is, silently.
namespace serial {

// The driver calls the flag goes through: its settings read and written
// whole (TIOCGSERIAL and TIOCSSERIAL on Linux); a seam for tests.
class SerialDriver {
public:
    virtual ~SerialDriver() = default;
    // The low-latency flag as the driver has it; false when it cannot tell.
    virtual bool readLowLatency(int fd, bool& set) = 0;
    // Sets or clears the flag, every other setting left as it is.
    virtual bool writeLowLatency(int fd, bool set) = 0;
};

SerialDriver& systemSerialDriver();

// Sets the flag where it is not set yet and returns whether this call set it
// (so that close knows to clear it again).
bool setLowLatency(int fd, SerialDriver& driver);
// Clears the flag that setLowLatency set.
void restoreLatency(int fd, SerialDriver& driver);

}  // namespace serial
