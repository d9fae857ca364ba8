// Runs the terminal guards on its standard input (a pty the test holds) and
// reports each stage on standard output, so the test can look at the
// terminal's mode from outside.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/keyboard.h"
#include "platform/terminal.h"
#include "platform/terminal_keyboard.h"

namespace {

void report(const char* line) {
    const std::size_t length = std::strlen(line);
    if (::write(STDOUT_FILENO, line, length) != static_cast<ssize_t>(length)) {
        std::_Exit(3);
    }
}

// Keys until the input ends or a termination signal comes.
void echoKeys() {
    TerminalKeyboard keyboard;
    for (int key = keyboard.readKey(); key != Keyboard::NoMoreKeys; key = keyboard.readKey()) {
        char line[16];
        std::snprintf(line, sizeof line, "key %d\n", key);
        report(line);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    platform::watchTerminationSignals();
    if (std::strcmp(mode, "signal") == 0) {
        platform::RawTerminal raw;
        report("raw\n");
        echoKeys();
        report(platform::terminationRequested() ? "terminated\n" : "ended\n");
        return 0;
    }
    if (std::strcmp(mode, "exit") == 0) {
        // Never destroyed: exit() must restore the terminal by itself.
        new platform::RawTerminal;
        report("raw\n");
        TerminalKeyboard keyboard;
        keyboard.readKey();
        std::exit(0);
    }
    if (std::strcmp(mode, "normal-while") == 0) {
        platform::RawTerminal raw;
        report("raw\n");
        TerminalKeyboard keyboard;
        keyboard.readKey();
        {
            platform::NormalModeWhile normal;
            report("normal\n");
            char typed[64];
            // Canonical mode again: this read takes the whole line.
            if (::read(STDIN_FILENO, typed, sizeof typed) <= 0) {
                return 2;
            }
        }
        report("raw again\n");
        keyboard.readKey();
        return 0;
    }
    return 2;
}
