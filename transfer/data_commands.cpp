// PLACEHOLDER
#include "console/console.h"
bool Console::dload(const char*, std::uint32_t, SerialPort*) { return false; }
bool Console::dsave(const char*, std::uint32_t, std::uint32_t, SerialPort*) { return false; }
