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

// A read of n bytes ends after 10 * n + 100 ms, or 20 ms after a byte that
// is not followed by another; a write of n bytes gives up after 10 * n + 250 ms.
COMMTIMEOUTS lineTimeouts();

}  // namespace serial
