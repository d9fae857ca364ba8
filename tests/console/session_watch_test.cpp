// How a run ends once its loop is over: what the target still sends, and the
// verdict of a line among it.
#include "console/session_watch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "console/output_verdicts.h"
#include "console/watched_port.h"
#include "tests/support/console_rig.h"

namespace {

struct WatchRig : ConsoleRig {
    explicit WatchRig(SerialPort& port) : watch({"port", 115200, true}, port, keys, screen) {}
    SessionWatch watch;
};

TEST(SessionWatch, TheRestIsShownWithTheScriptStoppedUntilTheLineIsSilent) {
    fakes::RecordingPort line;
    WatchRig rig(line);
    rig.console.port = &line;
    line.chunks = {"80000000: 0\r\n", ">> "};
    int stopsAtFirstRead = -1;
    line.beforeRead = [&](int read) {
        if (read == 1) stopsAtFirstRead = rig.commands.stops;
    };
    rig.watch.drainOutput(rig.console);
    EXPECT_EQ(stopsAtFirstRead, 1) << "a prompt in the rest runs nothing";
    EXPECT_EQ(line.emptyReads, 1) << "the first silent read ends it";
    EXPECT_EQ(rig.screen.text, "80000000: 0\r\n>> ");
}

// Ending a run asks the whole process to end, for good: each case in a
// process of its own, the status its exit code.
int concludeAfter(bool failedFirst) {
    OutputVerdicts verdicts;
    std::string error;
    if (!verdicts.setPatterns({}, {"FAIL"}, error)) return 100;
    auto owned = std::make_unique<fakes::RecordingPort>();
    fakes::RecordingPort& line = *owned;
    WatchedPort port(std::move(owned), verdicts);
    WatchRig rig(port);
    rig.console.port = &port;
    verdicts.onFailure = [&](const std::string& text) { rig.watch.endSession(BatchStatus::FailedOn, text); };
    line.chunks = {"RESULT: FAIL\r\n", "more\r\n"};
    if (failedFirst) {
        verdicts.take("FAIL\n", 5);
    } else if (!rig.watch.runOver(rig.console) || rig.watch.status() != BatchStatus::Finished) {
        return 101;
    }
    rig.watch.conclude(rig.console);
    const std::string shownEnd = "RESULT: FAIL\r\nmore\r\n--fail-on \"FAIL\" matched the line: RESULT: FAIL\n";
    const bool shown = rig.screen.text.find(shownEnd) != std::string::npos;
    if (failedFirst) return line.reads == 0 ? static_cast<int>(rig.watch.status()) : 102;
    return shown ? static_cast<int>(rig.watch.status()) : 103;
}

TEST(SessionWatchDeathTest, AFailingLineEndsTheRunAtOnceAndOutranksAGoodEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(concludeAfter(true)), testing::ExitedWithCode(5), "") << "nothing more read";
    EXPECT_EXIT(std::_Exit(concludeAfter(false)), testing::ExitedWithCode(5), "") << "the rest judged";
}

}  // namespace
