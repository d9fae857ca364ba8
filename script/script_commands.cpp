#include <cstdint>
#include <limits>

#include "console/console.h"
#include "platform/host_services.h"
#include "platform/keyboard.h"

bool Console::sleep(std::int32_t seconds) {
    // A negative count waits no time; one whose milliseconds do not fit in
    // 32 bits waits the longest count that does.
    constexpr std::int64_t Longest = std::numeric_limits<std::uint32_t>::max();
    const std::int64_t milliseconds = static_cast<std::int64_t>(seconds) * 1000;
    if (milliseconds > 0) {
        host.sleepMilliseconds(
            static_cast<std::uint32_t>(milliseconds > Longest ? Longest : milliseconds));
    }
    return true;
}

bool Console::echo(const char* text) {
    print(text);
    sendChar(keys::Enter);
    state = Typing;
    return true;
}

bool Console::shell(const char* command) {
    // The exit status tells the script nothing it acts on.
    host.shell(command);
    return true;
}

bool Console::beep() {
    host.beep();
    sendChar(keys::Enter);
    state = Typing;
    return true;
}

bool Console::pause() {
    // One code only: of a function key the scan code stays for the loop.
    const int key = keyboard.readKey();
    // Input that has ended can bring no key: stop as ESC would.
    if (key == keys::Escape || key == Keyboard::NoMoreKeys) {
        return false;
    }
    sendChar(keys::Enter);
    state = Typing;
    return true;
}
