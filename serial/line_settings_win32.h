#pragma once

#include <windows.h>

#include <cstdint>

// The line settings and time-outs the port is opened with, apart from the
// calls that apply them so that they can be checked field by field.
namespace serial {

// Changes what the line needs and keeps every other field as the driver
// reported it: baudRate, 8N1, CTS output handshake, RTS on, DTR off, no
// software flow control, no character replacement.
void applyLineSettings(DCB& dcb, std::int32_t baudRate);

// The time-outs in the driver's own terms: the line's write time-outs, and
// how long the port's reader thread waits for a byte at a time.
COMMTIMEOUTS commTimeouts();

}  // namespace serial
