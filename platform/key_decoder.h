#pragma once

#include <cstddef>
#include <deque>

// Turns the bytes a terminal sends for keys into the console's key codes.
// Every complete escape sequence is one key: those of known keys (function
// keys, the cursor block, with Shift, Ctrl or Alt, and Shift+Tab) become a
// prefix (0 or 224) and a scan code, numbered as on the Windows console, and
// any other is dropped whole, so that no part of it reaches the target as
// typed text. ESC and a letter is Alt+letter, ESC and a digit F1..F10, DEL
// is backspace. Only a lone ESC is the ESC key.
class KeyDecoder {
public:
    // Feeds one byte from the terminal.
    void feed(unsigned char byte);
    // True while the bytes fed so far may still be the start of a sequence.
    bool pending() const { return stage_ != Stage::Idle; }
    // Gives up waiting for the rest of a sequence: a lone ESC is the ESC
    // key, ESC O is Alt+O, and a sequence cut short is dropped.
    void flush();

    bool hasKey() const { return !keys_.empty(); }
    // The next code; -1 when there is none.
    int nextKey();

private:
    enum class Stage { Idle, Escape, Csi, Ss3, LinuxFunction };

    void start(unsigned char byte);
    void afterEscape(unsigned char byte);
    void inCsi(unsigned char byte);
    void finishCsi(unsigned char final);
    void finishSs3(unsigned char final);
    void pushAltLetter(unsigned char letter);
    void push(int prefix, int scan);

    Stage stage_ = Stage::Idle;
    // Parameter and intermediate bytes of a control sequence; a longer one
    // than this is no key of ours and is only followed to its end.
    char parameters_[16] = {};
    std::size_t parameterCount_ = 0;
    bool overlong_ = false;
    std::deque<int> keys_;
};
