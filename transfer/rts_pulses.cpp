#include "transfer/rts_pulses.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

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
    bool idle = false;  // the pulse thread waits to be asked
    bool inCall = false;
    Clock::time_point callStarted;
    bool stopping = false;
    bool ended = false;
};

RtsPulses::RtsPulses(SerialPort* port, PulseMode mode) : port_(port) {
    if (mode != PulseMode::Overlapped || !port->pulseIsLineControl()) return;
    try {
        auto shared = std::make_shared<Shared>();
        thread_ = std::thread([port, shared] { run(port, shared); });
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
            shared.idle = true;
            shared.asked.wait_for(hold, IdleLook);
            shared.idle = false;
            continue;
        }
        // Every request up to here is followed by this one pulse.
        const std::uint64_t upTo = shared.requested;
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

void RtsPulses::afterRead() {
    if (!shared_) {
        port_->pulseRts();
        return;
    }
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        ++shared_->requested;
        wake = shared_->idle;
    }
    if (wake) shared_->asked.notify_one();
}

void RtsPulses::settle() {
    if (!shared_) return;
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
