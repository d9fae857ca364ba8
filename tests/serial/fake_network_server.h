#pragma once

// A small RFC 2217 server on 127.0.0.1 played by the network port's tests:
// it records what the client asked for and misbehaves on demand.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/network_port.h"

namespace fake_network {

namespace telnet = serial::telnet;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

// IgnoresSettings agrees to port control and never answers a setting.
enum class Manner { Agreeable, Silent, RefusesComPort, IgnoresSettings, Raw };

// A listening socket on 127.0.0.1 and a port of the system's choice.
inline int listenOnLoopback(int backlog, std::uint16_t& port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, backlog);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

class FakeServer {
public:
    explicit FakeServer(Manner manner) : manner_(manner) {
        listener_ = listenOnLoopback(1, port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }
    std::string url() const {
        return (manner_ == Manner::Raw ? "tcp"s : "rfc2217"s) + "://127.0.0.1:" + std::to_string(port_);
    }
    // Sent to the client as it stands (already escaped), in one write.
    void send(const std::string& bytes) {
        std::lock_guard lock(mutex_);
        outbox_.push_back(bytes);
    }
    void drop() { dropNow_ = true; }
    void stopReading() { deaf_ = true; }
    // Data and COM port commands received so far.
    std::string data() const {
        std::lock_guard lock(mutex_);
        return data_;
    }
    std::vector<std::vector<std::uint8_t>> comPortCommands() const {
        std::lock_guard lock(mutex_);
        return commands_;
    }

private:
    void serve() {
        int client = -1;
        while (!stop_) {
            const int fd = client >= 0 ? client : listener_;
            pollfd entry{fd, POLLIN, 0};
            const int ready = ::poll(&entry, 1, 5);
            flushOutbox(client);
            if (client >= 0 && dropNow_) {
                ::close(client);
                client = -1;
                dropNow_ = false;
            }
            if (ready <= 0) continue;
            if (client >= 0 && deaf_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            if (client < 0) {
                client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                continue;
            }
            std::uint8_t buffer[4096];
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) {
                ::close(client);
                client = -1;
                continue;
            }
            take(client, buffer, static_cast<std::size_t>(got));
        }
        if (client >= 0) ::close(client);
    }
    void flushOutbox(int client) {
        std::lock_guard lock(mutex_);
        for (const std::string& bytes : outbox_) {
            if (client >= 0) ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        }
        if (client >= 0) outbox_.clear();
    }
    void take(int client, const std::uint8_t* bytes, std::size_t count) {
        std::lock_guard lock(mutex_);
        if (manner_ == Manner::Raw) {
            data_.append(reinterpret_cast<const char*>(bytes), count);
            return;
        }
        std::vector<telnet::Event> events;
        decoder_.feed(bytes, count, data_, events);
        std::string reply;
        for (const telnet::Event& event : events) {
            if (event.kind == telnet::Event::Kind::ServerWill && event.option == telnet::OptionComPort) {
                if (manner_ == Manner::Agreeable || manner_ == Manner::IgnoresSettings)
                    reply += telnet::command(telnet::Do, telnet::OptionComPort);
                if (manner_ == Manner::RefusesComPort) reply += telnet::command(telnet::Dont, telnet::OptionComPort);
            }
            if (event.kind == telnet::Event::Kind::Subnegotiation && !event.payload.empty()) {
                commands_.push_back(event.payload);
                std::vector<std::uint8_t> value(event.payload.begin() + 1, event.payload.end());
                if (manner_ == Manner::Agreeable)
                    reply += telnet::comPortCommand(event.payload[0] + telnet::ServerOffset, value);
            }
        }
        ::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    }

    Manner manner_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> dropNow_{false};
    std::atomic<bool> deaf_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> outbox_;
    telnet::Decoder decoder_;
    std::string data_;
    std::vector<std::vector<std::uint8_t>> commands_;
    std::thread thread_;
};

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline std::string readAll(NetworkPort& port, std::size_t wanted) {
    std::string got;
    char buffer[512];
    for (int tries = 0; got.size() < wanted && tries < 50; ++tries) {
        const std::int32_t n = port.read(buffer, sizeof buffer);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

inline std::string allByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes;
}

}  // namespace fake_network
