// NetworkPort when things go wrong during a session: a lost connection,
// a signal, a server that babbles before the open or stops taking bytes.
#include <signal.h>

#include "serial/network_port.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/terminal.h"
#include "tests/serial/fake_network_server.h"
#include "tests/serial/signal_during.h"

namespace {

using namespace fake_network;
using namespace std::string_literals;

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
    EXPECT_FALSE(port.lost()) << "a slow server is no lost one";
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
