#include "serial/timed_write_posix.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/serial/signal_during.h"
#include "tests/support/pty_line.h"
#include "tests/support/stopwatch.h"

namespace {

using ms = std::chrono::milliseconds;

// A driver queue that took `bytes` when it was made and sends them at
// `rate` baud (ten bit times a byte), as a real UART's does.
class DrainingQueue final : public serial::OutputQueue {
public:
    DrainingQueue(std::int32_t bytes, std::int32_t rate) : bytes_(bytes), rate_(rate) {}
    std::int32_t queued() override {
        if (discarded) return 0;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start_).count();
        const auto sent = static_cast<std::int64_t>(us) * rate_ / 10'000'000;
        return static_cast<std::int32_t>(std::max<std::int64_t>(0, bytes_ - sent));
    }
    void discard() override { discarded = true; }
    bool discarded = false;

private:
    std::int32_t bytes_;
    std::int32_t rate_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

class TimedWriteOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(line.path.empty());
        ASSERT_EQ(fcntl(line.slave, F_SETFL, O_NONBLOCK), 0);
    }
    PtyLine line;
};

TEST_F(TimedWriteOnPty, ReturnsOnlyOnceTheQueueHasDrained) {
    // 1000 bytes at 115200 baud: 86.8 ms on the line.
    const std::string block(1000, 'w');
    const serial::WriteTimeouts timeouts{ms(10), ms(250)};
    DrainingQueue queue(1000, 115200);
    const Stopwatch watch;
    EXPECT_EQ(serial::timedWrite(line.slave, block.data(), 1000, timeouts, queue, 115200), 1000);
    EXPECT_GE(watch.wallMs(), 86);
    EXPECT_LE(watch.wallMs(), 150);
    EXPECT_FALSE(queue.discarded);
    EXPECT_LT(watch.cpuUs(), 40000);  // looked at, not spun on
    EXPECT_EQ(line.readCount(1000), block);
}

TEST_F(TimedWriteOnPty, AtItsDeadlineDropsTheRestAndCountsWhatLeft) {
    // 10 bytes at 100 baud leave one every 100 ms; the deadline is 350 ms.
    const serial::WriteTimeouts timeouts{ms(10), ms(250)};
    DrainingQueue queue(10, 100);
    const Stopwatch watch;
    const std::int32_t left = serial::timedWrite(line.slave, "0123456789", 10, timeouts, queue, 100);
    EXPECT_GE(watch.wallMs(), 349);
    EXPECT_LE(watch.wallMs(), 450);
    EXPECT_GE(left, 3);
    EXPECT_LE(left, 4);
    EXPECT_TRUE(queue.discarded);
}

TEST_F(TimedWriteOnPty, ASignalDoesNotEndTheWaitForTheDrain) {
    const serial::WriteTimeouts timeouts{ms(10), ms(250)};
    DrainingQueue queue(100, 9600);  // 104 ms on the line
    const int before = SignalDuring::delivered;
    std::int32_t sent = 0;
    const Stopwatch watch;
    {
        const SignalDuring during(ms(30));
        sent = serial::timedWrite(line.slave, std::string(100, 's').data(), 100, timeouts, queue, 9600);
    }
    EXPECT_EQ(SignalDuring::delivered - before, 1);
    EXPECT_EQ(sent, 100);
    EXPECT_GE(watch.wallMs(), 104);
    EXPECT_EQ(line.readCount(100), std::string(100, 's'));
}

TEST_F(TimedWriteOnPty, ASignalDoesNotEndTheWaitForRoomInTheDriver) {
    // The far end reads nothing, as a target holding CTS low: the buffers fill.
    const std::string filler(4096, 'f');
    for (int round = 0; round < 100; ++round) {
        while (::write(line.slave, filler.data(), filler.size()) > 0) {
        }
        pollfd output{line.slave, POLLOUT, 0};
        if (poll(&output, 1, 100) == 0) break;
    }
    const serial::WriteTimeouts timeouts{ms(10), ms(250)};  // 350 ms for 10 bytes
    DrainingQueue nothingQueued(0, 115200);
    const int before = SignalDuring::delivered;
    const Stopwatch watch;
    {
        const SignalDuring during(ms(60));
        EXPECT_LT(serial::timedWrite(line.slave, "0123456789", 10, timeouts, nothingQueued, 115200), 10);
    }
    EXPECT_EQ(SignalDuring::delivered - before, 1);
    EXPECT_GE(watch.wallMs(), 349);
}

}  // namespace
