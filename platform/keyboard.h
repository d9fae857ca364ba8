#pragma once

#include <memory>

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
};

// The keyboard of this platform: the terminal on POSIX, the console on Windows.
std::unique_ptr<Keyboard> makeSystemKeyboard();
