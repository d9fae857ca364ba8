// NetworkPort against a small RFC 2217 server on 127.0.0.1 played by the
// test: it records what the client asked for and misbehaves on demand.
#include "serial/network_port.h"

#include <signal.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/terminal.h"
#include "tests/serial/signal_during.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

namespace telnet = serial::telnet;
using Clock = std::chrono::steady_clock;
using namespace std::string_literals;

// IgnoresSettings agrees to port control and never answers a setting.
enum class Manner { Agreeable, Silent, RefusesComPort, IgnoresSettings, Raw };

// A listening socket on 127.0.0.1 and a port of the system's choice.
int listenOnLoopback(int backlog, std::uint16_t& port) {
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

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string readAll(NetworkPort& port, std::size_t wanted) {
    std::string got;
    char buffer[512];
    for (int tries = 0; got.size() < wanted && tries < 50; ++tries) {
        const std::int32_t n = port.read(buffer, sizeof buffer);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string allByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes;
}

TEST(NetworkPort, OpenSetsTheLineAsALocalPortDoesAndPulsesRts) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 57600));
    using Command = std::vector<std::uint8_t>;
    const std::vector<Command> expected{{telnet::SetBaudRate, 0x00, 0x00, 0xe1, 0x00},
                                        {telnet::SetDataSize, 8},
                                        {telnet::SetParity, telnet::ParityNone},
                                        {telnet::SetStopSize, telnet::StopBitsOne},
                                        {telnet::SetControl, telnet::ControlHardwareFlow},
                                        {telnet::SetControl, telnet::ControlDtrOff},
                                        {telnet::SetControl, telnet::ControlRtsOn}};
    EXPECT_EQ(server.comPortCommands(), expected);

    port.pulseRts();
    char byte;
    port.read(&byte, 1);  // the pulse goes out with the wait
    std::vector<Command> commands;
    for (int i = 0; i < 100 && commands.size() < 9; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        commands = server.comPortCommands();
    }
    ASSERT_EQ(commands.size(), 9u);
    EXPECT_EQ(commands[7], (Command{telnet::SetControl, telnet::ControlRtsOff}));
    EXPECT_EQ(commands[8], (Command{telnet::SetControl, telnet::ControlRtsOn}));
    port.close();
}

TEST(NetworkPort, EveryByteValuePassesBothWaysWithCommandsAndIacAcrossReads) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 921600));
    const std::string data = allByteValues();
    ASSERT_EQ(port.write(data.data(), 256), 256);

    std::string wire;
    telnet::escapeData(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), wire);
    // The doubled 0xFF split over two reads, a command in the data.
    server.send(wire.substr(0, wire.size() - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    server.send("\xff" "\xff\xfb\x18" "\xff\xfa\x2c\x6b\x01\xff\xf0" "end"s);
    EXPECT_EQ(readAll(port, 259), data + "end");
    for (int i = 0; i < 100 && server.data().size() < 256; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server.data(), data);
}

// The console loop's way: wait on the socket, take what is there in chunks.
TEST(NetworkPort, TheLoopsWaitingReadsSeeOnlyTheTargetsBytes) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 921600));
    const std::string data = allByteValues();
    std::string wire;
    telnet::escapeData(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), wire);
    server.send(wire.substr(0, 100) + "\xff\xfb\x18" + wire.substr(100));

    std::string got;
    char chunk[10];
    for (int waits = 0; got.size() < data.size() && waits < 200; ++waits) {
        pollfd entry{static_cast<int>(port.waitHandle()), POLLIN, 0};
        ::poll(&entry, 1, 10);
        for (std::int32_t n; (n = port.readWaiting(chunk, sizeof chunk)) > 0;) {
            ASSERT_LE(n, 10);
            got.append(chunk, static_cast<std::size_t>(n));
        }
    }
    EXPECT_EQ(got, data);
    port.close();
    EXPECT_EQ(port.readWaiting(chunk, sizeof chunk), -1);
}

TEST(NetworkPort, RawTcpPassesBytesUnchanged) {
    FakeServer server(Manner::Raw);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 921600));
    const std::string data = allByteValues() + "\xff\xfa\xff\xf0"s;
    ASSERT_EQ(port.write(data.data(), static_cast<std::int32_t>(data.size())),
              static_cast<std::int32_t>(data.size()));
    server.send(data);
    EXPECT_EQ(readAll(port, data.size()), data);
}

TEST(NetworkPort, ReadAndWriteTakeTheLinesTime) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 9600));
    char buffer[10];
    auto start = Clock::now();
    EXPECT_EQ(port.read(buffer, 10), 0);  // a silent line: 10 * 10 + 100 ms
    EXPECT_GE(secondsSince(start), 0.195);
    // 192 bytes at 960 bytes a second: 200 ms on the far line.
    const std::string block(192, 'x');
    start = Clock::now();
    EXPECT_EQ(port.write(block.data(), 192), 192);
    EXPECT_GE(secondsSince(start), 0.195);
    // At 300 baud a write's time-out ends before its bytes are across; the
    // next write still waits for them (its own 260 ms, not one byte's 33).
    ASSERT_TRUE(port.open(server.url().c_str(), 300));
    EXPECT_EQ(port.write(block.data(), 100), 100);
    start = Clock::now();
    EXPECT_EQ(port.write("y", 1), 1);
    EXPECT_GE(secondsSince(start), 0.25);
}

TEST(NetworkPort, ServersThatCannotServeAreNotOpened) {
    FakeServer silent(Manner::Silent);
    NetworkPort port;
    const auto start = Clock::now();
    EXPECT_FALSE(port.open(silent.url().c_str(), 115200));  // bounded wait
    EXPECT_LT(secondsSince(start), 6.0);
    EXPECT_EQ(port.openFailure(), OpenFailure::PortControlSilent);
    FakeServer refusing(Manner::RefusesComPort);
    const auto refusedAt = Clock::now();
    EXPECT_FALSE(port.open(refusing.url().c_str(), 115200));
    EXPECT_EQ(port.openFailure(), OpenFailure::PortControlRefused);
    EXPECT_LT(secondsSince(refusedAt), 2.0) << "a refusal is not waited out";
    EXPECT_FALSE(port.open("rfc2217://127.0.0.1:1", 115200));  // connection refused
    EXPECT_EQ(port.openFailure(), OpenFailure::Refused);
    EXPECT_FALSE(port.open("rfc2217://127.0.0.1:99999", 115200));
    EXPECT_EQ(port.openFailure(), OpenFailure::Unknown);
    FakeServer agreeable(Manner::Agreeable);
    EXPECT_FALSE(port.open(agreeable.url().c_str(), 0));
}

// The console waiting for a server to come back asks to give up when F10 F2
// is typed: an open of a server that accepts and says nothing ends then.
// Nothing agreed with the last server counts for the next one.
TEST(NetworkPort, AnOpenThatIsGivenUpEndsAtOnce) {
    FakeServer agreeable(Manner::Agreeable);
    NetworkPort port;
    EXPECT_TRUE(port.openUnless(agreeable.url().c_str(), 115200, [] { return false; }));
    for (const Manner manner : {Manner::Silent, Manner::IgnoresSettings}) {
        FakeServer server(manner);
        const auto start = Clock::now();
        const auto giveUp = [&] { return secondsSince(start) > 0.2; };
        EXPECT_FALSE(port.openUnless(server.url().c_str(), 115200, giveUp));
        EXPECT_LT(secondsSince(start), 0.6);
    }
    // A server whose queue is full answers no connect at all.
    std::uint16_t full = 0;
    const int listener = listenOnLoopback(0, full);
    serial::SocketStream queued;
    ASSERT_TRUE(queued.connect("127.0.0.1", full, 1000));
    const std::string url = "tcp://127.0.0.1:" + std::to_string(full);
    const auto start = Clock::now();
    EXPECT_FALSE(port.openUnless(url.c_str(), 115200, [&] { return secondsSince(start) > 0.2; }));
    EXPECT_LT(secondsSince(start), 0.6);
    ::close(listener);
}

TEST(NetworkPort, ALostConnectionReadsAsASilentLineAndTakesNoWrites) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 115200));
    server.send("old\xff\xfa\x2c" + std::string(200000, 'z'));  // a subnegotiation without end
    server.send("abc");
    server.drop();
    char buffer[10];
    EXPECT_EQ(port.read(buffer, 10), 3);
    // Gone: every read waits its time-out out, no spinning, no hang.
    for (int i = 0; i < 3; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(port.read(buffer, 1), 0);
        EXPECT_GE(secondsSince(start), 0.1);
        EXPECT_LT(secondsSince(start), 1.0);
    }
    EXPECT_EQ(port.write("x", 1), 0);
    EXPECT_TRUE(port.lost());
    // The server back: the cut command, the loss and what was read are the
    // old connection's.
    for (const char* next : {"new", "2nd"}) {
        ASSERT_TRUE(port.open(server.url().c_str(), 115200));
        EXPECT_FALSE(port.lost());
        server.send(next);
        EXPECT_EQ(readAll(port, 3), next);
    }
}

// A signal (a window resized, a child ended) during a wait is no lost line.
TEST(NetworkPort, ASignalDuringAReadKeepsTheConnection) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 115200));
    char buffer[10];
    {
        SignalDuring signal(std::chrono::milliseconds(50));
        EXPECT_EQ(port.read(buffer, 10), 0);  // 200 ms of a silent line
    }
    EXPECT_GT(SignalDuring::delivered, 0);
    ASSERT_FALSE(port.lost());
    server.send("ok");
    EXPECT_EQ(readAll(port, 2), "ok");
}

// What a server sends before the port is open is kept up to a limit, the
// newest; a pause after bytes ends a read, not its whole time-out.
TEST(NetworkPort, EarlyDataIsBoundedAndAPauseEndsARead) {
    FakeServer server(Manner::Agreeable);
    std::string early(200000, 'e');
    early.replace(early.size() - 4, 4, "tail");
    server.send(early);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 921600));
    std::string got;
    char chunk[4096];
    for (std::int32_t n; (n = port.readWaiting(chunk, sizeof chunk)) > 0;) got.append(chunk, static_cast<std::size_t>(n));
    EXPECT_EQ(got.size(), 65536u);
    EXPECT_EQ(got.substr(got.size() - 4), "tail");

    server.send("abc");
    const auto start = Clock::now();
    EXPECT_EQ(port.read(chunk, 300), 3);
    EXPECT_LT(secondsSince(start), 1.5);  // its total time-out: 3.1 s
}

// A server that stops taking bytes holds a write for its time-out only.
TEST(NetworkPort, AWriteToAServerThatTakesNothingEndsInTime) {
    FakeServer server(Manner::Agreeable);
    NetworkPort port;
    ASSERT_TRUE(port.open(server.url().c_str(), 2'000'000'000));  // no line time to speak of
    server.stopReading();
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {  // a write that never ends fails the test, not the run
        for (int i = 0; i < 400 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!done) std::fprintf(stderr, "a write still under way after 20 s\n"), std::_Exit(1);
    });
    const std::string block(100, 'x');
    bool cut = false;
    for (int i = 0; i < 400000 && !cut; ++i) {  // until the socket's buffers are full
        const auto start = Clock::now();
        cut = port.write(block.data(), 100) < 100;
        if (cut) {
            EXPECT_LT(secondsSince(start), 3.0);  // 100 * 10 ms + 250 ms
        }
    }
    done = true;
    watchdog.join();
    EXPECT_TRUE(cut) << "the server took everything";
}

// SIGTERM while a silent server is being negotiated with ends the wait at
// once instead of after the negotiation's three seconds. In a child: the
// quit flag, once set, stays set for the process.
TEST(NetworkPortDeathTest, AQuitSignalEndsTheNegotiationWithASilentServer) {
    FakeServer silent(Manner::Silent);
    const std::string url = silent.url();
    EXPECT_EXIT(
        {
            platform::watchTerminationSignals();
            std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                ::kill(::getpid(), SIGTERM);
            }).detach();
            NetworkPort port;
            const auto start = Clock::now();
            const bool opened = port.open(url.c_str(), 115200);
            std::_Exit(!opened && secondsSince(start) < 1.5 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
