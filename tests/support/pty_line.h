#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// One end of a pseudo-terminal standing in for the serial line, with
// bounded waits. Made without a path it opens a fresh pair: the test plays
// the target on the master, while the code under test opens `path`, the
// slave, which stays open as `slave` for the test to look at. Made with a
// path it opens that terminal (the simulator's, say) as the console would.
class PtyLine {
public:
    using Ms = std::chrono::milliseconds;

    PtyLine() {
        int master = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
        const char* name = ttyname(slave);
        path = name != nullptr ? name : "";
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fd_ = master;
    }
    explicit PtyLine(const std::string& pathIn)
        : path(pathIn), fd_(::open(pathIn.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~PtyLine() {
        close();
        if (slave >= 0) ::close(slave);
    }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Closes the test's end; of a fresh pair, the master: the line hangs up.
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    bool send(std::string_view bytes) const {
        std::size_t done = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += std::size_t(n);
            } else if (!waitFor(POLLOUT, deadline)) {
                return false;
            }
        }
        return true;
    }
    bool send(std::uint8_t byte) const { return send(std::string_view(reinterpret_cast<const char*>(&byte), 1)); }

    // Reads until `text` has arrived (returned with everything before it) or
    // the time is up (returns what came, without the text).
    std::string readUntil(std::string_view text, Ms timeout = std::chrono::seconds(2)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            const auto at = pending_.find(text);
            if (at != std::string::npos) {
                std::string out = pending_.substr(0, at + text.size());
                pending_.erase(0, at + text.size());
                return out;
            }
            if (!fill(deadline)) {
                std::string out;
                out.swap(pending_);
                return out;
            }
        }
    }

    // Reads exactly `count` bytes, or fewer when the time is up.
    std::string readCount(std::size_t count, Ms timeout = std::chrono::seconds(2)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (pending_.size() < count && fill(deadline)) {
        }
        const std::size_t n = std::min(count, pending_.size());
        std::string out = pending_.substr(0, n);
        pending_.erase(0, n);
        return out;
    }

    // Everything that arrives within `quiet` after the last byte.
    std::string drain(Ms quiet = Ms(100)) {
        while (fill(std::chrono::steady_clock::now() + quiet)) {
        }
        std::string out;
        out.swap(pending_);
        return out;
    }

    std::string path;
    int slave = -1;

private:
    bool waitFor(short events, std::chrono::steady_clock::time_point deadline) const {
        const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, events, 0};
        return ::poll(&p, 1, int(left.count())) > 0 && (p.revents & events);
    }

    bool fill(std::chrono::steady_clock::time_point deadline) {
        char buffer[4096];
        while (true) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n > 0) {
                pending_.append(buffer, std::size_t(n));
                return true;
            }
            if (n == 0 || (n < 0 && errno != EAGAIN) || !waitFor(POLLIN, deadline)) return false;
        }
    }

    int fd_ = -1;
    std::string pending_;
};
