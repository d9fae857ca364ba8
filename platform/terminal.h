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
void watchTerminationSignals();
bool terminationRequested();

}  // namespace platform
