#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/deadline.h"

// A TCP connection with waits of its own: the one piece of the network
// ports that differs between systems (BSD sockets, Winsock).
namespace serial {

// Milliseconds on the console's one clock, which the network waits are
// counted on.
inline std::int64_t networkNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               platform::MonotonicClock::now().time_since_epoch())
        .count();
}

// How often a wait that may be given up asks whether it should be.
inline constexpr std::int64_t GiveUpLookMs = 50;

class SocketStream {
public:
    SocketStream() = default;
    ~SocketStream();
    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    // Resolves host and connects to the first address that answers within
    // timeoutMs in all. False when the name does not resolve, every address
    // refuses, the time runs out or giveUp says so (it is asked every
    // GiveUpLookMs meanwhile). Small writes go out at once (no Nagle).
    bool connect(const std::string& host, std::uint16_t port, std::int64_t timeoutMs,
                 const std::function<bool()>& giveUp = {});
    // Why the last connect failed (of several addresses, the last one's).
    enum class Failure : std::uint8_t { None, NoSuchHost, Refused, NoAnswer, Unreachable };
    Failure connectFailure() const { return failure_; }
    void close();
    bool isOpen() const;

    enum class Wait : std::uint8_t { Ready, TimedOut, Failed };
    // Waits up to timeoutMs until a receive (or a send) would not block.
    Wait waitReadable(std::int64_t timeoutMs) const;
    Wait waitWritable(std::int64_t timeoutMs) const;

    // Bytes taken or given; 0 when the call would block; -1 once the
    // connection has ended or failed.
    std::int64_t send(const void* data, std::size_t count);
    std::int64_t receive(void* buffer, std::size_t count);

    // The socket (a descriptor, or a SOCKET on Windows); -1 when closed.
    std::intptr_t descriptor() const { return socket_; }
    // What a caller can wait on for received bytes together with other
    // input: the descriptor on POSIX; on Windows an event that is set when
    // bytes or the connection's end arrive and reset by receive(); -1 when
    // there is none.
    std::intptr_t waitHandle() const { return waitable_; }

private:
    std::intptr_t socket_ = -1;
    Failure failure_ = Failure::None;
    std::intptr_t waitable_ = -1;
};

// Runs waitOnce(ms) in slices of at most GiveUpLookMs until it is ready or
// failed, the deadline passes, or giveUp says so (then TimedOut).
template <typename WaitOnce>
SocketStream::Wait waitUnlessGivenUp(WaitOnce waitOnce, std::int64_t deadlineMs,
                                     const std::function<bool()>& giveUp) {
    for (;;) {
        const std::int64_t left = deadlineMs - networkNowMs();
        const std::int64_t slice = giveUp ? std::min(left, GiveUpLookMs) : left;
        const SocketStream::Wait wait = waitOnce(slice);
        if (wait != SocketStream::Wait::TimedOut || networkNowMs() >= deadlineMs ||
            (giveUp && giveUp())) {
            return wait;
        }
    }
}

}  // namespace serial
