// The RTS pulses of a block read on a line whose pulse is a slow driver
// call, as on a USB adapter, with a target that waits for every pulse and
// with one that sends at line rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>

#include "serial/serial_port.h"
#include "transfer/block_codec.h"
#include "transfer/data_file_job.h"
#include "tests/transfer/temp_file.h"

namespace {

using namespace std::chrono;
using Clock = steady_clock;

// 8N1 at 115200 baud.
constexpr auto ByteTime = microseconds(87);

// One block and its checksum from a target whose adapter takes pulseCost for
// every pulse. A pacing target sends each byte only once the pulse for the
// byte before is over; the other sends at line rate from the block's request.
class AdapterLine final : public SerialPort {
public:
    AdapterLine(bool pacing, milliseconds pulseCost, std::vector<std::uint8_t> data)
        : pacing_(pacing), pulseCost_(pulseCost), bytes_(std::move(data)) {
        bytes_.push_back(blockChecksum(bytes_.data()));
    }
    // A pulse still in the driver when the test ends is waited for.
    ~AdapterLine() override {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait_for(hold, seconds(5), [&] { return !inCall_; });
    }
    bool pulseIsLineControl() const override { return true; }
    std::int32_t write(const void* data, std::int32_t count) override {
        std::lock_guard<std::mutex> hold(lock_);
        const std::uint8_t byte = *static_cast<const std::uint8_t*>(data);
        if (count == 1 && byte == BlockStartByte) requested = Clock::now();
        if (count == 1 && byte == AckByte) {
            acknowledged = Clock::now();
            pulseUnderWayAtReply = inCall_;
        }
        return count;
    }
    std::int32_t read(void* data, std::int32_t) override {
        std::unique_lock<std::mutex> hold(lock_);
        if (served_ == bytes_.size()) return 0;
        if (pacing_ && !changed_.wait_for(hold, milliseconds(110), [&] { return finished_ >= served_; })) {
            return 0;  // no pulse, no byte: a read time-out
        }
        if (!pacing_) {
            const auto due = requested + ByteTime * (served_ + 1);
            hold.unlock();
            std::this_thread::sleep_until(due);
            hold.lock();
        }
        *static_cast<std::uint8_t*>(data) = bytes_[served_++];
        return 1;
    }
    void pulseRts() override {
        {
            std::lock_guard<std::mutex> hold(lock_);
            pulseAfter.push_back(served_);
            inCall_ = true;
        }
        std::this_thread::sleep_for(pulseCost_);
        std::lock_guard<std::mutex> hold(lock_);
        inCall_ = false;
        ++finished_;
        changed_.notify_all();
    }

    // For each pulse, how many bytes the target had sent when it began.
    std::vector<std::size_t> pulseAfter;
    Clock::time_point requested;
    Clock::time_point acknowledged;
    bool pulseUnderWayAtReply = true;

private:
    const bool pacing_;
    const milliseconds pulseCost_;
    std::vector<std::uint8_t> bytes_;
    std::size_t served_ = 0;
    std::size_t finished_ = 0;
    bool inCall_ = false;
    std::mutex lock_;
    std::condition_variable changed_;
};

struct BlockRead {
    bool received = false;
    bool saved = false;
    double replyMs = 0;  // from the block's request to "Y"
    double readMs = 0;   // the whole read exchange's stream
};

BlockRead readBlock(AdapterLine& line, const std::vector<std::uint8_t>& data, PulseMode mode) {
    TempFolder folder;
    DataFileJob job;
    job.pulseMode = mode;
    EXPECT_TRUE(job.openForWrite(folder.file("out.bin").c_str()));
    BlockRead read;
    const auto started = Clock::now();
    read.received = job.streamFromTarget(&line, 0x80010000, BlockSize);
    read.readMs = duration<double, std::milli>(Clock::now() - started).count();
    job.close();
    read.saved = TempFolder::read(folder.file("out.bin")) == data;
    read.replyMs = duration<double, std::milli>(line.acknowledged - line.requested).count();
    return read;
}

TEST(RtsPulses, ATargetThatWaitsForEachPulseGetsOnePerByteInOrderInBothModes) {
    const auto data = randomBytes(BlockSize, 21);
    std::vector<std::size_t> onePerByte(BlockSize);
    std::iota(onePerByte.begin(), onePerByte.end(), 1);
    for (const PulseMode mode : {PulseMode::Overlapped, PulseMode::Strict}) {
        AdapterLine line(true, milliseconds(2), data);
        const BlockRead read = readBlock(line, data, mode);
        EXPECT_TRUE(read.received && read.saved);
        EXPECT_EQ(line.pulseAfter, onePerByte);
        EXPECT_FALSE(line.pulseUnderWayAtReply);
    }
}

TEST(RtsPulses, ATargetAtLineRateGetsItsReplyWithinTheBlocksLineTime) {
    const auto data = randomBytes(BlockSize, 22);
    AdapterLine line(false, milliseconds(2), data);
    const BlockRead read = readBlock(line, data, PulseMode::Overlapped);
    EXPECT_TRUE(read.received && read.saved);
    const double lineMs = duration<double, std::milli>(ByteTime * (BlockSize + 1)).count();
    EXPECT_LT(read.replyMs, lineMs + 100);  // strict pulses take over 4 s here
    // Pulses merge, each after a later byte, and the last after the last
    // byte is over before the reply.
    EXPECT_LT(line.pulseAfter.size(), std::size_t{BlockSize});
    EXPECT_TRUE(std::adjacent_find(line.pulseAfter.begin(), line.pulseAfter.end(),
                                   std::greater_equal<>()) == line.pulseAfter.end());
    EXPECT_GE(line.pulseAfter.back(), std::size_t{BlockSize});
    EXPECT_FALSE(line.pulseUnderWayAtReply);
    RecordProperty("pulses", static_cast<int>(line.pulseAfter.size()));
    RecordProperty("replyUs", static_cast<int>(read.replyMs * 1000));
}

TEST(RtsPulses, APulseThatHangsInTheDriverHoldsUpNeitherTheReplyNorTheRead) {
    const auto data = randomBytes(BlockSize, 23);
    AdapterLine line(false, milliseconds(1500), data);
    const BlockRead read = readBlock(line, data, PulseMode::Overlapped);
    EXPECT_TRUE(read.received && read.saved);
    const double lineMs = duration<double, std::milli>(ByteTime * (BlockSize + 1)).count();
    const double bound = duration<double, std::milli>(RtsPulses::CallBound).count();
    EXPECT_LT(read.replyMs, lineMs + bound + 100);
    EXPECT_LT(read.readMs, lineMs + 2 * bound + 100);
}

}  // namespace
