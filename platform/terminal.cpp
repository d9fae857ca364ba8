#include "platform/terminal.h"

#include <cstdlib>

#include "platform/terminal_modes.h"

namespace platform {

namespace {

bool rawActive = false;
// The guard that entered raw mode; only it leaves it.
const RawTerminal* rawOwner = nullptr;
bool exitHandlerInstalled = false;

void restoreAtExit() {
    if (rawActive) {
        applyNormalMode();
        rawActive = false;
    }
}

}  // namespace

RawTerminal::RawTerminal() {
    if (rawActive || !readTerminalModes()) {
        return;
    }
    if (!exitHandlerInstalled) {
        // For ways out that skip the destructor: exit() from anywhere.
        std::atexit(restoreAtExit);
        exitHandlerInstalled = true;
    }
    applyRawMode();
    rawActive = true;
    rawOwner = this;
}

RawTerminal::~RawTerminal() {
    if (rawOwner == this) {
        restoreAtExit();
        rawOwner = nullptr;
    }
}

NormalModeWhile::NormalModeWhile() {
    if (rawActive) {
        applyNormalMode();
    }
}

NormalModeWhile::~NormalModeWhile() {
    if (rawActive) {
        applyRawMode();
    }
}

}  // namespace platform
