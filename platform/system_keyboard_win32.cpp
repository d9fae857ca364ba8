#include "platform/console_keyboard_win32.h"
#include "platform/keyboard.h"

std::unique_ptr<Keyboard> makeSystemKeyboard() {
    return std::make_unique<ConsoleKeyboard>();
}
