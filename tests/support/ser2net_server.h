#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// A real ser2net on 127.0.0.1 sharing one serial device (a simulator's
// pseudo-terminal) twice: as a telnet server with the COM port control
// option and as a raw TCP server. Its configuration is written to a folder
// the caller owns; the process is killed and reaped when the object goes.
namespace e2e {

class Ser2net {
public:
    // Where the program is, or empty when it is not installed.
    static std::string program();

    Ser2net(std::string devicePath, std::string folder);
    ~Ser2net();
    Ser2net(const Ser2net&) = delete;
    Ser2net& operator=(const Ser2net&) = delete;

    // Starts it and waits until both ports listen; false (with the reason
    // in error()) when it could not.
    bool start();
    void stop();
    const std::string& error() const { return error_; }

    std::uint16_t rfc2217Port() const { return rfc2217Port_; }
    std::uint16_t tcpPort() const { return tcpPort_; }
    std::string rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_); }
    std::string tcpUrl() const { return "tcp://127.0.0.1:" + std::to_string(tcpPort_); }
    // What ser2net printed (it runs with -d).
    std::string log() const;

private:
    bool waitUntilListening() const;

    std::string devicePath_;
    std::string folder_;
    std::string error_;
    std::uint16_t rfc2217Port_ = 0;
    std::uint16_t tcpPort_ = 0;
    pid_t pid_ = -1;
};

}  // namespace e2e
