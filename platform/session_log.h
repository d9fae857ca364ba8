#pragma once

#include <cstdint>
#include <string>

#include "platform/screen.h"

namespace platform {

// The file a session log goes to: opened for appending, written straight
// through (no buffer), so that `tail -f` follows it as the screen does.
class LogFile {
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens or creates path for appending. Refuses what is no file to keep
    // a log in: a folder, a FIFO or socket (a write could wait for ever), a
    // terminal (the serial port among them). On failure error says why.
    bool open(const std::string& path, std::string& error);
    // All bytes or false; error then says why.
    bool append(const char* bytes, std::size_t count, std::string& error);
    void close();
    // Whether path names the open log itself (through any link or name).
    bool isFile(const std::string& path) const;
    // The open file, for platform::keepFromHostFiles; -1 when closed.
    std::intptr_t handle() const { return handle_; }

private:
    std::intptr_t handle_ = -1;
};

// "2026-12-09 00:12:34.567 ": the local time to the millisecond, as each
// line of a time-stamped log begins.
std::string localTimestamp();

}  // namespace platform

// Shows text on a screen and appends the same bytes to a session log. The
// screen always comes first: a log that fails warns once and is dropped, and
// the session goes on as before.
class LoggingScreen final : public Screen {
public:
    LoggingScreen(Screen& shown, platform::LogFile& log, bool timestamps);
    void write(const char* bytes, std::size_t count) override;
    // Logging stopped on a failed write.
    bool stopped() const { return !logging_; }
    // Logged, not shown.
    void keepUnshown(const char* bytes, std::size_t count) override;

private:
    void append(const char* bytes, std::size_t count);

    Screen& shown_;
    platform::LogFile& log_;
    bool timestamps_;
    bool logging_ = true;
    // The next byte logged begins a line (and so takes a time stamp).
    bool atLineStart_ = true;
    // The last byte shown ended a line: a warning then needs no line end first.
    bool shownLineEnded_ = true;
};
