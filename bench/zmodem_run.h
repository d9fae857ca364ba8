#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

struct ZmodemResult {
    // Why nothing was measured ("lrzsz is not installed", ...); empty when it ran.
    std::string skipped;
    bool finished = false;  // both programs ended in time and said so
    bool intact = false;    // the received file equals the sent one byte for byte
    double wireSeconds = 0; // first byte sz sent to the last byte on the line
};

// lrzsz's sz sending `data` to rz over a PacedRelay at `baud`, both run with
// their standard input and output on the line, ended after `limitSeconds`.
ZmodemResult runZmodem(const std::string& data, std::int32_t baud, double limitSeconds);

}  // namespace bench
