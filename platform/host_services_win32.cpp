#include "platform/host_services.h"

#include <windows.h>

#include <algorithm>

#include "platform/shell_command.h"
#include "platform/terminal.h"

namespace {

// Long sleeps go in slices: Sleep(INFINITE) is the count 0xFFFFFFFF and
// would never return, and a request to end should not wait for the rest.
constexpr std::uint32_t SleepSliceMs = 100;

}  // namespace

void SystemHostServices::sleepMilliseconds(std::uint32_t milliseconds) {
    while (milliseconds > 0 && !platform::terminationRequested()) {
        const std::uint32_t slice = std::min(milliseconds, SleepSliceMs);
        Sleep(slice);
        milliseconds -= slice;
        if (whileWaiting) whileWaiting();
    }
}

void SystemHostServices::beep() {
    Beep(1000, 100);
}

void SystemHostServices::shell(const char* command) {
    // The command gets the console as the user knows it.
    const platform::NormalModeWhile normalMode;
    platform::runShellCommand(command, whileWaiting);
}
