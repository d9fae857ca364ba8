// The end of a run: the script over, failed, out of time or judged by the
// target's output; the end of a session's keys.
#include "console/session_watch.h"

#include <chrono>
#include <cstdlib>

#include "console/console.h"
#include "console/host_commands.h"
#include "console/output_verdicts.h"
#include "platform/background_thread.h"
#include "platform/keyboard.h"
#include "platform/screen.h"
#include "platform/terminal.h"
#include "serial/serial_port.h"

SessionWatch::SessionWatch(const Options& options, SerialPort& port, Keyboard& keyboard,
                           Screen& screen)
    : options_(options), port_(port), keyboard_(keyboard), screen_(screen) {
    if (options_.batch && options_.timeoutMs > 0) {
        watchdog_ = platform::startBackgroundThread([this] { watchdog(); });
    }
}

SessionWatch::~SessionWatch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
}

bool SessionWatch::runOver(Console& console) {
    if (!options_.batch) {
        // Keys from a pipe or a file: once the last has gone out (and no
        // script of the session still runs), the session is over.
        if (console.commands().scriptRunning() || !keyboard_.inputEnded()) return false;
        status_ = BatchStatus::Finished;
    } else if (console.commands().scriptFailed()) {
        status_ = BatchStatus::CommandFailed;
    } else if (console.commands().scriptRunning()) {
        return false;
    } else if (options_.verdicts != nullptr && !options_.verdicts->allExpectedSeen()) {
        // The script is over, but not every expected line has come yet.
        return false;
    } else {
        status_ = BatchStatus::Finished;
    }
    ended_.store(true);
    return true;
}

void SessionWatch::endSession(BatchStatus status, const std::string& message) {
    {
        std::lock_guard lock(mutex_);
        if (endAsked_ || platform::terminationRequested()) return;
        endAsked_ = true;
        askedStatus_ = status;
        askedMessage_ = message;
    }
    platform::requestTermination();
}

void SessionWatch::conclude(Console& console) {
    const auto asked = [this](std::string* message) {
        std::lock_guard lock(mutex_);
        if (endAsked_) status_ = askedStatus_;
        if (message != nullptr) *message = askedMessage_;
        return endAsked_;
    };
    if (asked(nullptr)) ended_.store(true);
    if (!ended_.load()) return;
    // A failing line ends the run at once; any other end shows the rest, and
    // a failing line in the rest still fails the run.
    if (status_ != BatchStatus::FailedOn) drainOutput(console);
    std::string message;
    asked(&message);
    if (!message.empty()) console.printOnFreshLine(message.c_str());
}

void SessionWatch::drainOutput(Console& console) {
    // Nothing of the script may run from here on, whatever prompt comes.
    console.commands().stopScripts();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(DrainMs);
    // The console loop's chunk size: a silent line ends the wait as soon.
    char chunk[10];
    while (!port_.lost() && std::chrono::steady_clock::now() < until) {
        const std::int32_t count = port_.read(chunk, sizeof chunk);
        if (count <= 0) return;
        console.takeChunk(chunk, count);
    }
}

std::string SessionWatch::timeoutMessage() const {
    std::string text = "timed out after " + std::to_string(options_.timeoutMs / 1000) + " s\n";
    if (options_.verdicts != nullptr) text += options_.verdicts->unseenText();
    return text;
}

// The time-out ends the run whatever the main thread is doing: a transfer,
// a shell command, a sleep or a pause ends on the request, and the loop sees
// it within one pass. Should the main thread still be held after the grace
// time, the process ends here, with the same status.
void SessionWatch::watchdog() {
    std::unique_lock lock(mutex_);
    const auto stopped = [this] { return stopping_; };
    if (wake_.wait_for(lock, std::chrono::milliseconds(options_.timeoutMs), stopped)) return;
    lock.unlock();
    endSession(BatchStatus::TimedOut, timeoutMessage());
    lock.lock();
    if (wake_.wait_for(lock, std::chrono::milliseconds(TimeoutGraceMs), stopped)) return;
    if (ended_.load()) return;
    const std::string message = "\n" + timeoutMessage();
    screen_.write(message.data(), message.size());
    std::_Exit(static_cast<int>(BatchStatus::TimedOut));
}
