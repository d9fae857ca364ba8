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
using Ms = duration<double, std::milli>;

constexpr auto ByteTime = microseconds(87);  // 8N1 at 115200 baud
const double LineMs = Ms(ByteTime * (BlockSize + 1)).count();

// One block and its checksum from a target whose adapter takes pulseCost for
// every pulse. A pacing target sends each byte only once the pulse for the
// byte before is over; the other sends at line rate from the block's request.
class AdapterLine final : public SerialPort {
public:
    AdapterLine(bool pacing, milliseconds pulseCost) : pacing_(pacing), pulseCost_(pulseCost) {
        bytes_.push_back(blockChecksum(bytes_.data()));
    }
    ~AdapterLine() override {  // a pulse still in the driver is waited for
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait_for(hold, seconds(5), [&] { return !inCall_; });
    }
    bool pulseIsLineControl() const override { return true; }
    std::int32_t write(const void* data, std::int32_t count) override {
        std::lock_guard<std::mutex> hold(lock_);
        const std::uint8_t byte = *static_cast<const std::uint8_t*>(data);
        if (count == 1 && byte == BlockStartByte) requested = Clock::now();
        if (count == 1 && byte == AckByte) replyMs = Ms(Clock::now() - requested).count();
        if (count == 1 && byte == AckByte) pulseUnderWayAtReply = inCall_;
        return count;
    }
    std::int32_t read(void* data, std::int32_t) override {
        std::unique_lock<std::mutex> hold(lock_);
        if (served_ == bytes_.size()) return 0;
        // No pulse, no byte: a read time-out, here a generous one, so that a
        // busy machine holding up the pulse thread is no failure.
        if (pacing_ && !changed_.wait_for(hold, seconds(1), [&] { return pulsed_ >= served_; })) {
            return 0;
        }
        if (!pacing_) {
            hold.unlock();
            std::this_thread::sleep_until(requested + ByteTime * (served_ + 1));
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
        ++pulsed_;
        changed_.notify_all();
    }

    std::vector<std::size_t> pulseAfter;  // bytes sent when each pulse began
    Clock::time_point requested;
    double replyMs = 0;  // from the block's request to "Y"
    bool pulseUnderWayAtReply = true;

private:
    const bool pacing_;
    const milliseconds pulseCost_;
    std::vector<std::uint8_t> bytes_ = randomBytes(BlockSize, 21);
    std::size_t served_ = 0;
    std::size_t pulsed_ = 0;
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

TEST(RtsPulses, ATargetThatWaitsForEachPulseGetsOnePerByteInOrderInBothModes) {
    std::vector<std::size_t> onePerByte(BlockSize);
    std::iota(onePerByte.begin(), onePerByte.end(), 1);
    for (const PulseMode mode : {PulseMode::Overlapped, PulseMode::Strict}) {
        AdapterLine line(true, milliseconds(2));
        readBlock(line, mode);
        EXPECT_EQ(line.pulseAfter, onePerByte);
        EXPECT_FALSE(line.pulseUnderWayAtReply);
    }
}

TEST(RtsPulses, ATargetAtLineRateGetsItsReplyWithinTheBlocksLineTime) {
    AdapterLine line(false, milliseconds(2));
    readBlock(line, PulseMode::Overlapped);
    EXPECT_LT(line.replyMs, LineMs + 100);  // strict pulses take over 4 s here
    // Pulses merge, each after a later byte than the one before; the last,
    // after the last byte, is over before the reply.
    EXPECT_LT(line.pulseAfter.size(), std::size_t{BlockSize});
    EXPECT_TRUE(std::adjacent_find(line.pulseAfter.begin(), line.pulseAfter.end(),
                                   std::greater_equal<>()) == line.pulseAfter.end());
    EXPECT_GE(line.pulseAfter.back(), std::size_t{BlockSize});
    EXPECT_FALSE(line.pulseUnderWayAtReply);
    RecordProperty("pulses", static_cast<int>(line.pulseAfter.size()));
    RecordProperty("replyUs", static_cast<int>(line.replyMs * 1000));
}

TEST(RtsPulses, APulseThatHangsInTheDriverHoldsUpNeitherTheReplyNorTheRead) {
    AdapterLine line(false, milliseconds(1500));
    const double readMs = readBlock(line, PulseMode::Overlapped);
    const double bound = Ms(RtsPulses::CallBound).count();
    EXPECT_LT(line.replyMs, LineMs + bound + 100);
    EXPECT_LT(readMs, LineMs + 2 * bound + 100);
}

}  // namespace
