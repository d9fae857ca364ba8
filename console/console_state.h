#pragma once

#include <cstdint>

// Where the console stands with the target's monitor and the keyboard.
// Each state keeps the number it has always had (2 and 3 are unused), so a
// number seen in a debugger or a core dump means the same state in every
// version; nothing in the program computes with them.
enum ConsoleState : std::int32_t {
    AtPrompt = 0, Typing = 1, Transferring = 4,
    // Function keys and the chords F9 and F10.
    KeyPrefix = 5, F10Armed = 6, F9Armed = 7, F10KeyPrefix = 8, F9KeyPrefix = 9,
    // Argument prompts.
    AskLoad = 10, AskAuto = 11, AskDsave = 12, AskDload = 13,
    QuitRequested = 14,
};
