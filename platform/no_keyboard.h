#pragma once

#include "platform/keyboard.h"

// The keyboard of a batch run: there is none. Nothing is ever waiting, and a
// command that waits for a key learns at once that none will come.
class NoKeyboard final : public Keyboard {
public:
    bool keyWaiting() override { return false; }
    int readKey() override { return NoMoreKeys; }
};
