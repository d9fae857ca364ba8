#include "platform/session_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/fakes.h"

namespace {

// A log that stops mid-line warns on a line of its own, once.
TEST(SessionLog, TheWarningOfALogThatStoppedStandsOnALineOfItsOwn) {
    platform::LogFile log;
    std::string error;
    ASSERT_TRUE(log.open("/dev/full", error)) << error;
    fakes::RecordingScreen shown;
    LoggingScreen logging(shown, log, false);
    logging.write(">> ", 3);
    logging.write("dw\n", 3);
    EXPECT_TRUE(logging.stopped());
    EXPECT_EQ(shown.text, ">> \ncannot write the log (No space left on device), logging stopped\ndw\n");
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

}  // namespace
