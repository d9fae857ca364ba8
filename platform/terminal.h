#pragma once

// The user's terminal. While the console runs it is in raw mode (no echo,
// no line buffering, no signal keys); it is restored on every way out.
namespace platform {

// Puts the terminal in raw mode when standard input is one. Restores it when
// destroyed, and from an exit handler should the process end another way.
class RawTerminal {
public:
    RawTerminal();
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
};

// Gives the terminal back its normal mode for the lifetime of the object (an
// external command runs meanwhile) and returns to raw mode afterwards.
class NormalModeWhile {
public:
    NormalModeWhile();
    ~NormalModeWhile();
    NormalModeWhile(const NormalModeWhile&) = delete;
    NormalModeWhile& operator=(const NormalModeWhile&) = delete;
};

// SIGTERM, SIGHUP and SIGINT from outside only set a flag that the console
// loop watches, so that every guard unwinds and the terminal is restored.
// A SIGHUP that was ignored when the program started stays ignored (nohup).
void watchTerminationSignals();
bool terminationRequested();
// Asks the program to end from inside (a time-out, a verdict, a keyboard
// that has gone): whatever watches terminationRequested() ends as for a
// signal, but the exit status stays the program's own. The first request,
// a signal's or this, is the one that stands.
void requestTermination();

// How many times so far the process was stopped (Ctrl+Z, or SIGSTOP from
// outside) for longer than a second, or for a time it cannot tell. A monitor
// may have given up an exchange meanwhile, so a transfer must not go on
// sending into it. Always 0 where processes are not stopped.
int longPauses();
// Tells that the process runs now: a wait that matters (a transfer's) calls
// it every few milliseconds, so that a SIGSTOP that lands meanwhile is timed
// from then.
void noteRunning();
// Whether the process seems to be just back from a stop of more than a
// second that longPauses may not count yet: the thread that handles SIGCONT
// can wake after the one asking. True while a stop of our own that began
// over a second ago has not been handled, or when the process was last
// seen running (noteRunning) over a second ago.
bool longStopUncounted();

// Puts /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// nothing opened later (the serial port) takes the place of the keyboard or
// the screen. The first thing a program does; a no-op where descriptors
// work otherwise.
void keepStandardDescriptorsOpen();
// Makes a program that a signal told to end finish, after everything else
// at exit, with that signal's own status, so that its caller can tell being
// killed from a normal quit (on Windows, a run that a console control event
// ended: 130, as a shell shows SIGINT).
void endWithTerminationSignalAtExit();

}  // namespace platform
