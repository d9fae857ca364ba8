#pragma once

#include "platform/key_decoder.h"
#include "platform/keyboard.h"

// The keyboard of a POSIX terminal: standard input, decoded with KeyDecoder.
// When standard input is not a terminal its bytes are keys as they come.
class TerminalKeyboard final : public Keyboard {
public:
    explicit TerminalKeyboard(int fd = 0);
    bool keyWaiting() override;
    int readKey() override;

private:
    // Reads what is there within timeoutMs (0: only what is already waiting).
    void fill(int timeoutMs);

    int fd_;
    bool ended_ = false;
    long long heldSinceMs_ = 0;
    KeyDecoder decoder_;
};
