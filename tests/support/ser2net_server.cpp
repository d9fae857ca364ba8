#include "tests/support/ser2net_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/e2e_temp_folder.h"

namespace e2e {

namespace {

// A port nobody listens on now; the kernel picks it.
std::uint16_t freeLocalPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

// Whether /proc/net/tcp shows 127.0.0.1:port in the listening state.
bool listening(std::uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") return true;
    }
    return false;
}

}  // namespace

std::string Ser2net::program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (::access(path, X_OK) == 0) return path;
    }
    return {};
}

Ser2net::Ser2net(std::string devicePath, std::string folder)
    : devicePath_(std::move(devicePath)), folder_(std::move(folder)) {}

Ser2net::~Ser2net() { stop(); }

bool Ser2net::start() {
    const std::string binary = program();
    if (binary.empty()) {
        error_ = "ser2net is not installed";
        return false;
    }
    rfc2217Port_ = freeLocalPort();
    tcpPort_ = freeLocalPort();
    const std::string connector = "serialdev," + devicePath_ + ",115200n81,local";
    const std::string config = folder_ + "/ser2net.yaml";
    // Bytes from the device go on at once (no chardelay, which holds them
    // for two character times and at least a millisecond), in buffers that
    // hold a block.
    const std::string options =
        "\n  options:\n    chardelay: false\n    dev-to-net-bufsize: 4096\n"
        "    net-to-dev-bufsize: 4096\n";
    const std::string text =
        "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
        std::to_string(rfc2217Port_) + "\n  connector: " + connector + options +
        "connection: &raw\n  accepter: tcp,127.0.0.1," + std::to_string(tcpPort_) +
        "\n  connector: " + connector + options;
    if (rfc2217Port_ == 0 || tcpPort_ == 0 || !writeFile(config, text)) {
        error_ = "no configuration for ser2net";
        return false;
    }
    // Everything the child needs is made before fork (the test has threads).
    const std::string logPath = folder_ + "/ser2net.log";
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // -u: no uucp lock, as tests run side by side, each on its own device.
    std::vector<std::string> texts{binary, "-n", "-d", "-u", "-c", config};
    std::vector<char*> argv;
    for (std::string& t : texts) argv.push_back(t.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(logFd, STDOUT_FILENO);
        ::dup2(logFd, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (logFd >= 0) ::close(logFd);
    if (pid_ < 0 || !waitUntilListening()) {
        error_ = "ser2net did not listen: " + log();
        stop();
        return false;
    }
    return true;
}

bool Ser2net::waitUntilListening() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (listening(rfc2217Port_) && listening(tcpPort_)) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void Ser2net::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

std::string Ser2net::log() const { return readFile(folder_ + "/ser2net.log"); }

}  // namespace e2e
