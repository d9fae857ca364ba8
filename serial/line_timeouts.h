#pragma once

#include <chrono>
#include <cstdint>

#include "platform/deadline.h"

namespace serial {

using std::chrono::milliseconds;

// A read ends once more than `interval` passes between two bytes after the
// first, or after perByte * n + constant in all for n bytes.
struct ReadTimeouts {
    milliseconds interval;
    milliseconds perByte;
    milliseconds constant;

    platform::Deadline total(std::int32_t count) const {
        return platform::Deadline::after(perByte * count + constant);
    }
};

// A write of n bytes gives up after perByte * n + constant: the target holds
// CTS low, or the driver never drains.
struct WriteTimeouts {
    milliseconds perByte;
    milliseconds constant;

    platform::Deadline total(std::int32_t count) const {
        return platform::Deadline::after(perByte * count + constant);
    }
};

struct LineTimeouts {
    ReadTimeouts read;
    WriteTimeouts write;
};

// What both platforms open the port with. 20 ms between bytes lets a pause
// in the target's output end a read while a byte in flight at 9600 baud
// (about 1 ms) does not; 10 ms per byte on top of a fixed allowance covers a
// target that answers after a moment or holds CTS low for a while.
inline constexpr LineTimeouts lineTimeouts{{milliseconds(20), milliseconds(10), milliseconds(100)},
                                           {milliseconds(10), milliseconds(250)}};

}  // namespace serial
