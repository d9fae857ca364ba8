#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/deadline.h"

// The console keyboard: a non-blocking test for a waiting key and an
// unbuffered, non-echoing read of one key code. Function and cursor keys
// arrive as two codes, a prefix 0 or 224 and then the scan code.
class Keyboard {
public:
    // readKey's answer when no key will ever come (standard input has ended).
    static constexpr int NoMoreKeys = -1;

    virtual ~Keyboard() = default;
    virtual bool keyWaiting() = 0;
    // Blocks until a code is there; NoMoreKeys when the input has ended.
    virtual int readKey() = 0;

    // For a wait on keys together with other input (the serial port): what
    // becomes ready when input arrives, a descriptor on POSIX or a handle on
    // Windows; -1 when there is nothing to wait on.
    virtual std::intptr_t waitHandle() const { return -1; }
    // When keyWaiting() must be asked again even if no input arrives (an
    // escape sequence's time running out); none when nothing is held.
    virtual std::optional<platform::Deadline> dueBy() const { return std::nullopt; }
    // Every key there will be has been read: the input (a pipe or a file)
    // is at its end. A terminal or console that fails or hangs up asks the
    // program to end instead (platform::requestTermination), whatever became
    // of its hang-up signal: a session nobody can reach must not hold the port.
    virtual bool inputEnded() { return false; }
};

// The keyboard of this platform: the terminal on POSIX, the console on Windows.
std::unique_ptr<Keyboard> makeSystemKeyboard();
