#include "script/script_commands.h"

#include <limits>
#include <string>

#include "console/console.h"
#include "platform/host_services.h"
#include "platform/keyboard.h"

namespace local {

bool sleep(Console& console, std::int32_t seconds) {
    // A negative count waits no time; one whose milliseconds do not fit in
    // 32 bits waits the longest count that does.
    constexpr std::int64_t Longest = std::numeric_limits<std::uint32_t>::max();
    const std::int64_t milliseconds = static_cast<std::int64_t>(seconds) * 1000;
    if (milliseconds > 0) {
        console.host().sleepMilliseconds(
            static_cast<std::uint32_t>(milliseconds > Longest ? Longest : milliseconds));
    }
    return true;
}

bool echo(Console& console, const char* text) {
    console.print(text);
    console.handBack();
    return true;
}

bool shell(Console& console, const char* command) {
    // The script line's end is no part of the command: cmd.exe takes a
    // carriage return into the last word.
    std::string line = command;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    // The exit status tells the script nothing it acts on.
    console.host().shell(line.c_str());
    return true;
}

bool beep(Console& console) {
    console.host().beep();
    console.handBack();
    return true;
}

bool pause(Console& console) {
    // One code only: of a function key the scan code stays for the loop.
    const int key = console.keyboard().readKey();
    // Input that has ended can bring no key: stop as ESC would.
    if (key == keys::Escape || key == Keyboard::NoMoreKeys) {
        return false;
    }
    console.handBack();
    return true;
}

}  // namespace local
