#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class Console;
class Keyboard;
class OutputVerdicts;
class Screen;
class SerialPort;

// Exit statuses of a batch run.
enum class BatchStatus : int {
    Finished = 0,      // the script reached its end or ran "local quit"
    CannotStart = 1,   // the port or the log could not be opened
    CommandFailed = 2, // a command of the script failed
    TimedOut = 3,      // --timeout passed first
    PortLost = 4,      // the port went away (and --reconnect was not given)
    FailedOn = 5,      // a line of the target's output matched --fail-on
};

// What a run needs beyond the console loop: waiting for a port that went
// away, ending a session whose keys have ended, and in batch mode, ending
// the run when the script is over, when it failed, when its time is up or
// when the target's output gave the verdict.
class SessionWatch {
public:
    struct Options {
        std::string portName;
        std::int32_t baudRate = 0;
        bool batch = false;
        bool reconnect = false;
        std::int64_t timeoutMs = 0;  // 0: no limit
        // The patterns of --expect and --fail-on; null: none.
        OutputVerdicts* verdicts = nullptr;
    };

    // The screen is for the watchdog's last word only; the rest is printed
    // through the console.
    SessionWatch(const Options& options, SerialPort& port, Keyboard& keyboard, Screen& screen);
    // Stops the time-out's watchdog.
    ~SessionWatch();
    SessionWatch(const SessionWatch&) = delete;
    SessionWatch& operator=(const SessionWatch&) = delete;

    // The port reported itself lost: says so, closes it and waits for the
    // same name to open again, at most every ReopenIntervalMs. True when it
    // is back; false when the run is to end (F10 F2, a batch run without
    // --reconnect, the time-out, a termination signal).
    bool portLost(Console& console);
    // After each pass of the loop: true when a batch run is over, or the
    // keys of a session from a pipe or a file have ended and gone out.
    bool runOver(Console& console);
    // Ends the session from inside, from any thread: whatever runs (a
    // transfer, a shell command, a sleep, a pause) ends as at a termination
    // signal, and the run ends with this status, the message shown on a line
    // of its own. The first end asked for stands; after a signal none does.
    void endSession(BatchStatus status, const std::string& message);
    // Once the console loop has returned: shows how the run ended, and what
    // the target still sends where the run ended as it should.
    void conclude(Console& console);
    // Prints what the target still sends (the answer to the script's last
    // line may be on its way) until the line is silent for one read, for at
    // most DrainMs.
    void drainOutput(Console& console);
    static constexpr int DrainMs = 1000;

    // What a run ends with, once the watch ended it (decided()); a run ended
    // by the user or a signal is not the watch's to tell.
    BatchStatus status() const { return status_; }
    bool decided() const { return ended_.load(); }

    static constexpr int ReopenIntervalMs = 200;
    // How long a run whose time is up may take to notice it in its loop
    // before the watchdog ends the process (a shell command or a sleep of
    // the script may hold the main thread).
    static constexpr int TimeoutGraceMs = 2000;

private:
    void watchdog();
    std::string timeoutMessage() const;

    Options options_;
    SerialPort& port_;
    Keyboard& keyboard_;
    Screen& screen_;
    BatchStatus status_ = BatchStatus::Finished;

    std::atomic<bool> ended_{false};
    std::mutex mutex_;
    // An end asked for with endSession, and what it shows.
    bool endAsked_ = false;
    BatchStatus askedStatus_ = BatchStatus::Finished;
    std::string askedMessage_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread watchdog_;
};
