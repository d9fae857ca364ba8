#include "platform/screen.h"
#include "platform/terminal.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

// How long a full terminal may hold up output before the rest is dropped.
constexpr int StalledScreenMs = 1000;

}  // namespace

void StdoutScreen::write(const char* bytes, std::size_t count) {
    // Straight to the descriptor: nothing waits in a buffer. A screen that has
    // gone (closed terminal, broken pipe) is ignored rather than retried.
    while (count > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes, count);
        if (written < 0 && errno == EINTR && !platform::terminationRequested()) {
            continue;
        }
        if (written < 0 && errno == EAGAIN) {
            // Someone made the terminal non-blocking; wait for room, briefly.
            pollfd screen{STDOUT_FILENO, POLLOUT, 0};
            if (poll(&screen, 1, StalledScreenMs) > 0) {
                continue;
            }
            return;
        }
        if (written <= 0) {
            return;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}
