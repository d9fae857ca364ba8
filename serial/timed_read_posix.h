#pragma once

#include <cstdint>

#include "serial/line_timeouts.h"

namespace serial {

// Reads up to count bytes from a non-blocking descriptor under those
// time-outs and returns how many arrived (0 after a time-out or an error).
// A device that fails or has gone is waited out like a silent line, so that
// a caller that reads in a loop does not spin.
std::int32_t timedRead(int fd, void* buffer, std::int32_t count, const ReadTimeouts& timeouts);

// Takes up to count bytes that are already there, without waiting: how many
// (0 when none are waiting), or -1 when the device failed or has gone.
std::int32_t readWaiting(int fd, void* buffer, std::int32_t count);

}  // namespace serial
