#include "platform/key_codes.h"

namespace platform {

namespace {

constexpr int PrefixZero = 0;
constexpr int PrefixExtended = 224;

// One row per cursor key: plain (Shift gives the same), Ctrl, Alt.
struct CursorRow {
    int plain;
    int ctrl;
    int alt;
};
constexpr CursorRow cursorRows[] = {
    {71, 119, 151},  // Home
    {72, 141, 152},  // Up
    {73, 132, 153},  // PageUp
    {75, 115, 155},  // Left
    {77, 116, 157},  // Right
    {79, 117, 159},  // End
    {80, 145, 160},  // Down
    {81, 118, 161},  // PageDown
    {82, 146, 162},  // Insert
    {83, 147, 163},  // Delete
};

// The scan codes of the letter keys a to z.
constexpr int letterScans[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                 49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};

}  // namespace

// Alt wins over Ctrl, and Ctrl over Shift, as on the Windows console.
KeyCode cursorKeyCode(CursorKey key, Modifiers modifiers) {
    const CursorRow& row = cursorRows[static_cast<int>(key)];
    if (modifiers.alt) return {PrefixZero, row.alt};
    if (modifiers.ctrl) return {PrefixExtended, row.ctrl};
    return {PrefixExtended, row.plain};
}

bool functionKeyCode(int number, Modifiers modifiers, KeyCode& code) {
    if (number < 1 || number > 12) return false;
    if (number > 10) {
        // F11 and F12 come after the rest, each group of modifiers in turn.
        const int base = modifiers.alt ? 139 : modifiers.ctrl ? 137 : modifiers.shift ? 135 : 133;
        code = {PrefixExtended, base + number - 11};
        return true;
    }
    const int base = modifiers.alt ? 104 : modifiers.ctrl ? 94 : modifiers.shift ? 84 : 59;
    code = {PrefixZero, base + number - 1};
    return true;
}

bool altLetterCode(unsigned char letter, KeyCode& code) {
    const unsigned char lower = letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter;
    if (lower < 'a' || lower > 'z') return false;
    code = {PrefixZero, letterScans[lower - 'a']};
    return true;
}

KeyCode altDigitCode(unsigned char digit) {
    return {PrefixZero, digit == '0' ? 68 : 59 + (digit - '1')};
}

}  // namespace platform
