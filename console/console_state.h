#pragma once

#include <cstdint>

// Where the console stands with the target's monitor and the keyboard.
// The values are fixed; 2 and 3 are not used.
enum ConsoleState : std::int32_t {
    AtPrompt = 0,
    Typing = 1,
    Transferring = 4,
    KeyPrefix = 5,
    F10Armed = 6,
    F9Armed = 7,
    F10KeyPrefix = 8,
    F9KeyPrefix = 9,
    AskLoad = 10,
    AskAuto = 11,
    AskDsave = 12,
    AskDload = 13,
    QuitRequested = 14,
};
