#include "sim/transcript_log.h"

namespace sim {

void TranscriptLog::record(Direction direction, const std::uint8_t* bytes, std::size_t count,
                           std::chrono::steady_clock::time_point at) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < count; ++i) {
        if (chunks_.empty() || chunks_.back()->size() == chunkSize) {
            chunks_.push_back(std::make_unique<Chunk>());
            chunks_.back()->reserve(chunkSize);
        }
        chunks_.back()->push_back(TranscriptEntry{direction, bytes[i], at});
    }
    size_ += count;
}

template <typename Visit>
void TranscriptLog::forEach(Visit visit) const {
    for (const auto& chunk : chunks_) {
        for (const auto& entry : *chunk) visit(entry);
    }
}

std::vector<TranscriptEntry> TranscriptLog::entries() const {
    std::lock_guard lock(mutex_);
    std::vector<TranscriptEntry> out;
    out.reserve(size_);
    forEach([&](const TranscriptEntry& entry) { out.push_back(entry); });
    return out;
}

std::vector<std::uint8_t> TranscriptLog::bytes(Direction direction) const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> out;
    forEach([&](const TranscriptEntry& entry) {
        if (entry.direction == direction) out.push_back(entry.byte);
    });
    return out;
}

void TranscriptLog::noteBurstStart(std::chrono::steady_clock::time_point seen) {
    std::lock_guard lock(mutex_);
    // A wake-up that found nothing to read after all left a note for the
    // same byte: the later sighting stands.
    if (!burstStarts_.empty() && burstStarts_.back().index == size_) burstStarts_.pop_back();
    burstStarts_.push_back(BurstStart{size_, seen});
}

std::vector<BurstStart> TranscriptLog::burstStarts() const {
    std::lock_guard lock(mutex_);
    return burstStarts_;
}

void TranscriptLog::clear() {
    std::lock_guard lock(mutex_);
    chunks_.clear();
    size_ = 0;
    burstStarts_.clear();
}

}  // namespace sim
