#include "platform/host_services.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/screen.h"
#include "platform/terminal.h"

void SystemHostServices::sleepMilliseconds(std::uint32_t milliseconds) {
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // Other signals only interrupt the sleep; a request to end cuts it short.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR &&
           !platform::terminationRequested()) {
    }
}

void SystemHostServices::beep() {
    // A terminal has no tone of its own pitch; its bell stands in, and the
    // wait keeps the tone's length.
    StdoutScreen().write("\a", 1);
    sleepMilliseconds(100);
}

void SystemHostServices::shell(const char* command) {
    // The command gets the terminal as the user knows it.
    const platform::NormalModeWhile normalMode;
    const int status = std::system(command);
    static_cast<void>(status);
}
