#include "tests/support/e2e_console.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

#ifndef TOLVANIS_CONSOLE_BINARY
#error "TOLVANIS_CONSOLE_BINARY must name the console binary"
#endif

namespace e2e {

namespace {

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    // Rounded up, so that a wait never ends just before its deadline.
    return left <= 0 ? 0 : static_cast<int>(left) + 1;
}

// The child's environment: ours, with its own settings folder and a terminal
// type every console knows.
std::vector<std::string> childEnvironment(const std::string& configHome) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view variable(*entry);
        if (variable.starts_with("XDG_CONFIG_HOME=") || variable.starts_with("TERM=")) continue;
        variables.emplace_back(variable);
    }
    variables.push_back("XDG_CONFIG_HOME=" + configHome);
    variables.push_back("TERM=xterm");
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Written to the terminal after the console has gone: once the reader has
// seen it, everything the console printed before is on the screen.
constexpr std::string_view drainMarker = "\x1b[e2e-drained]";

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// In the forked child, as a job-control shell: the console goes on in a
// process group of its own, made the terminal's foreground, while this
// process waits for it and then ends the way it ended. Only async-signal-safe
// calls here.
void leadJob(int terminal, int tellPid) {
    const pid_t job = ::fork();
    if (job < 0) ::_exit(127);
    if (job == 0) {
        ::setpgid(0, 0);
        // Asked from the background until it is done: SIGTTOU held meanwhile.
        sigset_t ttou;
        sigemptyset(&ttou);
        sigaddset(&ttou, SIGTTOU);
        ::sigprocmask(SIG_BLOCK, &ttou, nullptr);
        ::tcsetpgrp(terminal, ::getpid());
        return;
    }
    ::setpgid(job, job);
    ::tcsetpgrp(terminal, job);
    if (::write(tellPid, &job, sizeof job) != ssize_t(sizeof job)) ::_exit(127);
    int status = 0;
    while (::waitpid(job, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status)) {
        ::signal(WTERMSIG(status), SIG_DFL);
        sigset_t all;
        sigfillset(&all);
        ::sigprocmask(SIG_UNBLOCK, &all, nullptr);
        ::kill(::getpid(), WTERMSIG(status));
        ::_exit(128 + WTERMSIG(status));
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

// The forked child: a session of its own with the pty as its controlling
// terminal, as a shell in a terminal window would start it; then the console.
[[noreturn]] void runChild(int terminal, int tellJobPid, int closed, bool ignoreHangups, char** argv,
                           char** envp) {
    ::setsid();
    ::ioctl(terminal, TIOCSCTTY, 0);
    if (tellJobPid >= 0) leadJob(terminal, tellJobPid);
    ::dup2(terminal, STDIN_FILENO);
    ::dup2(terminal, STDOUT_FILENO);
    ::dup2(terminal, STDERR_FILENO);
    if (::close_range(3, ~0U, 0) != 0) {
        for (int fd = 3; fd < 4096; ++fd) ::close(fd);
    }
    if (closed >= 0) ::close(closed);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) ::signal(number, SIG_DFL);
    if (ignoreHangups) ::signal(SIGHUP, SIG_IGN);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

const char* consoleBinary() { return TOLVANIS_CONSOLE_BINARY; }

ConsoleProcess::ConsoleProcess() = default;

ConsoleProcess::~ConsoleProcess() {
    killAndReap();
    stopReader();
    closeFd(master_);
    closeFd(slave_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

bool ConsoleProcess::start(const std::vector<std::string>& arguments) {
    if (pid_ >= 0) return false;
    if (configHome_.empty()) {
        ownConfig_ = std::make_unique<TempFolder>();
        configHome_ = ownConfig_->path();
        if (configHome_.empty()) return false;
    }
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    if (::openpty(&master_, &slave_, nullptr, nullptr, &size) != 0) return false;
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    if (::tcgetattr(slave_, &before_) != 0) return false;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];

    // Everything the child needs is made before fork: a test process has
    // threads (the simulated target's among them), so between fork and exec
    // the child may only make async-signal-safe calls.
    std::vector<std::string> argumentTexts{consoleBinary()};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = childEnvironment(configHome_);
    std::vector<char*> argv = pointersTo(argumentTexts);
    std::vector<char*> envp = pointersTo(environmentTexts);
    const int terminal = slave_;

    int jobPid[2] = {-1, -1};
    if (asJob_ && ::pipe2(jobPid, O_CLOEXEC) != 0) return false;
    const int closed = closedAtStart_;
    const bool asJob = asJob_;
    const bool ignoreHangups = ignoreHangups_;

    const pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) runChild(terminal, asJob ? jobPid[1] : -1, closed, ignoreHangups, argv.data(),
                                 envp.data());
    pid_ = child;
    consolePid_ = child;
    if (asJob) {
        ::close(jobPid[1]);
        pid_t job = -1;
        const bool told = ::read(jobPid[0], &job, sizeof job) == ssize_t(sizeof job);
        ::close(jobPid[0]);
        if (!told) return false;
        consolePid_ = job;
    }
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    // The slave stays open here too: its settings can then be read after the
    // console has gone, and the screen never reports a hang-up.
    reader_ = std::thread([this] { readScreen(); });
    return true;
}

void ConsoleProcess::readScreen() {
    char bytes[65536];
    for (;;) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if (fds[0].revents & POLLNVAL) return;
        const ssize_t count = ::read(master_, bytes, sizeof bytes);
        if (count > 0) {
            {
                std::lock_guard lock(mutex_);
                screen_.append(bytes, static_cast<std::size_t>(count));
                if (draining_ && screen_.ends_with(drainMarker)) {
                    screen_.resize(screen_.size() - drainMarker.size());
                    draining_ = false;
                    drained_ = true;
                }
            }
            changed_.notify_all();
            continue;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return;
    }
}

void ConsoleProcess::stopReader() {
    if (!reader_.joinable()) return;
    const char byte = 1;
    if (::write(wakeWrite_, &byte, 1) < 0) {
        // The pipe is non-blocking and empty here; a failure leaves nothing to do.
    }
    reader_.join();
}

bool ConsoleProcess::sendKeys(std::string_view bytes) {
    if (master_ < 0) return false;
    const auto deadline = Clock::now() + milliseconds(2000);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return false;
        // The console is not reading its keyboard: wait for room, not for ever.
        pollfd out{master_, POLLOUT, 0};
        const int left = millisecondsLeft(deadline);
        if (left == 0 || ::poll(&out, 1, left) < 0) return false;
    }
    return true;
}

bool ConsoleProcess::sendEscape() {
    if (!sendKeys("\x1b")) return false;
    // Nothing follows within the console's wait for the rest of a sequence:
    // only time tells a lone ESC from the start of a function key.
    std::this_thread::sleep_for(milliseconds(120));
    return true;
}

std::string ConsoleProcess::screen() const {
    std::lock_guard lock(mutex_);
    return screen_;
}

std::size_t ConsoleProcess::mark() const {
    std::lock_guard lock(mutex_);
    return screen_.size();
}

void ConsoleProcess::waitForQuiet(milliseconds timeout) const {
    const auto until = Clock::now() + timeout;
    for (std::size_t seen = mark(); Clock::now() < until;) {
        std::this_thread::sleep_for(milliseconds(50));
        const std::size_t now = mark();
        if (now == seen) return;
        seen = now;
    }
}

std::string ConsoleProcess::screenSince(std::size_t from) const {
    std::lock_guard lock(mutex_);
    return from >= screen_.size() ? std::string() : screen_.substr(from);
}

std::optional<std::size_t> ConsoleProcess::findOnScreen(std::string_view text, milliseconds timeout,
                                                        std::size_t from) const {
    std::unique_lock lock(mutex_);
    std::size_t found = std::string::npos;
    // Only what came since the last look is searched again, so that a long
    // stream of output is not scanned over and over.
    std::size_t searchFrom = from;
    changed_.wait_for(lock, timeout, [&] {
        found = screen_.find(text, searchFrom);
        if (found == std::string::npos && screen_.size() >= text.size()) {
            searchFrom = std::max(searchFrom, screen_.size() - text.size() + 1);
        }
        return found != std::string::npos;
    });
    if (found == std::string::npos) return std::nullopt;
    return found;
}

bool ConsoleProcess::waitForScreen(std::string_view text, milliseconds timeout,
                                   std::size_t from) const {
    return findOnScreen(text, timeout, from).has_value();
}

bool ConsoleProcess::reap(int options) {
    if (reaped_) return true;
    if (pid_ < 0) return false;
    int status = 0;
    pid_t done;
    do {
        done = ::wait4(pid_, &status, options, &usage_);
    } while (done < 0 && errno == EINTR);
    if (done != pid_) return false;
    reaped_ = true;
    signalled_ = WIFSIGNALED(status);
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    closeFd(pidFd_);
    return true;
}

std::optional<int> ConsoleProcess::waitForExit(milliseconds timeout) {
    if (pid_ < 0) return std::nullopt;
    const auto deadline = Clock::now() + timeout;
    while (!reap(WNOHANG)) {
        const int left = millisecondsLeft(deadline);
        if (left == 0) return std::nullopt;
        if (pidFd_ >= 0) {
            // Readable once the process has ended.
            pollfd process{pidFd_, POLLIN, 0};
            ::poll(&process, 1, left);
        } else {
            std::this_thread::sleep_for(milliseconds(std::min(left, 2)));
        }
    }
    drainScreen(deadline);
    return exitCode_;
}

void ConsoleProcess::drainScreen(Clock::time_point deadline) {
    {
        std::lock_guard lock(mutex_);
        if (drained_ || draining_) return;
        draining_ = true;
    }
    // Output of the ended process may still be on its way through the pty.
    if (::write(slave_, drainMarker.data(), drainMarker.size()) != ssize_t(drainMarker.size())) return;
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, std::max(deadline, Clock::now() + milliseconds(1000)),
                        [&] { return drained_; });
}

bool ConsoleProcess::running() { return pid_ >= 0 && !reap(WNOHANG); }

void ConsoleProcess::sendSignal(int signal) const {
    if (consolePid_ >= 0 && !reaped_) ::kill(consolePid_, signal);
}

void ConsoleProcess::hangUp() {
    stopReader();
    closeFd(master_);
}

void ConsoleProcess::killAndReap() {
    if (pid_ < 0 || reaped_) return;
    if (consolePid_ != pid_) ::kill(consolePid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    reap(0);
}

termios ConsoleProcess::terminalNow() const {
    termios now{};
    if (slave_ >= 0) ::tcgetattr(slave_, &now);
    return now;
}

bool ConsoleProcess::setTerminal(const termios& mode) const {
    return slave_ >= 0 && ::tcsetattr(slave_, TCSANOW, &mode) == 0;
}

bool ConsoleProcess::terminalRestored() const {
    return slave_ >= 0 && sameSettings(terminalNow(), before_);
}

bool ConsoleProcess::terminalRaw() const {
    const termios now = terminalNow();
    return slave_ >= 0 && (now.c_lflag & (ECHO | ICANON | ISIG)) == 0;
}

}  // namespace e2e
