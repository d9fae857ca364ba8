#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/e2e_temp_folder.h"

namespace e2e {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The console binary under test.
const char* consoleBinary();

// The console program run under a pseudo-terminal that is its keyboard and
// screen. Everything it prints is gathered by a reader thread. The process is
// killed and reaped when the object goes, so no test leaves one behind.
class ConsoleProcess {
public:
    ConsoleProcess();
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    // XDG_CONFIG_HOME of the child. A fresh folder of its own unless set
    // before start (then it is the caller's and is left in place).
    void setConfigHome(const std::string& path) { configHome_ = path; }
    const std::string& configHome() const { return configHome_; }
    std::string settingsPath() const { return configHome_ + "/kembri/settings"; }

    // Set before start. A standard descriptor (0, 1 or 2) the console starts
    // without, as a shell's "1>&-" would start it.
    void closeAtStart(int fd) { closedAtStart_ = fd; }
    // The console in a process group of its own, in the foreground of its
    // terminal, below a session leader that waits for it as a job-control
    // shell does: stop signals then stop it. The exit status is the
    // console's all the same.
    void runAsJob() { asJob_ = true; }
    // Set before start: the console starts with SIGHUP ignored, as under nohup.
    void ignoreHangups() { ignoreHangups_ = true; }

    // Runs the console with these arguments; false when it could not be run.
    bool start(const std::vector<std::string>& arguments);
    pid_t pid() const { return consolePid_; }

    // Bytes typed on the keyboard, in one write.
    bool sendKeys(std::string_view bytes);
    // The ESC key alone: an ESC and then a pause longer than a sequence may take.
    bool sendEscape();

    // The screen is everything the console printed, as the terminal got it
    // (output processing is on: each "\n" arrives as "\r\n").
    std::string screen() const;
    std::size_t mark() const;
    std::string screenSince(std::size_t from) const;
    // Waits until text stands on the screen at or after from.
    bool waitForScreen(std::string_view text, milliseconds timeout, std::size_t from = 0) const;
    // Where text stands at or after from, once it does.
    std::optional<std::size_t> findOnScreen(std::string_view text, milliseconds timeout,
                                            std::size_t from = 0) const;
    // Waits until nothing new has reached the screen for 50 ms (at most
    // timeout). The console prints the target's bytes as they come, so a
    // prompt answering an earlier carriage return may still be on its way
    // when the first one shows; a chord typed into it would be overridden.
    void waitForQuiet(milliseconds timeout) const;

    // The exit code once the process has ended (128 + the signal when a
    // signal ended it), or nothing when it still runs at the deadline.
    std::optional<int> waitForExit(milliseconds timeout);
    bool running();
    bool endedBySignal() const { return reaped_ && signalled_; }
    void sendSignal(int signal) const;
    // The terminal goes away (its window closed): the master side is closed,
    // and the screen is what it was.
    void hangUp();
    // Resources used by the whole run, known after exit.
    const rusage& usage() const { return usage_; }

    // The terminal's settings before the console ran, and now.
    const termios& terminalBefore() const { return before_; }
    termios terminalNow() const;
    // Sets the terminal's settings from outside, as a shell does on fg.
    bool setTerminal(const termios& mode) const;
    // Back as the console found it.
    bool terminalRestored() const;
    // No echo, no line editing, no signal keys: as the console wants it.
    bool terminalRaw() const;

private:
    void readScreen();
    void stopReader();
    void killAndReap();
    bool reap(int options);
    void drainScreen(Clock::time_point deadline);

    std::unique_ptr<TempFolder> ownConfig_;
    std::string configHome_;
    int master_ = -1;
    int slave_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    pid_t pid_ = -1;  // the child this process waits for
    pid_t consolePid_ = -1;
    int closedAtStart_ = -1;
    bool asJob_ = false;
    bool ignoreHangups_ = false;
    int pidFd_ = -1;
    bool reaped_ = false;
    bool signalled_ = false;
    int exitCode_ = 0;
    rusage usage_{};
    termios before_{};

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string screen_;
    bool draining_ = false;
    bool drained_ = false;
    std::thread reader_;
};

}  // namespace e2e
