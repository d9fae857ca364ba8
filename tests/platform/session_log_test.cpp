#include "platform/session_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/fakes.h"

namespace {

// A log that stops mid-line warns on a line of its own, once: the writes
// after it bring no warning of their own.
TEST(SessionLog, TheWarningOfALogThatStoppedStandsOnALineOfItsOwn) {
    platform::LogFile log;
    std::string error;
    ASSERT_TRUE(log.open("/dev/full", error)) << error;
    fakes::RecordingScreen shown;
    LoggingScreen logging(shown, log, false);
    logging.write("\n>> ", 4);
    logging.write("dw\n", 3);
    logging.write("ok\n", 3);
    EXPECT_TRUE(logging.stopped());
    EXPECT_EQ(shown.text, "\n>> \ncannot write the log (No space left on device), logging stopped\ndw\nok\n");
}

TEST(SessionLog, KeepsTheBytesTheScreenDoesNotShowInTheirPlace) {
    char folder[] = "/tmp/tolvanis-log.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/session.log";
    platform::LogFile log;
    std::string error;
    ASSERT_TRUE(log.open(path, error)) << error;
    fakes::RecordingScreen shown;
    LoggingScreen logging(shown, log, false);
    logging.write("before", 6);
    logging.keepUnshown("\0after", 6);
    logging.write("\n", 1);
    log.close();

    EXPECT_EQ(shown.text, "before\n");
    std::ifstream file(path, std::ios::binary);
    const std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, std::string("before\0after\n", 13));
    ::unlink(path.c_str());
    ::rmdir(folder);
}

// A FIFO is refused saying so; with standard error closed at the start,
// the log does not take its number and with it the program's messages.
TEST(SessionLog, OpensNoFifoAndNeverAsStandardError) {
    char folder[] = "/tmp/tolvanis-log.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string fifo = std::string(folder) + "/fifo";
    const std::string path = std::string(folder) + "/session.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    platform::LogFile log;
    std::string error;
    EXPECT_FALSE(log.open(fifo, error));
    EXPECT_EQ(error, "not a file to log to (a FIFO or socket)");

    const int savedError = ::dup(STDERR_FILENO);
    ::close(STDERR_FILENO);
    const bool opened = log.open(path, error);
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    EXPECT_TRUE(opened) << error;
    EXPECT_GT(log.handle(), STDERR_FILENO);
    log.close();
    ::unlink(fifo.c_str());
    ::unlink(path.c_str());
    ::rmdir(folder);
}

// A stamp is the calendar's date and hour (a month counted from 0 still
// looks like a date).
TEST(SessionLog, ATimeStampIsTheLocalTime) {
    const auto hour = [](std::time_t at) {
        char text[32];
        std::tm local{};
        ::localtime_r(&at, &local);
        std::strftime(text, sizeof text, "%Y-%m-%d %H:", &local);
        return std::string(text);
    };
    const std::time_t before = std::time(nullptr);
    const std::string stamp = platform::localTimestamp();
    const std::string shown = stamp.substr(0, 14);
    EXPECT_TRUE(shown == hour(before) || shown == hour(std::time(nullptr))) << stamp;
    EXPECT_EQ(stamp.size(), 24u) << stamp;
}

}  // namespace
