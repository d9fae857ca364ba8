// NetworkPort against the fake server: the bytes both ways, the line's
// time, servers that cannot serve and an open that is given up.
#include "serial/network_port.h"

#include <gtest/gtest.h>

#include "tests/serial/fake_network_server.h"

namespace {

using namespace fake_network;
using namespace std::string_literals;

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

}  // namespace
