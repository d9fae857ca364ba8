#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "serial/custom_baud.h"
#include "serial/low_latency.h"
#include "serial/serial_port.h"
#include "serial/timed_read_posix.h"
#include "serial/timed_write_posix.h"

namespace {

// Rates the usual speed calls know; any other goes through termios2.
speed_t standardSpeed(std::int32_t baud) {
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    case 2500000: return B2500000;
    case 3000000: return B3000000;
    case 3500000: return B3500000;
    case 4000000: return B4000000;
    default: return B0;
    }
}

// Drivers may round a rate to what their clock divides into; within 2% a
// UART at the far end still reads every byte. A driver that falls back to
// some other rate (8250 goes to 9600) is a refusal.
bool closeEnough(std::uint32_t actual, std::int32_t asked) {
    const auto wanted = static_cast<std::int64_t>(asked);
    const auto difference = static_cast<std::int64_t>(actual) - wanted;
    return difference * 50 <= wanted && -difference * 50 <= wanted;
}

// Closes the descriptor on every way out of open() but the successful one.
class OwnedFd {
public:
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// False when the device has no modem lines (a pseudo-terminal refuses the
// call); that is fine, there is nothing to set.
bool setModemLine(int fd, unsigned long request, int line) {
    if (ioctl(fd, request, &line) == 0) {
        return true;
    }
    return errno != ENOTTY && errno != EINVAL;
}

bool configureLine(int fd, std::int32_t baud) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    // Raw bytes: no character is translated, dropped or acted on.
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // 8N1, receiver on, modem status lines not waited for, and output held
    // while the target keeps CTS low.
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    const speed_t speed = standardSpeed(baud);
    if (speed != B0 && (cfsetispeed(&settings, speed) != 0 || cfsetospeed(&settings, speed) != 0)) {
        return false;
    }
    if (tcsetattr(fd, TCSANOW, &settings) != 0) {
        return false;
    }
    if (speed == B0 && !serial::setCustomBaud(fd, static_cast<std::uint32_t>(baud))) {
        return false;
    }
    // tcsetattr succeeds when any part of the change took; the rate is what
    // matters, so it is read back.
    std::uint32_t actual = 0;
    return serial::currentBaud(fd, actual) && closeEnough(actual, baud);
}

// A device that has gone (a pseudo-terminal whose far end closed, an adapter
// unplugged, so that its terminal hung up) tells poll() so at once with a
// hang-up or an error; a line that is merely silent tells nothing. Asked only
// after a read brought nothing or a write fell short.
bool deviceGone(int fd) {
    pollfd device{fd, POLLIN | POLLOUT, 0};
    return fd >= 0 && poll(&device, 1, 0) > 0 &&
           (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

}  // namespace

bool SerialPort::open(const char* portName, std::int32_t baudRate) {
    handle = -1;
    portLost.store(false);
    // Rate 0 would mean "hang up" to the driver.
    if (baudRate <= 0) {
        return false;
    }
    const std::string path = systemPortPath(portName);
    int opened;
    do {
        // Non-blocking: the open must not wait for a carrier, and reads and
        // writes wait in poll() against their own deadlines.
        opened = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (opened < 0 && errno == EINTR);
    OwnedFd fd(opened);
    if (fd.get() < 0) {
        return false;
    }
    // flock: a second console on the same port fails here, root's included.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    // TIOCEXCL: from now on any other open of the device (a terminal program
    // that does not flock) fails with EBUSY, unless it runs as root.
    ioctl(fd.get(), TIOCEXCL);
    if (!configureLine(fd.get(), baudRate)) {
        ioctl(fd.get(), TIOCNXCL);
        return false;
    }
    setModemLine(fd.get(), TIOCMBIC, TIOCM_DTR);
    // A device without an RTS line is not asked again for every byte of a
    // block read: two refused calls per byte were most of the read's cost.
    hasRts = setModemLine(fd.get(), TIOCMBIS, TIOCM_RTS);
    lowLatencySet = serial::setLowLatency(fd.get(), serial::systemSerialDriver());
    handle = fd.release();
    lineRate = baudRate;
    return true;
}

void SerialPort::close() {
    if (handle >= 0) {
        const int fd = static_cast<int>(handle);
        if (lowLatencySet) {
            serial::restoreLatency(fd, serial::systemSerialDriver());
            lowLatencySet = false;
        }
        ioctl(fd, TIOCNXCL);
        ::close(fd);
        handle = -1;
    }
}

std::int32_t SerialPort::read(void* buffer, std::int32_t count) {
    const std::int32_t got =
        serial::timedRead(static_cast<int>(handle), buffer, count, serial::lineTimeouts.read);
    if (got <= 0 && count > 0 && deviceGone(static_cast<int>(handle))) reportLost();
    return got;
}

std::intptr_t SerialPort::waitHandle() const { return handle; }

std::int32_t SerialPort::readWaiting(void* buffer, std::int32_t count) {
    const std::int32_t got = serial::readWaiting(static_cast<int>(handle), buffer, count);
    if (got < 0 && deviceGone(static_cast<int>(handle))) reportLost();
    return got;
}

std::int32_t SerialPort::write(const void* buffer, std::int32_t count) {
    const int fd = static_cast<int>(handle);
    serial::DriverQueue queue(fd);
    const std::int32_t written =
        serial::timedWrite(fd, buffer, count, serial::lineTimeouts.write, queue, lineRate);
    if (written < count && deviceGone(static_cast<int>(handle))) reportLost();
    return written;
}

bool SerialPort::pulseIsLineControl() const { return handle >= 0 && hasRts; }

void SerialPort::pulseRts() {
    if (!hasRts) {
        return;
    }
    const int fd = static_cast<int>(handle);
    setModemLine(fd, TIOCMBIC, TIOCM_RTS);
    setModemLine(fd, TIOCMBIS, TIOCM_RTS);
}
