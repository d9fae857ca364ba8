#include "platform/key_decoder.h"

#include "platform/key_codes.h"

namespace {

constexpr unsigned char Esc = 27;
constexpr unsigned char Del = 127;
constexpr int Backspace = 8;

using platform::CursorKey;
using platform::KeyCode;
using platform::Modifiers;

bool isParameterOrIntermediate(unsigned char byte) { return byte >= 0x20 && byte <= 0x3F; }
bool isFinal(unsigned char byte) { return byte >= 0x40 && byte <= 0x7E; }

// The cursor keys by the final byte xterm gives them (also after ESC O).
bool cursorByFinal(unsigned char final, CursorKey& key) {
    switch (final) {
    case 'A': key = CursorKey::Up; return true;
    case 'B': key = CursorKey::Down; return true;
    case 'C': key = CursorKey::Right; return true;
    case 'D': key = CursorKey::Left; return true;
    case 'H': key = CursorKey::Home; return true;
    case 'F': key = CursorKey::End; return true;
    default: return false;
    }
}

// The keys of "ESC [ n ~": the cursor block and the function keys.
bool keyByNumber(int number, Modifiers modifiers, KeyCode& code) {
    switch (number) {
    case 1: case 7: code = platform::cursorKeyCode(CursorKey::Home, modifiers); return true;
    case 2: code = platform::cursorKeyCode(CursorKey::Insert, modifiers); return true;
    case 3: code = platform::cursorKeyCode(CursorKey::Delete, modifiers); return true;
    case 4: case 8: code = platform::cursorKeyCode(CursorKey::End, modifiers); return true;
    case 5: code = platform::cursorKeyCode(CursorKey::PageUp, modifiers); return true;
    case 6: code = platform::cursorKeyCode(CursorKey::PageDown, modifiers); return true;
    default: break;
    }
    // F1..F5 are 11..15, F6..F10 17..21, F11 and F12 23 and 24.
    static constexpr int functionNumbers[] = {11, 12, 13, 14, 15, 17, 18, 19, 20, 21, 23, 24};
    for (int index = 0; index < 12; ++index) {
        if (functionNumbers[index] == number) {
            return platform::functionKeyCode(index + 1, modifiers, code);
        }
    }
    return false;
}

// "n" or "n;m" in decimal, m being 1 plus the modifier bits (Shift 1, Alt
// 2, Ctrl 4, Meta 8, taken as Alt). Anything else is no key of ours.
bool readParameters(const char* text, std::size_t count, int& number, Modifiers& modifiers) {
    int values[2] = {0, 0};
    int field = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] == ';' && field == 0) {
            field = 1;
        } else if (text[i] >= '0' && text[i] <= '9') {
            // Held at 10000, which is no key: a long number cannot wrap.
            const int value = values[field] * 10 + (text[i] - '0');
            values[field] = value > 10000 ? 10000 : value;
        } else {
            return false;
        }
    }
    if (values[1] > 16) {
        return false;  // no modifier combination
    }
    number = values[0] == 0 ? 1 : values[0];
    const int bits = values[1] > 1 ? values[1] - 1 : 0;
    modifiers.shift = (bits & 1) != 0;
    modifiers.alt = (bits & (2 | 8)) != 0;
    modifiers.ctrl = (bits & 4) != 0;
    return true;
}

}  // namespace

void KeyDecoder::feed(unsigned char byte) {
    switch (stage_) {
    case Stage::Idle: start(byte); return;
    case Stage::Escape: afterEscape(byte); return;
    case Stage::Csi: inCsi(byte); return;
    case Stage::Ss3:
        stage_ = Stage::Idle;
        if (byte >= 0x20 && byte <= 0x7E) {
            finishSs3(byte);
        } else {
            // ESC O then a control byte: that was Alt+O, and the byte is a
            // key of its own.
            pushAltLetter('O');
            start(byte);
        }
        return;
    case Stage::LinuxFunction:
        // The Linux console's F1..F5: ESC [ [ A .. E.
        stage_ = Stage::Idle;
        if (byte >= 'A' && byte <= 'E') {
            KeyCode code{};
            platform::functionKeyCode(byte - 'A' + 1, {}, code);
            push(code.prefix, code.scan);
        } else if (!(byte >= 0x20 && byte <= 0x7E)) {
            start(byte);
        }
        return;
    }
}

void KeyDecoder::start(unsigned char byte) {
    if (byte == Esc) {
        stage_ = Stage::Escape;
    } else if (byte == Del) {
        keys_.push_back(Backspace);
    } else {
        keys_.push_back(byte);
    }
}

void KeyDecoder::afterEscape(unsigned char byte) {
    stage_ = Stage::Idle;
    if (byte == '[') {
        stage_ = Stage::Csi;
        parameterCount_ = 0;
        overlong_ = false;
    } else if (byte == 'O') {
        stage_ = Stage::Ss3;
    } else if (byte >= '0' && byte <= '9') {
        const KeyCode code = platform::altDigitCode(byte);
        push(code.prefix, code.scan);
    } else if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')) {
        pushAltLetter(byte);
    } else if (byte == Esc || byte < 0x20 || byte > 0x7E) {
        // Nothing of a sequence followed: that ESC was the ESC key, and
        // this byte is a key (or the start of one) of its own.
        keys_.push_back(Esc);
        start(byte);
    }
    // Any other printable byte after ESC makes a complete sequence of two
    // bytes (Alt and a sign): no key of ours, dropped.
}

void KeyDecoder::inCsi(unsigned char byte) {
    if (parameterCount_ == 0 && !overlong_ && byte == '[') {
        stage_ = Stage::LinuxFunction;
    } else if (isParameterOrIntermediate(byte)) {
        if (parameterCount_ < sizeof parameters_) {
            parameters_[parameterCount_++] = static_cast<char>(byte);
        } else {
            overlong_ = true;
        }
    } else if (isFinal(byte)) {
        stage_ = Stage::Idle;
        if (!overlong_) {
            finishCsi(byte);
        }
    } else {
        // A control byte breaks the sequence off: what came of it is
        // dropped, and the byte counts on its own.
        stage_ = Stage::Idle;
        start(byte);
    }
}

void KeyDecoder::finishCsi(unsigned char final) {
    int number = 1;
    Modifiers modifiers;
    if (!readParameters(parameters_, parameterCount_, number, modifiers)) {
        return;
    }
    KeyCode code{};
    CursorKey cursor{};
    if (final == '~') {
        if (keyByNumber(number, modifiers, code)) push(code.prefix, code.scan);
    } else if (number != 1) {
        return;  // the other finals carry only modifiers
    } else if (cursorByFinal(final, cursor)) {
        code = platform::cursorKeyCode(cursor, modifiers);
        push(code.prefix, code.scan);
    } else if (final >= 'P' && final <= 'S') {
        platform::functionKeyCode(final - 'P' + 1, modifiers, code);
        push(code.prefix, code.scan);
    } else if (final == 'Z') {
        push(platform::ShiftTab.prefix, platform::ShiftTab.scan);
    }
}

void KeyDecoder::finishSs3(unsigned char final) {
    KeyCode code{};
    CursorKey cursor{};
    if (cursorByFinal(final, cursor)) {
        code = platform::cursorKeyCode(cursor, {});
        push(code.prefix, code.scan);
    } else if (final >= 'P' && final <= 'S') {
        platform::functionKeyCode(final - 'P' + 1, {}, code);
        push(code.prefix, code.scan);
    }
}

void KeyDecoder::pushAltLetter(unsigned char letter) {
    KeyCode code{};
    if (platform::altLetterCode(letter, code)) {
        push(code.prefix, code.scan);
    }
}

void KeyDecoder::flush() {
    const Stage stage = stage_;
    stage_ = Stage::Idle;
    if (stage == Stage::Escape) {
        keys_.push_back(Esc);
    } else if (stage == Stage::Ss3) {
        pushAltLetter('O');
    }
    // A control sequence cut short is no key: dropped.
}

void KeyDecoder::push(int prefix, int scan) {
    keys_.push_back(prefix);
    keys_.push_back(scan);
}

int KeyDecoder::nextKey() {
    if (keys_.empty()) {
        return -1;
    }
    const int key = keys_.front();
    keys_.pop_front();
    return key;
}
