// PLACEHOLDER: replaced by the script work.
#include "console/console.h"
bool Console::startScript(const char*, std::int32_t, SerialPort*) { return false; }
void Console::advanceScript() {}
void Console::endScripts() {}
bool Console::sleep(std::int32_t) { return true; }
bool Console::echo(const char*) { return true; }
bool Console::shell(const char*) { return true; }
bool Console::beep() { return true; }
bool Console::pause() { return true; }
