#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

// The one clock the console times its waits with, and a point on it that a
// wait must not pass. Milliseconds are std::chrono::milliseconds throughout.
namespace platform {

using MonotonicClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Deadline {
public:
    static Deadline after(MonotonicClock::duration span) {
        return Deadline(MonotonicClock::now() + span);
    }
    // The earlier of two deadlines.
    static Deadline earliest(Deadline a, Deadline b) { return a.at_ < b.at_ ? a : b; }

    bool passed() const { return MonotonicClock::now() >= at_; }
    MonotonicClock::duration left() const {
        return std::max(at_ - MonotonicClock::now(), MonotonicClock::duration::zero());
    }
    // What is left in whole milliseconds, rounded up so that a wait on it
    // does not wake just short of the deadline and spin; for poll().
    int leftMs() const {
        const auto ms = std::chrono::ceil<milliseconds>(left()).count();
        return static_cast<int>(std::min<long long>(ms, INT_MAX));
    }
    MonotonicClock::time_point at() const { return at_; }

private:
    explicit Deadline(MonotonicClock::time_point at) : at_(at) {}
    MonotonicClock::time_point at_;
};

}  // namespace platform
