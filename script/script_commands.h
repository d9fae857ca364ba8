#pragma once

#include <cstdint>

class Console;

// The small commands of "local" script lines. Each gives true to go on.
namespace local {

bool sleep(Console& console, std::int32_t seconds);
bool echo(Console& console, const char* text);
bool shell(Console& console, const char* command);
bool beep(Console& console);
// Waits for one key; false when it is ESC (or input has ended).
bool pause(Console& console);

}  // namespace local
