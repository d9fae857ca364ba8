#include "platform/host_services.h"

#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/screen.h"
#include "platform/shell_command.h"
#include "platform/terminal.h"

namespace {

// A sleep goes in slices: a request to end, from a signal or from inside,
// cuts it short, and whileWaiting runs between them.
constexpr std::uint32_t SleepSliceMs = 20;

}  // namespace

void SystemHostServices::sleepMilliseconds(std::uint32_t milliseconds) {
    while (milliseconds > 0 && !platform::terminationRequested()) {
        const std::uint32_t slice = milliseconds < SleepSliceMs ? milliseconds : SleepSliceMs;
        timespec remaining{0, static_cast<long>(slice) * 1000000L};
        // Other signals only interrupt the slice.
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR &&
               !platform::terminationRequested()) {
        }
        milliseconds -= slice;
        if (whileWaiting) whileWaiting();
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
    platform::runShellCommand(command, whileWaiting);
}
