#include "sim/line_pacer.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::uint64_t bitsPerByte = 10;
constexpr std::uint64_t nanosPerSecond = 1'000'000'000;
constexpr std::uint64_t rebaseAfter = 1 << 16;

}  // namespace

void LinePacer::begin(Clock::time_point now) {
    if (!idle_) return;
    idle_ = false;
    start_ = now;
    count_ = 0;
}

std::size_t LinePacer::allowance(Clock::time_point now) const {
    if (idle_ || now <= start_) return 0;
    const auto elapsed = std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now - start_).count());
    // Whole bytes finished since the burst began. moved() rebases the burst
    // often enough that the product stays far below 2^64.
    const std::uint64_t finished = elapsed * std::uint64_t(baud_) / (bitsPerByte * nanosPerSecond);
    return finished > count_ ? std::size_t(finished - count_) : 0;
}

void LinePacer::moved(std::size_t count) {
    count_ += count;
    if (count_ >= rebaseAfter) {
        start_ = dueTime(count_ - 1);
        count_ = 0;
    }
}

LinePacer::Clock::time_point LinePacer::nextWake(Clock::time_point lastMove, std::size_t waiting) const {
    const Clock::time_point first = nextDue();
    if (waiting <= 1) return first;
    return std::max(first, std::min(lastMove + batchQuantum, dueAfter(waiting)));
}

LinePacer::Clock::time_point LinePacer::dueTime(std::uint64_t index) const {
    // Ceiling, so that a wake-up at the due time finds the byte finished.
    const std::uint64_t bits = (index + 1) * bitsPerByte * nanosPerSecond;
    const std::uint64_t nanos = (bits + std::uint64_t(baud_) - 1) / std::uint64_t(baud_);
    return start_ + std::chrono::nanoseconds(nanos);
}

}  // namespace sim
