#pragma once

#include <cstddef>
#include <deque>

// Turns the bytes a terminal sends for keys into the console's key codes:
// function and cursor keys become a prefix (0 or 224) and a scan code, DEL
// becomes backspace, Alt+digit becomes F1..F10. Bytes of a sequence it does
// not know pass through unchanged, so nothing typed is lost or invented.
class KeyDecoder {
public:
    // Feeds one byte from the terminal.
    void feed(unsigned char byte);
    // True while the bytes fed so far may still be the start of a sequence.
    bool pending() const { return held_ != 0; }
    // Gives up waiting for the rest of a sequence: a lone ESC is the ESC key,
    // anything longer passes through byte for byte.
    void flush();

    bool hasKey() const { return !keys_.empty(); }
    // The next code; -1 when there is none.
    int nextKey();

private:
    // Feeds a byte while nothing is held.
    void start(unsigned char byte);
    void passThroughHeld();

    // Longer than any sequence of the table.
    unsigned char bytes_[8] = {};
    std::size_t held_ = 0;
    std::deque<int> keys_;
};
