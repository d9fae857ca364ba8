#include "bench/pty_round_trip.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "bench/paced_relay.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

// The answering side: what the console does for a one-byte reply (a
// non-blocking read that finds nothing, poll(), the read, the write), and
// nothing else. Ends at end of file, a quiet second or a failure.
[[noreturn]] void answer(int slave) {
    for (;;) {
        unsigned char byte = 0;
        ssize_t got = ::read(slave, &byte, 1);
        if (got < 0 && errno == EAGAIN) {
            pollfd device{slave, POLLIN, 0};
            if (::poll(&device, 1, 1000) <= 0) _exit(0);
            got = ::read(slave, &byte, 1);
        }
        if (got != 1 || ::write(slave, &byte, 1) != 1) _exit(0);
    }
}

// Waits up to a second for the echo of one byte and tells when poll() saw
// it, as the simulator stamps a burst's start; false when none came.
bool awaitEcho(int master, Clock::time_point& seen) {
    pollfd device{master, POLLIN, 0};
    const timespec limit{1, 0};
    if (::ppoll(&device, 1, &limit, nullptr) <= 0) return false;
    seen = Clock::now();
    unsigned char byte = 0;
    return ::read(master, &byte, 1) == 1;
}

}  // namespace

std::vector<double> ptyRoundTrips(std::size_t count, std::chrono::microseconds idle) {
    std::vector<double> trips;
    int master = -1;
    int slave = -1;
    if (!openRawPty(master, slave)) return trips;
    ::fcntl(slave, F_SETFL, ::fcntl(slave, F_GETFL) | O_NONBLOCK);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        answer(slave);
    }
    ::close(slave);
    if (child > 0) {
        trips.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char byte = static_cast<unsigned char>(i);
            std::this_thread::sleep_for(idle);
            const auto sent = Clock::now();
            Clock::time_point seen;
            if (::write(master, &byte, 1) != 1 || !awaitEcho(master, seen)) break;
            trips.push_back(std::chrono::duration<double>(seen - sent).count());
        }
    }
    // The answerer sees end of file (or a hang-up) and leaves.
    ::close(master);
    if (child > 0) ::waitpid(child, nullptr, 0);
    return trips;
}

}  // namespace bench
