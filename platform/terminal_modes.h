#pragma once

// What the raw-mode guards need of a platform: standard input's mode as it
// was, raw mode, and switching between them. Only the main thread calls
// these.
namespace platform {

// Keeps standard input's present mode as the normal one and works out raw
// mode from it; false when standard input is no terminal.
bool readTerminalModes();
void applyNormalMode();
void applyRawMode();

}  // namespace platform
