#include "platform/session_log.h"

LoggingScreen::LoggingScreen(Screen& shown, platform::LogFile& log, bool timestamps)
    : shown_(shown), log_(log), timestamps_(timestamps) {}

void LoggingScreen::write(const char* bytes, std::size_t count) {
    shown_.write(bytes, count);
    if (count > 0) shownLineEnded_ = bytes[count - 1] == '\n';
    append(bytes, count);
}

void LoggingScreen::keepUnshown(const char* bytes, std::size_t count) { append(bytes, count); }

void LoggingScreen::append(const char* bytes, std::size_t count) {
    if (!logging_ || count == 0) return;

    std::string logged;
    if (!timestamps_) {
        logged.assign(bytes, count);
    } else {
        // One stamp per write at most: the bytes of one write are shown at
        // one moment.
        const std::string stamp = platform::localTimestamp();
        logged.reserve(count + stamp.size());
        for (std::size_t i = 0; i < count; ++i) {
            if (atLineStart_) logged += stamp;
            logged += bytes[i];
            atLineStart_ = bytes[i] == '\n';
        }
    }
    std::string error;
    if (!log_.append(logged.data(), logged.size(), error)) {
        logging_ = false;
        log_.close();
        const std::string warning = std::string(shownLineEnded_ ? "" : "\n") + "cannot write the log (" +
                                    error + "), logging stopped\n";
        shownLineEnded_ = true;
        shown_.write(warning.data(), warning.size());
    }
}
