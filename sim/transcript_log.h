#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/sim_target.h"

namespace sim {

// Every byte that crossed the line, in order, safe to read while the line
// runs. Entries live in fixed chunks so that a long transfer never copies
// what it has already recorded.
class TranscriptLog {
public:
    void record(Direction direction, const std::uint8_t* bytes, std::size_t count,
                std::chrono::steady_clock::time_point at);
    std::vector<TranscriptEntry> entries() const;
    std::vector<std::uint8_t> bytes(Direction direction) const;
    // The line was seen to hold the first byte of a burst toward the target
    // at `seen`; that byte is the next one recorded.
    void noteBurstStart(std::chrono::steady_clock::time_point seen);
    std::vector<BurstStart> burstStarts() const;
    void clear();

private:
    static constexpr std::size_t chunkSize = 1 << 14;
    using Chunk = std::vector<TranscriptEntry>;

    template <typename Visit>
    void forEach(Visit visit) const;

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::size_t size_ = 0;
    std::vector<BurstStart> burstStarts_;
};

}  // namespace sim
