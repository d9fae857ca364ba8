#include "console/console.h"

namespace {

constexpr std::int32_t LineCapacity = static_cast<std::int32_t>(sizeof(Console::line)) - 1;

}  // namespace

void Console::clearLine() { lineLength = 0; }

void Console::editLine(int ch) {
    if (ch == keys::Backspace) {
        if (lineLength > 0) {
            --lineLength;
            print("\b \b");
        }
        return;
    }
    if (ch == keys::Enter) {
        line[lineLength] = '\0';
        print("\n");
        return;
    }
    if (lineLength >= LineCapacity) {
        return;  // a full line drops further characters without echo
    }
    line[lineLength++] = static_cast<char>(ch);
    printBuffer[0] = static_cast<char>(ch);
    printBuffer[1] = '\0';
    print(printBuffer);
}
