// The RTS pulses of a block read on a line whose pulse is a slow driver
// call, as on a USB adapter, with a target that waits for every pulse and
// with one that sends at line rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "serial/serial_port.h"
#include "transfer/block_codec.h"
#include "transfer/data_file_job.h"
#include "tests/transfer/temp_file.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;
using Ms = duration<double, std::milli>;

constexpr auto ByteTime = microseconds(87);  // 8N1 at 115200 baud
const double LineMs = Ms(ByteTime * (BlockSize + 1)).count();

// One block and its checksum from a target whose adapter takes pulseCost for
// every pulse, in bursts of `burst` bytes (a USB adapter hands bytes on a
// packet at a time). A pacing target sends each burst only once a pulse
// begun after the burst before is over; the other sends at line rate from
// the block's request.
class AdapterLine final : public SerialPort {
public:
    AdapterLine(bool pacing, milliseconds pulseCost, std::size_t burst = 1, bool lineControl = true)
        : pacing_(pacing), pulseCost_(pulseCost), burst_(burst), lineControl_(lineControl) {
        bytes_.push_back(blockChecksum(bytes_.data()));
    }
    ~AdapterLine() override {  // a pulse still in the driver is waited for
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait_for(hold, seconds(5), [&] { return !inCall_; });
    }
    bool pulseIsLineControl() const override { return lineControl_; }
    std::int32_t write(const void* data, std::int32_t count) override {
        std::lock_guard<std::mutex> hold(lock_);
        const std::uint8_t byte = *static_cast<const std::uint8_t*>(data);
        if (count == 1 && byte == BlockStartByte) requested = Clock::now();
        if (count == 1 && byte == BlockStartByte) released_ = std::min(burst_, bytes_.size());
        if (count == 1 && byte == AckByte) replyMs = Ms(Clock::now() - requested).count();
        if (count == 1 && byte == AckByte) pulseUnderWayAtReply = inCall_;
        return count;
    }
    std::int32_t readWaiting(void* data, std::int32_t count) override {
        std::lock_guard<std::mutex> hold(lock_);
        return serve(data, count);
    }
    std::int32_t read(void* data, std::int32_t) override {
        std::unique_lock<std::mutex> hold(lock_);
        if (served_ == bytes_.size()) return 0;
        // No pulse, no byte: a read time-out, here a generous one, so that a
        // busy machine holding up the pulse thread is no failure.
        if (pacing_ && !changed_.wait_for(hold, seconds(1), [&] { return released_ > served_; })) return 0;
        if (!pacing_) {
            hold.unlock();
            std::this_thread::sleep_until(sentAt(served_));
            hold.lock();
        }
        return serve(data, 1);
    }
    void pulseRts() override {
        std::size_t after = 0;
        {
            std::lock_guard<std::mutex> hold(lock_);
            after = served_;
            pulseAfter.push_back(after);
            inCall_ = true;
        }
        std::this_thread::sleep_for(pulseCost_);
        std::lock_guard<std::mutex> hold(lock_);
        inCall_ = false;
        if (after == released_) released_ = std::min(released_ + burst_, bytes_.size());
        changed_.notify_all();
    }

    bool pulseUnderWay() {
        std::lock_guard<std::mutex> hold(lock_);
        return inCall_;
    }

    std::vector<std::size_t> pulseAfter;  // bytes sent when each pulse began
    Clock::time_point requested;
    double replyMs = 0;  // from the block's request to "Y"
    bool pulseUnderWayAtReply = true;

private:
    Clock::time_point sentAt(std::size_t index) const { return requested + ByteTime * burst_ * (index / burst_ + 1); }
    // What the target has sent and the reads have not taken, up to count.
    std::int32_t serve(void* data, std::int32_t count) {
        std::size_t sent = released_;
        if (!pacing_) {
            for (sent = served_; sent < bytes_.size() && sentAt(sent) <= Clock::now();) ++sent;
        }
        const std::size_t take = std::min(sent - std::min(sent, served_), std::size_t(count));
        std::copy_n(bytes_.begin() + long(served_), take, static_cast<std::uint8_t*>(data));
        served_ += take;
        return std::int32_t(take);
    }

    const bool pacing_;
    const milliseconds pulseCost_;
    const std::size_t burst_;
    const bool lineControl_;  // false: a pulse only queues a message, as the network's
    std::vector<std::uint8_t> bytes_ = randomBytes(BlockSize, 21);
    std::size_t served_ = 0;
    std::size_t released_ = 0;  // bytes a pacing target has sent
    bool inCall_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
};

// The whole stream of a one-block read exchange; how long it took, in ms.
double readBlock(AdapterLine& line, PulseMode mode) {
    TempFolder folder;
    DataFileJob job;
    job.pulseMode = mode;
    EXPECT_TRUE(job.openForWrite(folder.file("out.bin").c_str()));
    const auto started = Clock::now();
    EXPECT_TRUE(job.streamFromTarget(&line, 0x80010000, BlockSize));
    return Ms(Clock::now() - started).count();
}

// The pulses that began after each of the block's bursts of `burst` bytes.
std::vector<std::size_t> onePerBurst(std::size_t burst) {
    std::vector<std::size_t> after;
    for (std::size_t end = burst; end <= std::size_t{BlockSize}; end += burst) after.push_back(end);
    return after;
}

TEST(RtsPulses, ATargetThatWaitsForEachPulseGetsOnePerByteInOrderInBothModes) {
    for (const PulseMode mode : {PulseMode::Overlapped, PulseMode::Strict}) {
        AdapterLine line(true, milliseconds(2));
        const double readMs = readBlock(line, mode);
        EXPECT_EQ(line.pulseAfter, onePerBurst(1));
        EXPECT_FALSE(line.pulseUnderWayAtReply);
        // A lone byte's pulse is not held back for more bytes to come.
        EXPECT_LT(readMs, BlockSize * Ms(milliseconds(2) + RtsPulses::BatchHold / 2).count());
    }
}

TEST(RtsPulses, ATargetThatWaitsForAPulseAfterEachBurstGetsOneOnceTheBurstIsOver) {
    AdapterLine line(true, milliseconds(2), 64);
    readBlock(line, PulseMode::Overlapped);
    EXPECT_EQ(line.pulseAfter, onePerBurst(64));
}

TEST(RtsPulses, PulsesMadeInPlaceComeOneForEveryByteOfABurst) {
    AdapterLine strict(false, milliseconds(0), 24);
    readBlock(strict, PulseMode::Strict);
    EXPECT_EQ(strict.pulseAfter, onePerBurst(1));  // each before the next byte is read
    // A port whose pulse only queues a message reads the burst first.
    AdapterLine queued(false, milliseconds(0), 24, false);
    readBlock(queued, PulseMode::Overlapped);
    EXPECT_EQ(queued.pulseAfter.size(), std::size_t{BlockSize});
}

TEST(RtsPulses, ATargetAtLineRateGetsItsReplyWithinTheBlocksLineTime) {
    // Bytes one by one, and in bursts as a USB adapter hands them on (the
    // last burst holds the checksum too, which no read of data may take).
    for (const std::size_t burst : {1, 24}) {
        AdapterLine line(false, milliseconds(2), burst);
        readBlock(line, PulseMode::Overlapped);
        EXPECT_LT(line.replyMs, LineMs + 100);  // strict pulses take over 4 s here
        // Pulses merge, each after a later byte than the one before; the last,
        // after the last byte, may run beside the reply but not past the
        // exchange.
        EXPECT_LT(line.pulseAfter.size(), std::size_t{BlockSize});
        EXPECT_TRUE(std::adjacent_find(line.pulseAfter.begin(), line.pulseAfter.end(),
                                       std::greater_equal<>()) == line.pulseAfter.end());
        EXPECT_GE(line.pulseAfter.back(), std::size_t{BlockSize});
        EXPECT_FALSE(line.pulseUnderWay());
        // Bursts 2 ms apart: a pulse every 2 ms, about 90, unless the pulses
        // of a burst wait while more come.
        if (burst > 1) {
            EXPECT_LT(line.pulseAfter.size(), 20u);
        }
        RecordProperty("pulses" + std::to_string(burst), static_cast<int>(line.pulseAfter.size()));
    }
}

TEST(RtsPulses, APulseThatHangsInTheDriverHoldsUpNeitherTheReplyNorTheRead) {
    AdapterLine line(false, milliseconds(1500));
    const double readMs = readBlock(line, PulseMode::Overlapped);
    const double bound = Ms(RtsPulses::CallBound).count();
    EXPECT_LT(line.replyMs, LineMs + bound + 100);
    EXPECT_LT(readMs, LineMs + 2 * bound + 100);
}

}  // namespace
