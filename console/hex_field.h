#pragma once

#include <cstdint>

#include "console/console.h"

// An address or length typed without a width limit is read as a wider number
// and kept only when it fits in 32 bits: the formatted-input rules would
// otherwise keep the low digits of a longer number, and a mistyped length
// would silently become another one.
inline bool fitsTarget(unsigned long long value) { return value <= 0xFFFFFFFFull; }

// A number that does not fit is refused where it can be seen, as an address
// out of range is: the message, one carriage return so that the monitor
// prompts again, and false so that a script stops rather than run on
// without the data.
inline bool refuseWideField(Console& console, const char* message) {
    console.print(message);
    console.sendChar(keys::Enter);
    console.state = Typing;
    return false;
}
