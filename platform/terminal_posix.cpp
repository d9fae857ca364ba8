#include "platform/terminal.h"
#include "platform/terminal_modes.h"

#include <fcntl.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// Standard input's settings before raw mode, and raw mode itself.
termios normalMode{};
termios rawMode{};

// The signal that asked the program to end; 0 while nothing has, and
// RequestedFromInside for requestTermination. Lock-free, so that both a
// handler and any thread may set it.
std::atomic<int> terminationFlag{0};
constexpr int RequestedFromInside = -1;
static_assert(std::atomic<int>::is_always_lock_free);
// Raw mode is what the terminal should be in now (not during an external
// command): the job-control handlers read it.
volatile std::sig_atomic_t rawWanted = 0;

// Stops of the whole process that may have outlasted a monitor's patience
// in an exchange (see longPauses), and when the one under way began (0 for
// a stop that did not come through onStop, whose length is unknown).
std::atomic<int> longStops{0};
std::atomic<long long> stopBeganMs{0};
// When the process was last seen running (see noteRunning).
std::atomic<long long> runningAtMs{0};
constexpr long long LongStopMs = 1000;

// CLOCK_MONOTONIC, which may be read from a signal handler; it runs on
// while the process is stopped.
long long monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

void setMode(const termios& mode) {
    // TCSANOW: a terminal stopped by flow control must not hold us up.
    tcsetattr(STDIN_FILENO, TCSANOW, &mode);
}

extern "C" void onTerminationSignal(int signal) {
    int none = 0;
    terminationFlag.compare_exchange_strong(none, signal);
}

// Continued (fg): the shell has put its own mode back, so raw mode is set
// again, if the terminal is ours to set; a job continued in the background
// is set when it comes to the foreground, by the SIGCONT of that.
extern "C" void onContinue(int) {
    const int savedErrno = errno;
    // A stop of our own was timed from its start; any other (SIGSTOP) from
    // when the process was last seen running. A SIGCONT to a process that
    // was not stopped thus measures nothing long.
    const long long began = stopBeganMs.exchange(0);
    const long long since = began != 0 ? began : runningAtMs.load();
    if (since == 0 || monotonicMs() - since > LongStopMs) {
        longStops.fetch_add(1);
    }
    if (rawWanted != 0 && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        setMode(rawMode);
    }
    errno = savedErrno;
}

// Ctrl+Z from the shell's side (kill -TSTP, or the suspend key while an
// external command runs): the terminal goes back to the shell as it was
// found, then the process stops as it would have without a handler. A
// transfer in progress only pauses with it.
extern "C" void onStop(int) {
    const int savedErrno = errno;
    if (rawWanted != 0) {
        setMode(normalMode);
    }
    struct sigaction standard {};
    struct sigaction ours {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(SIGTSTP, &standard, &ours);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigset_t before;
    stopBeganMs.store(monotonicMs());
    raise(SIGTSTP);  // held while this handler runs; stops us when let through
    pthread_sigmask(SIG_UNBLOCK, &stop, &before);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(SIGTSTP, &ours, nullptr);
    errno = savedErrno;
}

void watchJobControl() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onStop;
    sigaction(SIGTSTP, &action, nullptr);
    action.sa_handler = onContinue;
    sigaction(SIGCONT, &action, nullptr);
}

// After everything else at exit (the terminal restored first): a program
// ended by a signal says so to whoever started it.
void endAsSignalled() {
    const int signal = terminationFlag.load();
    if (signal <= 0) {
        return;
    }
    std::fflush(nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(signal, &standard, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    std::_Exit(128 + signal);
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
    watchJobControl();
    return true;
}

void applyNormalMode() {
    rawWanted = 0;
    setMode(normalMode);
}

void applyRawMode() {
    setMode(rawMode);
    rawWanted = 1;
}

void keepStandardDescriptorsOpen() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free descriptor is the one just found closed.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            std::_Exit(1);  // nowhere safe to put the port: do not start
        }
    }
}

void endWithTerminationSignalAtExit() {
    std::atexit(endAsSignalled);
}

void watchTerminationSignals() {
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking wait ends early, so the loop sees the flag.
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) != 0 || hangUp.sa_handler != SIG_IGN) {
        sigaction(SIGHUP, &action, nullptr);
    }
    // A screen that has gone (its pipe closed) must not kill the console
    // before the terminal is restored; writes to it just fail.
    signal(SIGPIPE, SIG_IGN);
}

bool terminationRequested() {
    return terminationFlag.load() != 0;
}

void requestTermination() {
    int none = 0;
    terminationFlag.compare_exchange_strong(none, RequestedFromInside);
}

int longPauses() {
    return longStops.load();
}

void noteRunning() {
    runningAtMs.store(monotonicMs());
}

bool longStopUncounted() {
    const long long began = stopBeganMs.load();
    const long long since = began != 0 ? began : runningAtMs.load();
    return since != 0 && monotonicMs() - since > LongStopMs;
}

}  // namespace platform
