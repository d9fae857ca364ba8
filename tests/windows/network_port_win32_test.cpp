#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <string>

#include "serial/network_port.h"

// A raw TCP port whose far end is a socket of the test's own on 127.0.0.1.
namespace {

class LocalServer {
public:
    LocalServer() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            listen(listener_, 1) == 0 &&
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~LocalServer() {
        closesocket(peer_);
        closesocket(listener_);
        if (started_) WSACleanup();
    }
    std::string url() const { return "tcp://127.0.0.1:" + std::to_string(port_); }
    bool accept() { return (peer_ = ::accept(listener_, nullptr, nullptr)) != INVALID_SOCKET; }
    void send(const std::string& bytes) { ::send(peer_, bytes.data(), static_cast<int>(bytes.size()), 0); }
    void hangUp() {
        closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

private:
    bool started_ = false;
    SOCKET listener_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    int port_ = 0;
};

std::string waitingText(NetworkPort& port) {
    char chunk[16];
    const std::int32_t count = port.readWaiting(chunk, sizeof chunk);
    return count > 0 ? std::string(chunk, static_cast<std::size_t>(count)) : std::to_string(count);
}

// The console loop's wait on a network port: the event is set when bytes
// come and stays unset once they are taken; the server's hang-up sets it too.
TEST(WindowsNetworkPort, TheWaitHandleIsSetByBytesAndByTheEndOfTheConnection) {
    LocalServer server;
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 115200)) << server.url();
    ASSERT_TRUE(server.accept());
    const auto event = reinterpret_cast<HANDLE>(port.waitHandle());
    ASSERT_NE(reinterpret_cast<HANDLE>(-1), event);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 100));

    server.send("ab");
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
    EXPECT_EQ("ab", waitingText(port));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));

    // Bytes that come while nobody waits set it as well.
    server.send("cd");
    Sleep(50);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
    char chunk[4];
    EXPECT_EQ(2, port.read(chunk, sizeof chunk));
    EXPECT_EQ("cd", std::string(chunk, 2));

    server.hangUp();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 2000));
    EXPECT_EQ("-1", waitingText(port));
    port.close();
}

}  // namespace
