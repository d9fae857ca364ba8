#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/terminal.h"
#include "serial/socket_stream.h"

namespace serial {

namespace {

SocketStream::Wait waitFor(std::intptr_t socket, short events, std::int64_t timeoutMs) {
    const std::int64_t deadline = networkNowMs() + std::max<std::int64_t>(timeoutMs, 0);
    for (;;) {
        pollfd entry{static_cast<int>(socket), events, 0};
        const std::int64_t left = std::max<std::int64_t>(deadline - networkNowMs(), 0);
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min<std::int64_t>(left, 60000)));
        if (ready > 0) {
            // A hang-up or an error is "ready": the next call tells which.
            return SocketStream::Wait::Ready;
        }
        if (ready < 0 && errno != EINTR) {
            return SocketStream::Wait::Failed;
        }
        // A quit signal ends the wait: the console is leaving, and a silent
        // server must not hold it up for the rest of its time-out.
        if (ready < 0 && platform::terminationRequested()) {
            return SocketStream::Wait::TimedOut;
        }
        if (ready == 0 && networkNowMs() >= deadline) {
            return SocketStream::Wait::TimedOut;
        }
    }
}

using Failure = SocketStream::Failure;

Failure failureOf(int error) {
    return error == ECONNREFUSED ? Failure::Refused
           : error == ETIMEDOUT  ? Failure::NoAnswer
                                 : Failure::Unreachable;
}

// One address, non-blocking, so that the time-out holds; what went wrong,
// or None once connected.
Failure connectOne(int fd, const addrinfo& address, std::int64_t deadline,
                   const std::function<bool()>& giveUp) {
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) {
        return Failure::None;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return failureOf(errno);
    }
    const auto connected = [fd](std::int64_t ms) { return waitFor(fd, POLLOUT, ms); };
    if (waitUnlessGivenUp(connected, deadline, giveUp) != SocketStream::Wait::Ready) {
        return Failure::NoAnswer;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return Failure::Unreachable;
    return error == 0 ? Failure::None : failureOf(error);
}

}  // namespace

SocketStream::~SocketStream() { close(); }

bool SocketStream::connect(const std::string& host, std::uint16_t port, std::int64_t timeoutMs,
                           const std::function<bool()>& giveUp) {
    close();
    const std::int64_t deadline = networkNowMs() + timeoutMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    failure_ = Failure::NoSuchHost;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return false;
    }
    failure_ = Failure::Unreachable;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd = ::socket(address->ai_family,
                                address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                address->ai_protocol);
        if (fd < 0) {
            continue;
        }
        failure_ = connectOne(fd, *address, deadline, giveUp);
        if (failure_ == Failure::None) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
            socket_ = fd;
            waitable_ = fd;
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(found);
    return socket_ >= 0;
}

void SocketStream::close() {
    if (socket_ >= 0) {
        ::close(static_cast<int>(socket_));
        socket_ = -1;
        waitable_ = -1;
    }
}

bool SocketStream::isOpen() const { return socket_ >= 0; }

SocketStream::Wait SocketStream::waitReadable(std::int64_t timeoutMs) const {
    return socket_ < 0 ? Wait::Failed : waitFor(socket_, POLLIN, timeoutMs);
}

SocketStream::Wait SocketStream::waitWritable(std::int64_t timeoutMs) const {
    return socket_ < 0 ? Wait::Failed : waitFor(socket_, POLLOUT, timeoutMs);
}

std::int64_t SocketStream::send(const void* data, std::size_t count) {
    if (socket_ < 0) {
        return -1;
    }
    for (;;) {
        // MSG_NOSIGNAL: a peer that has gone is an error here, not SIGPIPE.
        const ssize_t sent = ::send(static_cast<int>(socket_), data, count, MSG_NOSIGNAL);
        if (sent >= 0) {
            return sent;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

std::int64_t SocketStream::receive(void* buffer, std::size_t count) {
    if (socket_ < 0) {
        return -1;
    }
    for (;;) {
        const ssize_t got = ::recv(static_cast<int>(socket_), buffer, count, 0);
        if (got > 0) {
            // Acknowledge at once: a server that does not set TCP_NODELAY
            // (ser2net by default) holds the tail of a block until the
            // last segment is acknowledged, and a delayed ACK would add up
            // to 40 ms to every block. Linux forgets the setting, so it is
            // made again after every receive.
            const int on = 1;
            ::setsockopt(static_cast<int>(socket_), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
            return got;
        }
        if (got == 0) {
            return -1;  // the peer closed the connection
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

}  // namespace serial
