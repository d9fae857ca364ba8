#include "console/console.h"

#include <cstring>

#include "console/loop_input.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "platform/terminal.h"
#include "serial/serial_port.h"

char printBuffer[1000];

namespace {

// Keys handled in one pass before the port is looked at again: a pasted page
// goes out at once but does not hold back the target's output meanwhile.
constexpr int KeysPerPass = 32;

}  // namespace

Console::Console(Keyboard& keyboardIn, Screen& screenIn, HostServices& hostIn)
    : keyboard(keyboardIn), screen(screenIn), host(hostIn) {}

Console::~Console() = default;

void Console::print(const char* text) {
    screen.write(text, std::strlen(text));
}

std::int32_t Console::sendChar(int code) {
    const auto byte = static_cast<unsigned char>(code & 0xFF);
    return port->write(&byte, 1);
}

void Console::run(SerialPort* portIn, bool hasScript, const char* scriptName) {
    state = AtPrompt;
    port = portIn;
    if (hasScript) {
        startScript(scriptName, 0, port);
    }
    LoopInput input(keyboard, *port);
    for (;;) {
        // Keys first, as they come, then whatever the port has.
        bool busy = false;
        for (int taken = 0; taken < KeysPerPass && keyboard.keyWaiting(); ++taken) {
            const int key = keyboard.readKey();
            if (key != Keyboard::NoMoreKeys) {
                onKey(key);
            }
            busy = true;
        }
        if (state != Transferring) {
            char chunk[ChunkSize];
            const std::int32_t count = input.takeChunk(chunk);
            if (count >= 0) {
                takeChunk(chunk, count);
                busy = true;
            }
        }
        if (state == QuitRequested || platform::terminationRequested()) {
            break;
        }
        if (!busy) {
            input.wait(state != Transferring, promptSplit);
        }
    }
    endScripts();
}

void Console::takeChunk(const char* bytes, std::int32_t count) {
    // The chunk's text ends at a NUL byte from the target; the rest of the
    // chunk is neither printed nor looked at.
    std::int32_t textLength = 0;
    while (textLength < count && bytes[textLength] != '\0') {
        printBuffer[textLength] = bytes[textLength];
        ++textLength;
    }
    std::memset(printBuffer + textLength, 0, static_cast<std::size_t>(count - textLength) + 1);
    print(printBuffer);

    if (std::strstr(printBuffer, ">>") != nullptr) {
        state = AtPrompt;
        advanceScript();
    }
    if (printBuffer[0] == '>' && promptSplit) {
        advanceScript();
        state = AtPrompt;
    }
    // The first half of a prompt split across two reads: a chunk whose only
    // '>' is its last byte.
    const char* firstMark = std::strchr(printBuffer, '>');
    promptSplit = firstMark != nullptr && count > 0 && firstMark - printBuffer == count - 1;
}
