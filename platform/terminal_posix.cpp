#include "platform/terminal.h"
#include "platform/terminal_modes.h"

#include <termios.h>
#include <unistd.h>

#include <csignal>

namespace platform {

namespace {

// Standard input's settings before raw mode, and raw mode itself.
termios normalMode{};
termios rawMode{};

volatile std::sig_atomic_t terminationFlag = 0;

void setMode(const termios& mode) {
    // TCSANOW: a terminal stopped by flow control must not hold us up.
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

extern "C" void onTerminationSignal(int) {
    terminationFlag = 1;
}

}  // namespace

bool readTerminalModes() {
    if (isatty(STDIN_FILENO) != 1 || tcgetattr(STDIN_FILENO, &normalMode) != 0) {
        return false;
    }
    rawMode = normalMode;
    // Keys go to the target as typed: no echo, no line editing, no signal
    // keys (Ctrl-C is a byte for the target), no flow-control keys, CR not
    // turned into LF. Output processing stays so that "\n" starts a line.
    rawMode.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                              ICRNL | IXON | IXOFF);
    rawMode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    rawMode.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
    rawMode.c_cflag |= CS8;
    rawMode.c_oflag |= OPOST | ONLCR;
    rawMode.c_cc[VMIN] = 1;
    rawMode.c_cc[VTIME] = 0;
    return true;
}

void applyNormalMode() { setMode(normalMode); }

void applyRawMode() { setMode(rawMode); }

void watchTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait ends early, so the loop sees the flag.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // A screen that has gone (its pipe closed) must not kill the console
    // before the terminal is restored; writes to it just fail.
    signal(SIGPIPE, SIG_IGN);
}

bool terminationRequested() {
    return terminationFlag != 0;
}

}  // namespace platform
