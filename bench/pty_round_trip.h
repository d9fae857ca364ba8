#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace bench {

// The floor under any turnaround measured through the simulator: one byte
// written to a pseudo-terminal's master, read by another process on the
// slave that answers at once with one byte, and seen back on the master.
// Both sides wait in poll() as the simulator and the console do; what is
// measured is the kernel's pty (its hand-over in each direction) and two
// wake-ups, nothing of either program's own work. `idle` passes before each
// trip: an idle processor takes longer to wake, as between the replies of a
// transfer. Round trips in seconds, empty when the pty or the process could
// not be had.
std::vector<double> ptyRoundTrips(std::size_t count, std::chrono::microseconds idle);

}  // namespace bench
