// The first open of the port: a server that turns the console away while it
// is busy is asked again for a while; any other failure is told at once.
#include "console/start_open.h"

#include <gtest/gtest.h>

#include "console/console.h"
#include "tests/support/fakes.h"
#include "tests/support/stopwatch.h"

namespace {

TEST(StartOpen, OnlyABusyServerIsAskedAgainAndOnlyForAWhile) {
    fakes::RecordingPort port;
    fakes::ScriptedKeys typed;
    TypedAheadKeyboard keyboard(typed);
    // A server that would let the console in after some four seconds.
    port.opensWhen = [](int opens) { return opens > 40; };
    port.failWith = OpenFailure::Refused;
    EXPECT_EQ(openAtStart(port, "tcp://host:1", 115200, keyboard), StartOpen::Failed);
    EXPECT_EQ(port.opens, 1);

    port.opens = 0;
    port.failWith = OpenFailure::ClosedByServer;
    const Stopwatch busy;
    EXPECT_EQ(openAtStart(port, "tcp://host:1", 115200, keyboard), StartOpen::Failed);
    EXPECT_GE(busy.wallMs(), BusyRetryMs);
    EXPECT_LT(busy.wallMs(), BusyRetryMs + 1500);
    EXPECT_GT(port.opens, 2);

    // F10 F2 meanwhile quits at once; a key typed before it is kept.
    port.opens = 0;
    typed.type({'x', keys::PrefixZero, keys::F10, keys::PrefixZero, keys::F2});
    typed.ready = [&] { return port.opens > 1; };
    const Stopwatch quit;
    EXPECT_EQ(openAtStart(port, "tcp://host:1", 115200, keyboard), StartOpen::Quit);
    EXPECT_LT(quit.wallMs(), 1000);
    EXPECT_EQ(keyboard.readKey(), 'x');
}

}  // namespace
