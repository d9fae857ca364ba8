#include "serial/timed_read_posix.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/serial/signal_during.h"
#include "tests/support/pty_line.h"
#include "tests/support/stopwatch.h"

namespace {

using ms = std::chrono::milliseconds;

// A non-blocking pipe, read as the serial port reads its device. The time-outs
// here are wider than the port's so that a busy machine cannot blur them.
class TimedReadOnPipe : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        readEnd = fds[0];
        writeEnd = fds[1];
    }
    void TearDown() override {
        ::close(readEnd);
        closeWriter();
    }
    void closeWriter() {
        if (writeEnd >= 0) {
            ::close(writeEnd);
            writeEnd = -1;
        }
    }
    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(writeEnd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int readEnd = -1;
    int writeEnd = -1;
};

TEST_F(TimedReadOnPipe, TotalTimeOutIsNotRenewedByBytes) {
    const serial::ReadTimeouts timeouts{ms(100), ms(1), ms(200)};  // 100 bytes: 300 ms in all
    std::thread sender([this] {
        for (int i = 0; i < 30; ++i) {
            send("t");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    char buffer[100];
    const Stopwatch watch;
    const std::int32_t got = serial::timedRead(readEnd, buffer, 100, timeouts);
    const long long wall = watch.wallMs();
    sender.join();
    EXPECT_GE(wall, 280);
    EXPECT_LE(wall, 500);
    EXPECT_GE(got, 5);
    EXPECT_LT(got, 30);
}

TEST_F(TimedReadOnPipe, AGapAfterTheFirstByteEndsTheRead) {
    const serial::ReadTimeouts timeouts{ms(60), ms(10), ms(1000)};
    std::thread sender([this] {
        send("ab");
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        send("cd");
    });
    char buffer[10];
    const Stopwatch watch;
    const std::int32_t got = serial::timedRead(readEnd, buffer, 10, timeouts);
    const long long wall = watch.wallMs();
    sender.join();
    EXPECT_EQ(got, 2);
    EXPECT_GE(wall, 55);
    EXPECT_LT(wall, 300);
    // The rest waits for the next read.
    EXPECT_EQ(serial::timedRead(readEnd, buffer, 10, timeouts), 2);
    EXPECT_EQ(std::string(buffer, 2), "cd");
}

TEST_F(TimedReadOnPipe, TheIntervalDoesNotRunBeforeTheFirstByte) {
    const serial::ReadTimeouts timeouts{ms(20), ms(0), ms(600)};
    std::thread sender([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        send("late");
    });
    char buffer[10];
    const std::int32_t got = serial::timedRead(readEnd, buffer, 10, timeouts);
    sender.join();
    EXPECT_EQ(got, 4);
}

TEST_F(TimedReadOnPipe, EndOfInputIsWaitedOutNotSpunOn) {
    send("xy");
    closeWriter();
    const serial::ReadTimeouts timeouts{ms(50), ms(10), ms(200)};
    char buffer[10];
    Stopwatch watch;
    // What came before the end is delivered after the interval.
    EXPECT_EQ(serial::timedRead(readEnd, buffer, 10, timeouts), 2);
    EXPECT_LT(watch.wallMs(), 200);
    watch = Stopwatch();
    EXPECT_EQ(serial::timedRead(readEnd, buffer, 10, timeouts), 0);
    EXPECT_GE(watch.wallMs(), 280);
    EXPECT_LE(watch.wallMs(), 500);
    EXPECT_LT(watch.cpuUs(), 20000);
}

}  // namespace

namespace {

TEST_F(TimedReadOnPipe, ASignalNeitherEndsTheReadNorLosesLaterBytes) {
    const serial::ReadTimeouts timeouts{ms(100), ms(10), ms(400)};
    const int before = SignalDuring::delivered;
    std::thread sender([this] {
        std::this_thread::sleep_for(ms(120));
        send("ab");
        std::this_thread::sleep_for(ms(40));  // a second signal lands between the bytes
        send("cd");
    });
    char buffer[10];
    std::int32_t got = 0;
    {
        const SignalDuring first(ms(40));
        const SignalDuring second(ms(140));
        got = serial::timedRead(readEnd, buffer, 10, timeouts);
    }
    sender.join();
    EXPECT_EQ(SignalDuring::delivered - before, 2);
    ASSERT_EQ(got, 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
}

}  // namespace
