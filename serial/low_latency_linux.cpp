#include <linux/serial.h>
#include <sys/ioctl.h>

#include "serial/low_latency.h"

namespace serial {

namespace {

class LinuxSerialDriver final : public SerialDriver {
public:
    bool readLowLatency(int fd, bool& set) override {
        serial_struct info{};
        if (ioctl(fd, TIOCGSERIAL, &info) != 0) {
            return false;
        }
        set = (info.flags & ASYNC_LOW_LATENCY) != 0;
        return true;
    }
    bool writeLowLatency(int fd, bool set) override {
        serial_struct info{};
        if (ioctl(fd, TIOCGSERIAL, &info) != 0) {
            return false;
        }
        info.flags = set ? (info.flags | ASYNC_LOW_LATENCY) : (info.flags & ~ASYNC_LOW_LATENCY);
        return ioctl(fd, TIOCSSERIAL, &info) == 0;
    }
};

}  // namespace

SerialDriver& systemSerialDriver() {
    static LinuxSerialDriver driver;
    return driver;
}

bool setLowLatency(int fd, SerialDriver& driver) {
    bool already = false;
    if (!driver.readLowLatency(fd, already) || already) {
        return false;
    }
    return driver.writeLowLatency(fd, true);
}

void restoreLatency(int fd, SerialDriver& driver) { driver.writeLowLatency(fd, false); }

}  // namespace serial
