#pragma once

#include <sys/types.h>

#include <string>

namespace e2e {

// The board firmware running on QEMU's MIPS Malta, its serial port a
// pseudo-terminal that QEMU names when it starts. QEMU is killed and reaped
// when the object goes, on every path.
class QemuBoard {
public:
    QemuBoard() = default;
    ~QemuBoard();
    QemuBoard(const QemuBoard&) = delete;
    QemuBoard& operator=(const QemuBoard&) = delete;

    // Why the board cannot run here (QEMU or the built firmware missing);
    // empty when it can.
    static std::string missing();
    // Where the firmware and the example programs were built.
    static std::string buildFolder();
    static std::string example(const std::string& name) { return buildFolder() + "/" + name; }

    // Boots the firmware, waits (bounded) for QEMU to name its port and for
    // the monitor to answer on it. The port is then held open: QEMU takes
    // up to a second to notice that its port was opened, and reads nothing
    // from it meanwhile, so a console that opened it first would wait that
    // long for its first echo.
    bool start();
    const std::string& port() const { return port_; }
    const std::string& error() const { return error_; }

private:
    bool readPortName();
    bool awaitMonitor();

    pid_t pid_ = -1;
    int held_ = -1;
    int output_ = -1;
    std::string port_;
    std::string error_;
};

}  // namespace e2e
