#include "platform/terminal.h"
#include "platform/terminal_modes.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// Standard input's console mode before raw mode, and raw mode itself.
DWORD normalMode = 0;
DWORD rawMode = 0;

// Who asked the run to end first: a console control event (from the handler,
// which runs on a thread of its own) or the program itself (a time-out, a
// verdict, the keyboard gone), which ends with a status of its own.
enum Requester : int { Nobody, ControlEvent, FromInside };
std::atomic<int> terminationFlag{Nobody};

void requestBy(Requester requester) {
    int none = Nobody;
    terminationFlag.compare_exchange_strong(none, requester);
}
// The console's keys go to the target (the session put the console in raw
// mode): Ctrl+C is one of them then, not a request to end.
std::atomic<bool> keysForTarget{false};

// What a process ended by Ctrl+C tells its caller, as a shell shows SIGINT.
constexpr int InterruptedStatus = 130;

// Once the handler of a close, logoff or shutdown returns, the system ends
// the process; it waits this long first so that the console loop can see the
// flag and the entry point return in order. Windows itself allows 5 seconds.
constexpr DWORD ClosingGraceMs = 4000;

void setMode(DWORD mode) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), mode);
}

BOOL WINAPI onConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        // In raw mode Ctrl+C is a key for the target. Wine's terminal console
        // sends it as this event instead; it must not end the console. A run
        // that never took the keys (a batch run) ends on it, as on SIGINT.
        if (!keysForTarget) requestBy(ControlEvent);
        return TRUE;
    case CTRL_BREAK_EVENT:
        requestBy(ControlEvent);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        requestBy(ControlEvent);
        Sleep(ClosingGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

bool readTerminalModes() {
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &normalMode)) {
        return false;
    }
    // Keys go to the target as typed: no echo, no line editing, and Ctrl+C
    // is a key rather than a signal.
    rawMode = normalMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                               ENABLE_PROCESSED_INPUT);
    keysForTarget = true;
    return true;
}

void applyNormalMode() { setMode(normalMode); }

void applyRawMode() { setMode(rawMode); }

void watchTerminationSignals() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool terminationRequested() {
    return terminationFlag.load() != Nobody;
}

void requestTermination() {
    requestBy(FromInside);
}

int longPauses() {
    // A console program on Windows is not stopped by the system.
    return 0;
}

void noteRunning() {}

bool longStopUncounted() { return false; }

// Windows hands a process its standard handles whole: nothing to do here.
void keepStandardDescriptorsOpen() {}

namespace {

// After everything else at exit: a run that a control event ended says so.
void endAsInterrupted() {
    if (terminationFlag.load() != ControlEvent) return;
    std::fflush(nullptr);
    std::_Exit(InterruptedStatus);
}

}  // namespace

void endWithTerminationSignalAtExit() { std::atexit(endAsInterrupted); }

}  // namespace platform
