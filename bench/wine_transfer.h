#pragma once

#include <cstddef>
#include <string>

namespace bench {

// dsave of size bytes by the Windows build under Wine, against the simulator
// pacing COM1 at 921600 baud: once as started plainly and once with
// --strict-rts. Prints a table; 0 when both runs brought the data back whole.
int dsaveUnderWine(const std::string& exe, std::size_t size);

}  // namespace bench
