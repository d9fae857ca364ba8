#pragma once

#include <thread>
#include <utility>

namespace platform {

// While one lives, the calling thread holds back the signals that come from
// outside (stop and continue, the end of the session, a resized window), and
// a thread started meanwhile inherits that. What the main thread's handlers
// do (a stop counted, raw mode set again, the termination flag) thus runs
// before its own code does, never late on a helper thread.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    unsigned char saved_[128];
};

// A worker, watchdog or line-control thread: outside signals go to the main
// thread only.
template <typename Body>
std::thread startBackgroundThread(Body&& body) {
    const SignalsHeld held;
    return std::thread(std::forward<Body>(body));
}

}  // namespace platform
