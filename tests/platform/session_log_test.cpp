#include "platform/session_log.h"

#include <gtest/gtest.h>

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

}  // namespace
