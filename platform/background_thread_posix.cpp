#include "platform/background_thread.h"

#include <signal.h>

#include <cstring>

namespace platform {

static_assert(sizeof(sigset_t) <= 128, "the saved signal mask must fit");

SignalsHeld::SignalsHeld() {
    sigset_t outside;
    sigemptyset(&outside);
    for (const int signal : {SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGWINCH, SIGTERM, SIGINT, SIGHUP,
                             SIGQUIT, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
        sigaddset(&outside, signal);
    }
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &outside, &saved);
    std::memcpy(saved_, &saved, sizeof saved);
}

SignalsHeld::~SignalsHeld() {
    sigset_t saved;
    std::memcpy(&saved, saved_, sizeof saved);
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace platform
