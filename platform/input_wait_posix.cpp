#include "platform/input_wait.h"

#include <poll.h>

namespace platform {

void waitForInput(const std::intptr_t* handles, int count, const Deadline& deadline) {
    pollfd waits[4];
    nfds_t watched = 0;
    for (int i = 0; i < count && watched < 4; ++i) {
        if (handles[i] >= 0) {
            waits[watched++] = pollfd{static_cast<int>(handles[i]), POLLIN, 0};
        }
    }
    // A hang-up or error reads as ready, and the caller's read then says so.
    poll(waits, watched, deadline.leftMs());
}

}  // namespace platform
