#pragma once

#include <chrono>
#include <thread>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The simulated target: a resident monitor at the far end of a pseudo-
// terminal. The console opens slavePath() as its serial port; tests look at
// the monitor's registers, memory and a transcript of every byte both ways.
namespace sim {

// Faults to show how the host copes with a poor line or a poor monitor.
struct Faults {
    // Write direction: answer "N" to the first k blocks received.
    int nakFirstBlocks = 0;
    // Read direction: spoil the checksum of the first k blocks sent.
    int badChecksumFirstBlocks = 0;
    // Stop sending anything once this many bytes have been sent (-1: never).
    long silentAfterSentBytes = -1;
    // Stop answering once this many bytes have been received (-1: never).
    long silentAfterReceivedBytes = -1;
    // Surround "binary\r" (and "end binary\r") with other bytes.
    bool noiseAroundAcknowledgements = false;
    // Echo a different byte than the one received in command mode.
    bool wrongEcho = false;
    // Never print the prompt after "end binary\r".
    bool noPromptAfterExchange = false;
};

struct Options {
    // 0: as fast as the pseudo-terminal goes. Otherwise both directions are
    // paced to baud / 10 bytes per second, as on an 8N1 line.
    std::int32_t baud = 0;
    Faults faults;
    // A symlink to the slave's path, made when not empty.
    std::string linkPath;
};

enum class Direction : std::uint8_t { ToTarget, FromTarget };

struct TranscriptEntry {
    Direction direction;
    std::uint8_t byte;
    std::chrono::steady_clock::time_point at;
};

// On a paced line the byte that starts a burst toward the target is taken
// (and stamped in the transcript) only when it has had its time on the line;
// this is when it was first seen there, so that the host's own turnaround can
// be told from the line's. `index` is the byte's place in the transcript.
struct BurstStart {
    std::size_t index;
    std::chrono::steady_clock::time_point seen;
};

class Monitor;

class SimTarget {
public:
    explicit SimTarget(Options options = {});
    // Stops the thread and closes both ends.
    ~SimTarget();
    SimTarget(const SimTarget&) = delete;
    SimTarget& operator=(const SimTarget&) = delete;

    // Opens the pseudo-terminal and starts serving on a thread of its own.
    bool start();
    void stop();
    const std::string& slavePath() const;

    // The device vanishing: the master side is closed, the slave goes dead.
    void closeMaster();

    // Everything below may be called while the target runs.
    std::uint32_t reg(const std::string& name) const;
    void setReg(const std::string& name, std::uint32_t value);
    std::vector<std::uint8_t> readMemory(std::uint32_t address, std::uint32_t length) const;
    void writeMemory(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    std::vector<TranscriptEntry> transcript() const;
    // Paced lines only; cleared with the transcript.
    std::vector<BurstStart> burstStarts() const;
    // Bytes of one direction, in order.
    std::vector<std::uint8_t> bytes(Direction direction) const;
    void clearTranscript();
    // Number of binary exchanges that ended with "end binary\r", and that
    // were abandoned (abort byte or time-out).
    int exchangesCompleted() const;
    int exchangesAborted() const;
    // Sends text from the target as if the monitor had printed it.
    void say(const std::string& text);
    // Waits until pred() is true or the time is up; true when it held.
    template <typename Pred>
    bool waitUntil(Pred pred, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

template <typename Pred>
bool SimTarget::waitUntil(Pred pred, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace sim
