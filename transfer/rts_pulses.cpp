#include "transfer/rts_pulses.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

#include "platform/background_thread.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

// While nothing is asked of it, the pulse thread still looks again this often.
constexpr auto IdleLook = std::chrono::seconds(1);

}  // namespace

struct RtsPulses::Shared {
    std::mutex lock;
    std::condition_variable asked;     // wakes the pulse thread
    std::condition_variable answered;  // wakes the worker
    // Pulses asked for so far, and the last of them that a finished pulse
    // came after.
    std::uint64_t requested = 0;
    std::uint64_t covered = 0;
    // What the pulse thread waits for when it is not pulsing.
    enum class Waiting { No, Asked, HoldOver } waiting = Waiting::No;
    // The last bytes asked for came several at once, the latest at batchAt:
    // their pulse waits for more to come.
    bool held = false;
    Clock::time_point batchAt;
    bool inCall = false;
    Clock::time_point callStarted;
    bool stopping = false;
    bool ended = false;
};

RtsPulses::RtsPulses(SerialPort* port, PulseMode mode) : port_(port), mode_(mode) {
    if (mode != PulseMode::Overlapped || !port->pulseIsLineControl()) return;
    try {
        auto shared = std::make_shared<Shared>();
        thread_ = platform::startBackgroundThread([port, shared] { run(port, shared); });
        shared_ = std::move(shared);
    } catch (const std::exception&) {
        // No thread (or no memory for one): every pulse is made in place.
    }
}

RtsPulses::~RtsPulses() {
    if (!shared_) return;
    settle();
    Shared& shared = *shared_;
    std::unique_lock<std::mutex> hold(shared.lock);
    shared.stopping = true;
    shared.asked.notify_one();
    shared.answered.wait_for(hold, CallBound, [&] { return shared.ended; });
    const bool ended = shared.ended;
    hold.unlock();
    // A thread still inside a call that hangs ends by itself once the call
    // returns, and makes no other.
    if (ended) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void RtsPulses::run(SerialPort* port, const std::shared_ptr<Shared>& state) {
    Shared& shared = *state;
    std::unique_lock<std::mutex> hold(shared.lock);
    while (!shared.stopping) {
        if (shared.requested == shared.covered) {
            shared.waiting = Shared::Waiting::Asked;
            shared.asked.wait_for(hold, IdleLook);
            shared.waiting = Shared::Waiting::No;
            continue;
        }
        if (shared.held && Clock::now() < shared.batchAt + BatchHold) {
            shared.waiting = Shared::Waiting::HoldOver;
            shared.asked.wait_until(hold, shared.batchAt + BatchHold);
            shared.waiting = Shared::Waiting::No;
            continue;
        }
        // Every request up to here is followed by this one pulse.
        const std::uint64_t upTo = shared.requested;
        shared.held = false;
        shared.inCall = true;
        shared.callStarted = Clock::now();
        hold.unlock();
        port->pulseRts();
        hold.lock();
        shared.inCall = false;
        shared.covered = upTo;
        shared.answered.notify_all();
    }
    shared.ended = true;
    shared.answered.notify_all();
}

void RtsPulses::afterRead(std::int32_t bytes) {
    const std::int32_t pulses = bytes > 1 ? bytes : 1;
    if (!shared_) {
        for (std::int32_t i = 0; i < pulses; ++i) port_->pulseRts();
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->requested += static_cast<std::uint64_t>(pulses);
        shared_->held = pulses > 1;
        // A thread holding over batches finds the later batch when it looks.
        if (shared_->held) shared_->batchAt = Clock::now();
        wake = shared_->waiting == Shared::Waiting::Asked ||
               (!shared_->held && shared_->waiting == Shared::Waiting::HoldOver);
    }
    if (wake) shared_->asked.notify_one();
}

void RtsPulses::release() {
    if (!shared_) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->held = false;
        wake = shared_->waiting == Shared::Waiting::HoldOver;
    }
    if (wake) shared_->asked.notify_one();
}

void RtsPulses::settle() {
    if (!shared_) return;
    release();
    Shared& shared = *shared_;
    std::unique_lock<std::mutex> hold(shared.lock);
    const Clock::time_point since = Clock::now();
    while (shared.requested != shared.covered) {
        // Each call gets the bound from its own start; one that has had it
        // already is not waited for again.
        const Clock::time_point deadline = (shared.inCall ? shared.callStarted : since) + CallBound;
        if (Clock::now() >= deadline) return;
        shared.answered.wait_until(hold, deadline);
    }
}
