#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "serial/socket_stream.h"

namespace serial {

namespace {

// Winsock is started once per process and left running to its end.
bool winsockStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET socketOf(std::intptr_t value) { return static_cast<SOCKET>(value); }

// select() with one socket: ready to read, to write, or (exceptions) a
// connect that failed.
SocketStream::Wait waitFor(SOCKET socket, bool forWrite, std::int64_t timeoutMs) {
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(socket, &wanted);
    FD_SET(socket, &failed);
    const std::int64_t ms = std::clamp<std::int64_t>(timeoutMs, 0, 60000);
    timeval limit{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
    const int ready = select(0, forWrite ? nullptr : &wanted, forWrite ? &wanted : nullptr,
                             &failed, &limit);
    if (ready > 0) {
        return SocketStream::Wait::Ready;
    }
    return ready == 0 ? SocketStream::Wait::TimedOut : SocketStream::Wait::Failed;
}

using Failure = SocketStream::Failure;

Failure failureOf(int error) {
    return error == WSAECONNREFUSED ? Failure::Refused
           : error == WSAETIMEDOUT  ? Failure::NoAnswer
                                    : Failure::Unreachable;
}

// What went wrong, or None once connected.
Failure connectOne(SOCKET socket, const addrinfo& address, std::int64_t deadline,
                   const std::function<bool()>& giveUp) {
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return Failure::None;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        return failureOf(WSAGetLastError());
    }
    const auto connected = [socket](std::int64_t ms) { return waitFor(socket, true, ms); };
    if (waitUnlessGivenUp(connected, deadline, giveUp) != SocketStream::Wait::Ready) {
        return Failure::NoAnswer;
    }
    int error = 0;
    int length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        return Failure::Unreachable;
    }
    return error == 0 ? Failure::None : failureOf(error);
}

// An event set when bytes or the connection's end arrive, for the console
// loop's wait beside the console's input (a SOCKET is not waitable itself);
// -1 when Winsock will not give one. The socket is non-blocking already, as
// the event asks.
std::intptr_t arrivalEvent(SOCKET socket) {
    const WSAEVENT event = WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
        return -1;
    }
    if (WSAEventSelect(socket, event, FD_READ | FD_CLOSE) != 0) {
        WSACloseEvent(event);
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(event);
}

}  // namespace

SocketStream::~SocketStream() { close(); }

bool SocketStream::connect(const std::string& host, std::uint16_t port, std::int64_t timeoutMs,
                           const std::function<bool()>& giveUp) {
    close();
    failure_ = Failure::Unreachable;
    if (!winsockStarted()) {
        return false;
    }
    const std::int64_t deadline = networkNowMs() + timeoutMs;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    failure_ = Failure::NoSuchHost;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
        return false;
    }
    failure_ = Failure::Unreachable;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const SOCKET socket = ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == INVALID_SOCKET) {
            continue;
        }
        failure_ = connectOne(socket, *address, deadline, giveUp);
        if (failure_ == Failure::None) {
            const BOOL on = TRUE;
            setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            setsockopt(socket, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
            socket_ = static_cast<std::intptr_t>(socket);
            waitable_ = arrivalEvent(socket);
            break;
        }
        closesocket(socket);
    }
    freeaddrinfo(found);
    return socket_ != -1;
}

void SocketStream::close() {
    if (socket_ != -1) {
        closesocket(socketOf(socket_));
        socket_ = -1;
    }
    if (waitable_ != -1) {
        WSACloseEvent(reinterpret_cast<WSAEVENT>(waitable_));
        waitable_ = -1;
    }
}

bool SocketStream::isOpen() const { return socket_ != -1; }

SocketStream::Wait SocketStream::waitReadable(std::int64_t timeoutMs) const {
    return socket_ == -1 ? Wait::Failed : waitFor(socketOf(socket_), false, timeoutMs);
}

SocketStream::Wait SocketStream::waitWritable(std::int64_t timeoutMs) const {
    return socket_ == -1 ? Wait::Failed : waitFor(socketOf(socket_), true, timeoutMs);
}

std::int64_t SocketStream::send(const void* data, std::size_t count) {
    if (socket_ == -1) {
        return -1;
    }
    const int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 20));
    const int sent = ::send(socketOf(socket_), static_cast<const char*>(data), chunk, 0);
    if (sent >= 0) {
        return sent;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

std::int64_t SocketStream::receive(void* buffer, std::size_t count) {
    if (socket_ == -1) {
        return -1;
    }
    const int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 20));
    // Reset before the receive: should bytes stay behind it, or arrive after
    // it, Winsock sets the event again, so a waiter never misses them.
    if (waitable_ != -1) {
        WSAResetEvent(reinterpret_cast<WSAEVENT>(waitable_));
    }
    const int got = recv(socketOf(socket_), static_cast<char*>(buffer), chunk, 0);
    if (got > 0) {
        return got;
    }
    if (got == 0) {
        return -1;  // the peer closed the connection
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

}  // namespace serial
