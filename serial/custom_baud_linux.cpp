// Only the kernel's own termios here: <asm/termbits.h> and <termios.h>
// define the same names differently and cannot meet in one file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "serial/custom_baud.h"

namespace serial {

bool setCustomBaud(int fd, std::uint32_t baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &settings) == 0;
}

bool currentBaud(int fd, std::uint32_t& baud) {
    termios2 settings{};
    if (ioctl(fd, TCGETS2, &settings) != 0) {
        return false;
    }
    baud = settings.c_ospeed;
    return true;
}

}  // namespace serial
