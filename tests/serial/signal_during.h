#pragma once

#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <thread>

// Sends SIGUSR1 to the constructing thread after a delay, with a handler
// installed without SA_RESTART as the console installs its own: a system
// call under way then fails with EINTR instead of going on by itself.
class SignalDuring {
public:
    explicit SignalDuring(std::chrono::milliseconds after) : target_(pthread_self()) {
        struct sigaction action {};
        action.sa_handler = [](int) { delivered = delivered + 1; };
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(SIGUSR1, &action, &previous_);
        sender_ = std::thread([this, after] {
            std::this_thread::sleep_for(after);
            pthread_kill(target_, SIGUSR1);
        });
    }
    ~SignalDuring() {
        sender_.join();
        sigaction(SIGUSR1, &previous_, nullptr);
    }
    SignalDuring(const SignalDuring&) = delete;
    SignalDuring& operator=(const SignalDuring&) = delete;

    static inline volatile sig_atomic_t delivered = 0;

private:
    pthread_t target_;
    struct sigaction previous_ {};
    std::thread sender_;
};
