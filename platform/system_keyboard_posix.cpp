#include "platform/keyboard.h"
#include "platform/terminal_keyboard.h"

std::unique_ptr<Keyboard> makeSystemKeyboard() {
    return std::make_unique<TerminalKeyboard>();
}
