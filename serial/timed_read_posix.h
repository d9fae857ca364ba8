#pragma once

#include <cstdint>

namespace serial {

// Read time-outs shaped like the Win32 ones the line was described with.
struct ReadTimeouts {
    // A read ends once more than this passes between two bytes after the first.
    std::int64_t intervalMs;
    // A read of n bytes ends after n * totalMultiplierMs + totalConstantMs in all.
    std::int64_t totalMultiplierMs;
    std::int64_t totalConstantMs;
};

// Milliseconds on a steady clock, for deadlines.
std::int64_t monotonicMs();

// Reads up to count bytes from a non-blocking descriptor under those
// time-outs and returns how many arrived (0 after a time-out or an error).
// A device that fails or has gone is waited out like a silent line, so that
// a caller that reads in a loop does not spin.
std::int32_t timedRead(int fd, void* buffer, std::int32_t count, const ReadTimeouts& timeouts);

}  // namespace serial
