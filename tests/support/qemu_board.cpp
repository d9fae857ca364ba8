#include "tests/support/qemu_board.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <vector>

#ifndef TOLVANIS_BOARD_DIR
#error "TOLVANIS_BOARD_DIR must name the folder of the built board firmware"
#endif

namespace e2e {
namespace {

constexpr const char* qemuProgram = "qemu-system-mipsel";
// QEMU names its port at once; a loaded machine gets time.
constexpr auto startLimit = std::chrono::seconds(20);

std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t from = 0;
    while (from <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', from), folders.size());
        const std::string candidate = folders.substr(from, end - from) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        from = end + 1;
    }
    return "";
}

}  // namespace

std::string QemuBoard::buildFolder() { return TOLVANIS_BOARD_DIR; }

std::string QemuBoard::missing() {
    if (onPath(qemuProgram).empty()) return "qemu-system-mipsel not found; install qemu-system-mips";
    if (onPath("stdbuf").empty()) return "stdbuf not found; install coreutils";
    if (::access(example("monitor.elf").c_str(), R_OK) != 0) {
        return "board firmware not built (" + example("monitor.elf") +
               "); install gcc-mipsel-linux-gnu and rebuild";
    }
    return "";
}

bool QemuBoard::start() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "no pipe";
        return false;
    }
    // Made before fork: a test has threads, so the child may only make
    // async-signal-safe calls until exec. QEMU writes the port's name on
    // standard output, buffered unless stdbuf makes it a line at a time.
    std::vector<std::string> words{onPath("stdbuf"), "-oL", qemuProgram, "-M", "malta", "-m", "64",
                                   "-display", "none", "-vga", "none", "-nic", "none", "-kernel",
                                   example("monitor.elf"), "-serial", "pty", "-monitor", "none"};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(fds[1], STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (devNull >= 0) ::close(devNull);
    output_ = fds[0];
    if (pid_ < 0) {
        error_ = "cannot fork";
        return false;
    }

    return readPortName() && awaitMonitor();
}

namespace {

// The pty QEMU names in "char device redirected to /dev/pts/N (label ...)",
// once its whole line has come; empty before.
std::string namedPort(const std::string& said) {
    const std::string lead = "char device redirected to ";
    const std::size_t at = said.find(lead);
    if (at == std::string::npos) return {};
    const std::size_t from = at + lead.size();
    const std::size_t lineEnd = said.find('\n', from);
    if (lineEnd == std::string::npos) return {};
    const std::size_t end = said.find_first_of(" \r\n", from);
    return said.substr(from, end - from);
}

}  // namespace

bool QemuBoard::readPortName() {
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + startLimit;
    while ((port_ = namedPort(said)).empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0) {
            error_ = "QEMU named no port in time: " + said;
            return false;
        }
        char chunk[512];
        const ssize_t got = ::read(output_, chunk, sizeof chunk);
        if (got <= 0 && errno != EINTR) {
            error_ = "QEMU ended: " + said;
            return false;
        }
        if (got > 0) said.append(chunk, std::size_t(got));
    }
    if (port_.rfind("/dev/pts/", 0) != 0) {
        error_ = "QEMU named an odd port: " + port_;
        return false;
    }
    return true;
}

bool QemuBoard::awaitMonitor() {
    held_ = ::open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (held_ < 0 || ::tcgetattr(held_, &raw) != 0) {
        error_ = "cannot open " + port_;
        return false;
    }
    // No echo: what the monitor sends must not go back to it.
    ::cfmakeraw(&raw);
    ::tcsetattr(held_, TCSANOW, &raw);
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + startLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        // Output before QEMU saw the port open is lost: a carriage return
        // makes the monitor prompt again.
        if (::write(held_, "\r", 1) != 1) break;
        const auto askedAt = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - askedAt < std::chrono::milliseconds(500)) {
            pollfd readable{held_, POLLIN, 0};
            if (::poll(&readable, 1, 100) <= 0) continue;
            char chunk[512];
            const ssize_t got = ::read(held_, chunk, sizeof chunk);
            if (got > 0) said.append(chunk, std::size_t(got));
            if (said.find(">> ") != std::string::npos) {
                // The rest of the answer, so the console starts on a quiet line.
                while (::poll(&readable, 1, 200) > 0 && ::read(held_, chunk, sizeof chunk) > 0) {
                }
                return true;
            }
        }
    }
    error_ = "the monitor did not answer on " + port_ + ": " + said;
    return false;
}

QemuBoard::~QemuBoard() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (output_ >= 0) ::close(output_);
    if (held_ >= 0) ::close(held_);
}

}  // namespace e2e
