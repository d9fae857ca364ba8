// The end of a batch run: the script over, failed or out of time.
#include "console/session_watch.h"

#include <chrono>
#include <cstdlib>

#include "console/console.h"
#include "console/host_commands.h"
#include "platform/screen.h"
#include "serial/serial_port.h"

SessionWatch::SessionWatch(const Options& options, SerialPort& port, Keyboard& keyboard,
                           Screen& screen)
    : options_(options), port_(port), keyboard_(keyboard), screen_(screen) {
    if (options_.batch && options_.timeoutMs > 0) {
        watchdog_ = std::thread([this] { watchdog(); });
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
    if (!options_.batch) return false;
    if (console.commands().scriptFailed()) {
        status_ = BatchStatus::CommandFailed;
    } else if (timedOut()) {
        endTimedOut(console);
    } else if (console.commands().scriptRunning()) {
        return false;
    } else {
        status_ = BatchStatus::Finished;
    }
    ended_.store(true);
    return true;
}

void SessionWatch::drainOutput(Console& console) {
    if (!options_.batch) return;
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
    return "timed out after " + std::to_string(options_.timeoutMs / 1000) + " s\n";
}

void SessionWatch::endTimedOut(Console& console) {
    console.print(timeoutMessage().c_str());
    status_ = BatchStatus::TimedOut;
    ended_.store(true);
}

// The time-out must end the run whatever the main thread is doing. Where it
// only loops, it sees expired_ within one pass and ends in order; where it is
// held (a shell command of the script that never returns, a long sleep), the
// process ends here after the grace time, with the same status.
void SessionWatch::watchdog() {
    std::unique_lock lock(mutex_);
    const auto stopped = [this] { return stopping_; };
    if (wake_.wait_for(lock, std::chrono::milliseconds(options_.timeoutMs), stopped)) return;
    expired_.store(true);
    if (wake_.wait_for(lock, std::chrono::milliseconds(TimeoutGraceMs), stopped)) return;
    if (ended_.load()) return;
    const std::string message = timeoutMessage();
    screen_.write(message.data(), message.size());
    std::_Exit(static_cast<int>(BatchStatus::TimedOut));
}
