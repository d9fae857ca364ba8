#include "bench/paced_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace bench {
namespace {

using Clock = sim::LinePacer::Clock;
constexpr std::size_t chunk = 4096;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

bool openRawPty(int& master, int& slave) {
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return false;
    termios settings{};
    if (::tcgetattr(slave, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    return true;
}

PacedRelay::PacedRelay(std::int32_t baud) : ways_{Way(baud), Way(baud)} {}

PacedRelay::~PacedRelay() {
    stop();
    closeSlaves();
    for (End& end : ends_) closeFd(end.master);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
}

bool PacedRelay::start() {
    if (started_) return false;
    for (End& end : ends_) {
        if (!openRawPty(end.master, end.slave)) return false;
    }
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    ways_[0].from = ends_[0].master;
    ways_[0].to = ends_[1].master;
    ways_[1].from = ends_[1].master;
    ways_[1].to = ends_[0].master;
    started_ = true;
    thread_ = std::thread([this] { serve(); });
    return true;
}

void PacedRelay::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    const char byte = 1;
    if (::write(wake_[1], &byte, 1) < 0) {
        // A full pipe already holds a wake-up.
    }
    thread_.join();
}

void PacedRelay::closeSlaves() {
    for (End& end : ends_) closeFd(end.slave);
}

double PacedRelay::wireSeconds() const {
    if (first_ == Clock::time_point{} || last_ < first_) return 0;
    return std::chrono::duration<double>(last_ - first_).count();
}

void PacedRelay::serve() {
    // As in the simulator: bytes are due every few microseconds.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    while (!stopping_.load()) {
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {ends_[0].master, 0, 0}, {ends_[1].master, 0, 0}};
        for (int i = 0; i < 2; ++i) {
            Way& way = ways_[i];
            pollfd& from = fds[1 + i];
            pollfd& to = fds[2 - i];
            // A closed end is left out: it would report its hang-up at once, forever.
            if (way.closed) from.fd = -1;
            if (way.pacer.idle() && way.carry.empty()) from.events |= POLLIN;
            if (!way.carry.empty()) to.events |= POLLOUT;
        }
        const auto before = Clock::now();
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(nextWake(before) - before, Clock::duration::zero()));
        const timespec timeout{time_t(wait.count() / 1'000'000'000), long(wait.count() % 1'000'000'000)};
        if (::ppoll(fds, 3, &timeout, nullptr) < 0 && errno != EINTR) return;
        const auto now = Clock::now();
        for (int i = 0; i < 2; ++i) {
            move(ways_[i], now, (fds[1 + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0,
                 (fds[2 - i].revents & POLLOUT) != 0);
        }
    }
}

Clock::time_point PacedRelay::nextWake(Clock::time_point now) const {
    Clock::time_point wake = now + std::chrono::milliseconds(100);
    for (const Way& way : ways_) {
        if (way.closed || way.pacer.idle() || !way.carry.empty()) continue;
        int waiting = 0;
        if (::ioctl(way.from, FIONREAD, &waiting) != 0) waiting = 0;
        wake = std::min(wake, way.pacer.nextWake(way.lastMove, std::size_t(std::max(waiting, 0))));
    }
    return wake;
}

void PacedRelay::move(Way& way, Clock::time_point now, bool readable, bool writable) {
    if (!way.carry.empty()) {
        // The far end is not reading: the line waits, as under flow control.
        if (writable) deliver(way);
        return;
    }
    if (way.closed) return;
    if (way.pacer.idle()) {
        if (!readable) return;
        way.pacer.begin(now);
        way.lastMove = {};
    }
    const std::size_t want = std::min(chunk, way.pacer.allowance(now));
    if (want == 0) return;
    char bytes[chunk];
    const ssize_t got = ::read(way.from, bytes, want);
    if (got <= 0) {
        // EIO: the program on that end has gone.
        if (got == 0 || errno != EAGAIN) way.closed = true;
        way.pacer.stop();
        return;
    }
    if (&way == &ways_[0] && first_ == Clock::time_point{}) first_ = now;
    last_ = now;
    way.lastMove = now;
    way.pacer.moved(std::size_t(got));
    if (std::size_t(got) < want) way.pacer.stop();
    way.carry.assign(bytes, std::size_t(got));
    deliver(way);
}

void PacedRelay::deliver(Way& way) {
    const ssize_t written = ::write(way.to, way.carry.data(), way.carry.size());
    if (written > 0) way.carry.erase(0, std::size_t(written));
    if (written < 0 && errno != EAGAIN) way.carry.clear();
    // A burst held up by the far end starts afresh when it reads again.
    if (!way.carry.empty()) way.pacer.stop();
}

}  // namespace bench
