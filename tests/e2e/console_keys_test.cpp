// Keys typed at a real terminal: what reaches the target, what the console
// keeps for itself, and how it ends.
#include <algorithm>
#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;

std::string chord(std::string_view head, std::string_view second) {
    return std::string(head) + std::string(second);
}

TEST(ConsoleKeys, TypedLineReachesMonitorAndItsAnswerIsShown) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    session.target().setReg("epc", 0x80012345);
    const std::size_t mark = session.console().mark();

    ASSERT_TRUE(session.console().sendKeys("dr\r"));
    EXPECT_TRUE(session.waitForTarget("dr\r", eventTimeout)) << session.receivedByTarget();
    EXPECT_TRUE(session.console().waitForScreen("epc=80012345", eventTimeout, mark))
        << session.console().screenSince(mark);
    ASSERT_TRUE(session.waitForPrompt(mark));

    // Ctrl-C is a byte for the target, not a signal for the console.
    const std::size_t sent = session.receivedCount();
    ASSERT_TRUE(session.console().sendKeys("\x03"));
    EXPECT_TRUE(session.waitForTarget("\x03", eventTimeout, sent));
    EXPECT_TRUE(session.console().running());
}

TEST(ConsoleKeys, KeysWithoutACommandAtThePromptSendNothingButEscapeAndTextDo) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    const std::size_t sent = session.receivedCount();
    ASSERT_TRUE(session.console().sendKeys(std::string(keys::F2) + std::string(keys::Up) +
                                           std::string(keys::F5) + "x"));
    ASSERT_TRUE(session.waitForTarget("x", eventTimeout, sent));
    ASSERT_TRUE(session.console().sendEscape());
    ASSERT_TRUE(session.console().sendKeys("y"));
    ASSERT_TRUE(session.waitForTarget("y", eventTimeout, sent));
    EXPECT_EQ(session.receivedByTarget().substr(sent), "x\x1by");
}

// The keyboard on descriptor 0, as it is for a user: the console sleeps on
// the keys and the line together, so a key goes out at once. A loop that
// looked at the keys only between its 100 ms waits would take some 75 ms for
// each key typed 40 ms after the last was out (and its echo's chunk ended).
TEST(ConsoleKeys, AKeyTypedOnASilentLineReachesTheTargetAtOnce) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    session.console().waitForQuiet(eventTimeout);
    std::vector<long long> took;
    for (int key = 0; key < 9; ++key) {
        std::this_thread::sleep_for(milliseconds(40));
        const std::size_t sent = session.receivedCount();
        const auto typed = Clock::now();
        ASSERT_TRUE(session.console().sendKeys("k"));
        ASSERT_TRUE(session.waitForTarget("k", eventTimeout, sent));
        took.push_back(std::chrono::duration_cast<milliseconds>(Clock::now() - typed).count());
    }
    // The median: a loaded machine may hold up a key or two.
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[4], 40) << took[0] << " to " << took[8] << " ms";
}

class HelpKey : public testing::TestWithParam<std::string_view> {};

TEST_P(HelpKey, PrintsHelpAndSendsOneCarriageReturn) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();
    const std::size_t mark = console.mark();
    const std::size_t sent = session.receivedCount();

    ASSERT_TRUE(console.sendKeys(GetParam()));
    const std::string help =
        "\r\n"
        "       [F1]  [F2]  [F3]  [F4]\r\n"
        "       help        auto  load\r\n"
        "[F9]+  help              dload\r\n"
        "[F10]+ help  quit        dsave\r\n"
        "\r\n"
        "options -bBAUDRATE -pPORT e.g. -pCOM1 -b115200\r\n";
    const auto shown = console.findOnScreen(help, eventTimeout, mark);
    ASSERT_TRUE(shown) << console.screenSince(mark);
    // The monitor answers the carriage return with a fresh prompt.
    ASSERT_TRUE(session.waitForPrompt(*shown + help.size()));
    EXPECT_EQ(session.receivedByTarget().substr(sent), "\r");
    // Back at the prompt, the chords work again.
    EXPECT_EQ(session.quit(), 0);
}

INSTANTIATE_TEST_SUITE_P(F1AndAlt1, HelpKey, testing::Values(keys::F1, keys::Alt1));

class QuitChord : public testing::TestWithParam<std::string> {};

TEST_P(QuitChord, EndsWithinTwoSilentReadsAndRestoresTheTerminal) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();
    ASSERT_TRUE(console.terminalRaw());
    const std::size_t sent = session.receivedCount();

    const auto pressed = Clock::now();
    ASSERT_TRUE(console.sendKeys(GetParam()));
    EXPECT_EQ(console.waitForExit(eventTimeout), 0);
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - pressed);
    // On a silent line a key waits out at most one 200 ms read, and the quit
    // comes after the next one.
    EXPECT_LT(took.count(), 700);
    EXPECT_TRUE(console.terminalRestored());
    EXPECT_EQ(session.receivedByTarget().substr(sent), "");
}

INSTANTIATE_TEST_SUITE_P(Chords, QuitChord,
                         testing::Values(chord(keys::F10, keys::F2), chord(keys::Alt0, keys::Alt2),
                                         chord(keys::F9, chord(keys::F10, keys::F2))));

class OutsideSignal : public testing::TestWithParam<int> {};

TEST_P(OutsideSignal, EndsTheConsoleWithTheTerminalRestoredAndItsStatus) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();
    ASSERT_TRUE(console.terminalRaw());
    console.sendSignal(GetParam());
    // The signal's own status, so that a caller can tell it from a quit.
    EXPECT_EQ(console.waitForExit(eventTimeout), 128 + GetParam());
    EXPECT_TRUE(console.endedBySignal());
    EXPECT_TRUE(console.terminalRestored());
}

INSTANTIATE_TEST_SUITE_P(TermHupInt, OutsideSignal, testing::Values(SIGTERM, SIGHUP, SIGINT));

}  // namespace
