// A terminal that goes away ends the session, whatever its hang-up signal
// does: the transfer under way is cancelled as ESC would, and the console
// lets go of the port.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;

TEST(KeyboardEnd, ATerminalThatHangsUpEndsTheSessionEvenWithSighupIgnored) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    ASSERT_TRUE(writeFile(path, std::string(60 * 2048, 'x')));
    sim::Options options;
    options.baud = 230400;
    ConsoleOnTarget session(options);
    session.console().ignoreHangups();
    ASSERT_TRUE(session.start(230400));
    ConsoleProcess& console = session.console();

    console.waitForQuiet(eventTimeout);
    ASSERT_TRUE(console.sendKeys(std::string(keys::F9) + std::string(keys::F4)));
    ASSERT_TRUE(console.waitForScreen("DLOAD <file> <addr>:", eventTimeout));
    const std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys(path + " 80010000\r"));
    ASSERT_TRUE(console.waitForScreen("**", eventTimeout, mark));
    const std::size_t sent = session.receivedCount();
    console.hangUp();
    EXPECT_TRUE(session.waitForTarget("\xff", eventTimeout, sent));
    EXPECT_EQ(session.target().exchangesAborted(), 1);
    EXPECT_EQ(console.waitForExit(milliseconds(5000)), 0);
}

}  // namespace
