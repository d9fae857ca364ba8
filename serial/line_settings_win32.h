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

// The line's time-outs in the driver's own terms.
COMMTIMEOUTS commTimeouts();

}  // namespace serial
