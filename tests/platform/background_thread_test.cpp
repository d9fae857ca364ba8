#include "platform/background_thread.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

bool held(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

// A stop counted or the session's end flagged on a helper thread could come
// after the main thread has gone on; and a starter left holding SIGTERM
// back would never end.
TEST(BackgroundThread, OutsideSignalsGoToTheThreadThatStartedIt) {
    bool continueHeld = false;
    bool endHeld = false;
    std::thread worker = platform::startBackgroundThread([&] {
        continueHeld = held(SIGCONT);
        endHeld = held(SIGTERM);
    });
    worker.join();
    EXPECT_TRUE(continueHeld);
    EXPECT_TRUE(endHeld);
    EXPECT_FALSE(held(SIGCONT));
    EXPECT_FALSE(held(SIGTERM));
}

}  // namespace
