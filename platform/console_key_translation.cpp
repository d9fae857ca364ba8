#include "platform/console_key_translation.h"

namespace platform {

namespace {

constexpr int PrefixZero = 0;
constexpr int PrefixExtended = 224;
constexpr int FirstFunctionScan = 59;  // F1; F2..F10 follow
constexpr int EscapeByte = 27;

struct KeyCode {
    int prefix;
    int scan;
};

// The codes of keys that have no character. F11 and F12 get the numbers the
// console's keyboard convention gives them, not their own scan codes.
bool keyWithoutCharacter(std::uint16_t virtualKey, KeyCode& code) {
    if (virtualKey >= vk::F1 && virtualKey <= vk::F10) {
        code = {PrefixZero, FirstFunctionScan + (virtualKey - vk::F1)};
        return true;
    }
    // The cursor block is always the extended prefix, also when the event
    // does not say "enhanced": Wine's terminal console never does.
    switch (virtualKey) {
    case vk::F11: code = {PrefixExtended, 133}; return true;
    case vk::F12: code = {PrefixExtended, 134}; return true;
    case vk::Up: code = {PrefixExtended, 72}; return true;
    case vk::Down: code = {PrefixExtended, 80}; return true;
    case vk::Left: code = {PrefixExtended, 75}; return true;
    case vk::Right: code = {PrefixExtended, 77}; return true;
    case vk::Home: code = {PrefixExtended, 71}; return true;
    case vk::End: code = {PrefixExtended, 79}; return true;
    case vk::Insert: code = {PrefixExtended, 82}; return true;
    case vk::Delete: code = {PrefixExtended, 83}; return true;
    case vk::PageUp: code = {PrefixExtended, 73}; return true;
    case vk::PageDown: code = {PrefixExtended, 81}; return true;
    default: return false;
    }
}

// Alt+1 .. Alt+9 and Alt+0 stand for F1 .. F10, as on every platform, for
// terminals that keep F1 or F10 for themselves. Ctrl+Alt is AltGr, which
// types characters, so it is left alone.
bool altDigit(const ConsoleKeyEvent& event, KeyCode& code) {
    const bool alt = (event.controlKeys & (modifier::LeftAlt | modifier::RightAlt)) != 0;
    const bool ctrl = (event.controlKeys & (modifier::LeftCtrl | modifier::RightCtrl)) != 0;
    if (!alt || ctrl || event.virtualKey < vk::Digit0 || event.virtualKey > vk::Digit9) {
        return false;
    }
    const int digit = event.virtualKey - vk::Digit0;
    code = {PrefixZero, FirstFunctionScan + (digit == 0 ? 9 : digit - 1)};
    return true;
}

}  // namespace

void translateKeyEvent(const ConsoleKeyEvent& event, std::deque<int>& codes) {
    if (!event.keyDown) {
        return;
    }
    // A key-down event stands for at least one press.
    const int presses = event.repeatCount == 0 ? 1 : event.repeatCount;
    KeyCode code{};
    if (keyWithoutCharacter(event.virtualKey, code) || altDigit(event, code)) {
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
