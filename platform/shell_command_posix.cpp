#include "platform/shell_command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/terminal.h"

extern "C" char** environ;

namespace platform {

namespace {

constexpr auto LookInterval = std::chrono::milliseconds(20);
// What a command that was told to end may take before it is killed.
constexpr auto EndGrace = std::chrono::milliseconds(1000);

// Hands the terminal's foreground to a process group, as a shell does for a
// job; asked from the background SIGTTOU would stop us, so it is held.
void giveTerminalTo(pid_t group) {
    sigset_t ttou;
    sigset_t before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &before);
    tcsetpgrp(STDIN_FILENO, group);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// /bin/sh -c COMMAND in a process group of its own, in the terminal's
// foreground when we hold it, with the signals a shell would start it with.
pid_t startShell(const char* command, bool foreground) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (foreground) posix_spawn_file_actions_addtcsetpgrp_np(&actions, STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char* argv[] = {shell, option, const_cast<char*>(command), nullptr};
    pid_t child = -1;
    if (posix_spawn(&child, shell, &actions, &attributes, argv, environ) != 0) child = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return child;
}

// Ctrl+Z stopped the command: the whole job stops with it, and on fg the
// command gets the terminal back and goes on.
void stopWith(pid_t child) {
    giveTerminalTo(getpgrp());
    raise(SIGTSTP);
    giveTerminalTo(child);
    killpg(child, SIGCONT);
}

// SIGTERM to the group, then SIGKILL to what is left of it after the grace.
// The shell often ends at once, while what it started is still cleaning up:
// the grace lasts until the whole group has gone.
int endGroup(pid_t child) {
    killpg(child, SIGTERM);
    killpg(child, SIGCONT);
    const auto killAt = std::chrono::steady_clock::now() + EndGrace;
    int status = 0;
    bool reaped = false;
    while (std::chrono::steady_clock::now() < killAt) {
        if (!reaped) {
            const pid_t done = waitpid(child, &status, WNOHANG);
            reaped = done == child || (done < 0 && errno != EINTR);
        }
        // A group outlives its first process while any other is left in it.
        if (reaped && killpg(child, 0) != 0) break;
        std::this_thread::sleep_for(LookInterval);
    }
    killpg(child, SIGKILL);
    while (!reaped && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

}  // namespace

int runShellCommand(const char* command, const std::function<void()>& whileWaiting) {
    const bool foreground = isatty(STDIN_FILENO) == 1 && tcgetpgrp(STDIN_FILENO) == getpgrp();
    const pid_t child = startShell(command, foreground);
    if (child < 0) return -1;
    int result = -1;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG | WUNTRACED);
        if (done == child && WIFSTOPPED(status)) {
            if (foreground) stopWith(child);
            continue;
        }
        if (done == child || (done < 0 && errno != EINTR)) {
            result = done == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (terminationRequested()) {
            result = endGroup(child);
            break;
        }
        if (whileWaiting) whileWaiting();
        std::this_thread::sleep_for(LookInterval);
    }
    if (foreground) giveTerminalTo(getpgrp());
    return result;
}

}  // namespace platform
