#include "platform/console_key_translation.h"

#include "platform/key_codes.h"

namespace platform {

namespace {

constexpr int EscapeByte = 27;

Modifiers modifiersOf(const ConsoleKeyEvent& event) {
    Modifiers modifiers;
    modifiers.shift = (event.controlKeys & modifier::Shift) != 0;
    modifiers.ctrl = (event.controlKeys & (modifier::LeftCtrl | modifier::RightCtrl)) != 0;
    modifiers.alt = (event.controlKeys & (modifier::LeftAlt | modifier::RightAlt)) != 0;
    return modifiers;
}

// The codes of keys that have no character, with their modifiers.
bool keyWithoutCharacter(std::uint16_t virtualKey, Modifiers modifiers, KeyCode& code) {
    if (virtualKey >= vk::F1 && virtualKey <= vk::F12) {
        return functionKeyCode(virtualKey - vk::F1 + 1, modifiers, code);
    }
    // The cursor block is always the extended prefix, also when the event
    // does not say "enhanced": Wine's terminal console never does.
    switch (virtualKey) {
    case vk::Up: code = cursorKeyCode(CursorKey::Up, modifiers); return true;
    case vk::Down: code = cursorKeyCode(CursorKey::Down, modifiers); return true;
    case vk::Left: code = cursorKeyCode(CursorKey::Left, modifiers); return true;
    case vk::Right: code = cursorKeyCode(CursorKey::Right, modifiers); return true;
    case vk::Home: code = cursorKeyCode(CursorKey::Home, modifiers); return true;
    case vk::End: code = cursorKeyCode(CursorKey::End, modifiers); return true;
    case vk::Insert: code = cursorKeyCode(CursorKey::Insert, modifiers); return true;
    case vk::Delete: code = cursorKeyCode(CursorKey::Delete, modifiers); return true;
    case vk::PageUp: code = cursorKeyCode(CursorKey::PageUp, modifiers); return true;
    case vk::PageDown: code = cursorKeyCode(CursorKey::PageDown, modifiers); return true;
    default: return false;
    }
}

// Alt with a digit or a letter, and Shift+Tab. Alt+1 .. Alt+9 and Alt+0
// stand for F1 .. F10, as on every platform. Ctrl+Alt is AltGr, which types
// characters, so it is left alone.
bool modifiedCharacterKey(const ConsoleKeyEvent& event, Modifiers modifiers, KeyCode& code) {
    const std::uint16_t key = event.virtualKey;
    if (key == vk::Tab && modifiers.shift && !modifiers.alt && !modifiers.ctrl) {
        code = ShiftTab;
        return true;
    }
    if (!modifiers.alt || modifiers.ctrl) {
        return false;
    }
    if (key >= vk::Digit0 && key <= vk::Digit9) {
        code = altDigitCode(static_cast<unsigned char>(key));
        return true;
    }
    return key >= vk::LetterA && key <= vk::LetterZ &&
           altLetterCode(static_cast<unsigned char>(key), code);
}

}  // namespace

void translateKeyEvent(const ConsoleKeyEvent& event, std::deque<int>& codes) {
    if (!event.keyDown) {
        return;
    }
    // A key-down event stands for at least one press.
    const int presses = event.repeatCount == 0 ? 1 : event.repeatCount;
    KeyCode code{};
    const Modifiers modifiers = modifiersOf(event);
    if (keyWithoutCharacter(event.virtualKey, modifiers, code) ||
        modifiedCharacterKey(event, modifiers, code)) {
        for (int i = 0; i < presses; ++i) {
            codes.push_back(code.prefix);
            codes.push_back(code.scan);
        }
        return;
    }
    int byte = event.character;
    // Wine's terminal console reports ESC without its character.
    if (byte == 0 && event.virtualKey == vk::Escape) {
        byte = EscapeByte;
    }
    if (byte == 0) {
        return;
    }
    for (int i = 0; i < presses; ++i) {
        codes.push_back(byte);
    }
}

}  // namespace platform
