#pragma once

#include <cstddef>

#include "platform/key_decoder.h"
#include "platform/keyboard.h"

// The keyboard of a POSIX terminal: standard input, decoded with KeyDecoder.
// When standard input is not a terminal its bytes are keys as they come.
class TerminalKeyboard final : public Keyboard {
public:
    explicit TerminalKeyboard(int fd = 0);
    bool keyWaiting() override;
    int readKey() override;
    std::intptr_t waitHandle() const override;
    std::optional<platform::Deadline> dueBy() const override;
    bool inputEnded() override;

private:
    // Reads what is there within timeoutMs (0: only what is already waiting).
    void fill(int timeoutMs);
    // Waits out what is left of the time an incomplete sequence may take.
    void settlePending();
    bool haveKey() const;
    int takeKey();

    int fd_;
    bool decode_;
    bool ended_ = false;
    // When a held ESC stops waiting for the rest of a sequence.
    platform::Deadline sequenceDue_ = platform::Deadline::after({});
    KeyDecoder decoder_;
    // Undecoded input, when standard input is not a terminal.
    unsigned char raw_[256] = {};
    std::size_t rawStart_ = 0;
    std::size_t rawEnd_ = 0;
};
