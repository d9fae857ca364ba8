#pragma once

// The console's key codes for keys that have no character, as the Windows
// console keyboard convention numbers them: a prefix (0 or 224) and a scan
// code, with modified keys numbered apart. The terminal decoder and the
// Windows key translation both give these, so a key means the same on every
// platform. Free of any system header.
namespace platform {

struct KeyCode {
    int prefix;
    int scan;
};

struct Modifiers {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

// The cursor block.
enum class CursorKey { Home, Up, PageUp, Left, Right, End, Down, PageDown, Insert, Delete };

KeyCode cursorKeyCode(CursorKey key, Modifiers modifiers);
// F1 .. F12; number outside 1 .. 12 is not a key.
bool functionKeyCode(int number, Modifiers modifiers, KeyCode& code);
// Alt and a letter (either case): 0 and the letter key's scan code.
bool altLetterCode(unsigned char letter, KeyCode& code);
// Alt and a digit stands for a function key: Alt+1 .. Alt+9 are F1 .. F9,
// Alt+0 is F10, for terminals that keep F1 or F10 for themselves.
KeyCode altDigitCode(unsigned char digit);

inline constexpr KeyCode ShiftTab{0, 15};

}  // namespace platform
