#pragma once

// The function keys and chords, as data. A function key reaches the console
// as a prefix byte (0 or 224) and then its scan code; F9 and F10 are chord
// heads, whose second function key picks a further command.
#include "console/console.h"

// What a scan code does in a state that waits for one.
enum class ChordAction {
    ShowHelp,  // the help text, then the line goes back to the target
    Ask,       // prints the argument prompt and collects a line in `next`
    Go,        // only moves to `next` (a chord head, or quit)
};

// (state, scan code) -> action.
struct ChordRow {
    ConsoleState state;
    int scanCode;
    ChordAction action;
    ConsoleState next;
    const char* prompt;
};

inline constexpr ChordRow ChordRows[] = {
    {KeyPrefix, keys::F1, ChordAction::ShowHelp, Typing, nullptr},
    {KeyPrefix, keys::F3, ChordAction::Ask, AskAuto, "AUTO <file>:"},
    {KeyPrefix, keys::F4, ChordAction::Ask, AskLoad, "LOAD <file>:"},
    {KeyPrefix, keys::F9, ChordAction::Go, F9Armed, nullptr},
    {KeyPrefix, keys::F10, ChordAction::Go, F10Armed, nullptr},

    {F10KeyPrefix, keys::F1, ChordAction::ShowHelp, Typing, nullptr},
    {F10KeyPrefix, keys::F2, ChordAction::Go, QuitRequested, nullptr},
    {F10KeyPrefix, keys::F4, ChordAction::Ask, AskDsave, "DSAVE <file> <addr> <length>:"},
    {F10KeyPrefix, keys::F9, ChordAction::Go, F9Armed, nullptr},
    {F10KeyPrefix, keys::F10, ChordAction::Go, F10Armed, nullptr},

    {F9KeyPrefix, keys::F1, ChordAction::ShowHelp, Typing, nullptr},
    {F9KeyPrefix, keys::F4, ChordAction::Ask, AskDload, "DLOAD <file> <addr>:"},
    {F9KeyPrefix, keys::F9, ChordAction::Go, F9Armed, nullptr},
    {F9KeyPrefix, keys::F10, ChordAction::Go, F10Armed, nullptr},
};

// A state that waits for a scan code: what it does with a key no row names.
struct ChordStage {
    ConsoleState state;
    // A further prefix byte keeps the stage waiting for its scan code;
    // without this it counts as any other key.
    bool ignoresFurtherPrefix;
    // Any other key goes to the target as a plain byte; without this it is
    // swallowed. Either way the console is back at the prompt.
    bool sendsOtherKeys;
};

inline constexpr ChordStage ChordStages[] = {
    {KeyPrefix, false, false},    // a lone function key without a command
    {F10KeyPrefix, true, true},   // after F10 a further prefix is ignored ...
    {F9KeyPrefix, false, true},   // ... after F9 it is sent
};

// The states in which a prefix byte starts a chord stage. Any other key is
// sent; after a chord head the console is back at the prompt.
struct PrefixWait {
    ConsoleState state;
    ConsoleState stage;
};

inline constexpr PrefixWait PrefixWaits[] = {
    {AtPrompt, KeyPrefix},
    {F10Armed, F10KeyPrefix},
    {F9Armed, F9KeyPrefix},
};
