#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/script/script_rig.h"

using scripttest::Rig;
using Texts = std::vector<std::string>;

namespace {

// Starts a script whose first line is the one under test; returns whether
// the script goes on.
bool runFirst(Rig& rig, const std::string& content) {
    return rig.scripts.start(rig.file("s.txt", content).c_str(), 0, &rig.port);
}

TEST(LocalLines, WhereTheWordStands) {
    {
        Rig rig;  // text before "local" is ignored
        EXPECT_FALSE(runFirst(rig, "send this local quit\nnext\n"));
        EXPECT_TRUE(rig.port.writes.empty());
    }
    {
        Rig rig;  // capitals are a plain line
        EXPECT_TRUE(runFirst(rig, "LOCAL quit\n"));
        EXPECT_EQ(rig.port.writes, (Texts{"LOCAL quit\n"}));
    }
    {
        Rig rig;  // inside a longer word it is still local, and not sent
        EXPECT_TRUE(runFirst(rig, "set relocalize 1\nnext\n"));
        EXPECT_TRUE(rig.port.writes.empty());
        EXPECT_TRUE(rig.events.empty());
        rig.prompt();
        EXPECT_EQ(rig.port.writes, (Texts{"next\n"}));
    }
}

TEST(LocalLines, EchoTextEndingInBangPrintsThenHandsTheRestToTheShell) {
    Rig rig;
    EXPECT_TRUE(runFirst(rig, "local echo ready!\r\n"));
    // Each in its own order: echo text, its carriage return, then the shell.
    EXPECT_EQ(rig.events, (Texts{"print:ready!\r\n", "port:\r", "shell:"}));
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(LocalLines, ShellCommandsTakeTheRestOfTheLine) {
    Rig rig;
    // Without the line end, which cmd.exe would take into the last word.
    runFirst(rig, "local dos dir c:\r\nlocal sh ls -l\nlocal !make all\r\r\nlocal sh ls x!\n");
    for (int i = 0; i < 3; ++i) rig.prompt();
    EXPECT_EQ(rig.host.commands, (Texts{"dir c:", "ls -l", "make all", "ls x!", ""}));
    EXPECT_TRUE(rig.port.writes.empty());  // shell lines write no carriage return
}

TEST(LocalLines, EchoTextHoldingPauseWaitsForAKey) {
    Rig rig;
    rig.keyboard.queue = {keys::Escape};
    EXPECT_FALSE(runFirst(rig, "local echo time for a pause\nnext\n"));
    EXPECT_EQ(rig.screen.text, "time for a pause\n");
    EXPECT_EQ(rig.only("key").size(), 1u);
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));  // only the echo's

    Rig other;
    other.keyboard.queue = {'x'};
    EXPECT_TRUE(runFirst(other, "local echo time for a pause\nnext\n"));
    EXPECT_EQ(other.port.writes, (Texts{"\r", "\r"}));
}

TEST(LocalLines, PauseTakesOneCodeAndEscapeStopsTheScript) {
    Rig rig;
    rig.keyboard.queue = {keys::PrefixExtended, keys::F1};
    rig.console.state = AtPrompt;
    EXPECT_TRUE(runFirst(rig, "local pause\n"));
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));
    EXPECT_EQ(rig.console.state, Typing);
    // The scan code stays for the console loop.
    EXPECT_EQ(rig.keyboard.queue.size(), 1u);

    Rig escaped;
    escaped.console.state = AtPrompt;
    escaped.keyboard.queue = {keys::Escape};
    EXPECT_FALSE(runFirst(escaped, "local pause\nnext\n"));
    EXPECT_TRUE(escaped.port.writes.empty());
    EXPECT_EQ(escaped.console.state, AtPrompt);
}

TEST(LocalLines, PauseWhenInputHasEndedStopsInsteadOfWaiting) {
    Rig rig;  // the keyboard has nothing left to give
    EXPECT_FALSE(runFirst(rig, "local pause\nnext\n"));
    EXPECT_TRUE(rig.port.writes.empty());
}

TEST(LocalLines, CommandsRunInTableOrderAndTheLastResultCounts) {
    // Whatever the order in the line, the pause comes first and the beep's
    // result last: ESC does not stop a line that also beeps.
    Rig rig;
    rig.keyboard.queue = {keys::Escape};
    EXPECT_TRUE(runFirst(rig, "local beep pause\nnext\n"));
    EXPECT_EQ(rig.events, (Texts{"key", "beep", "port:\r"}));

    Rig answered;
    answered.keyboard.queue = {'y'};
    EXPECT_TRUE(runFirst(answered, "local pause beep\nnext\n"));
    answered.prompt();
    EXPECT_EQ(answered.port.writes, (Texts{"\r", "\r", "next\n"}));

    Rig quitting;
    EXPECT_FALSE(runFirst(quitting, "local quit beep\nnext\n"));
    EXPECT_EQ(quitting.host.beeps, 1);

    Rig helped;  // a false transfer, then a command that gives true
    helped.commands.result = false;
    EXPECT_TRUE(runFirst(helped, "local load prog.exe help\nnext\n"));
    EXPECT_EQ(helped.commands.calls, (Texts{"load prog.exe"}));
}

TEST(LocalLines, SleepThenBeep) {
    Rig rig;
    EXPECT_TRUE(runFirst(rig, "local sleep 2 beep\n"));
    EXPECT_EQ(rig.events, (Texts{"sleep:2000", "beep", "port:\r"}));
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(LocalLines, SleepCounts) {
    const auto sleepsOf = [](const std::string& line) {
        Rig rig;
        runFirst(rig, line);
        return rig.host.sleeps;
    };
    using Sleeps = std::vector<std::uint32_t>;
    constexpr std::uint32_t Longest = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(sleepsOf("local sleep -3\n"), Sleeps{});
    EXPECT_EQ(sleepsOf("local sleep 0\n"), Sleeps{});
    EXPECT_EQ(sleepsOf("local sleep\n"), Sleeps{});
    EXPECT_EQ(sleepsOf("local sleep x\n"), Sleeps{});
    EXPECT_EQ(sleepsOf("local sleep 4294967\n"), Sleeps{4294967000u});
    EXPECT_EQ(sleepsOf("local sleep 4294968\n"), Sleeps{Longest});
    EXPECT_EQ(sleepsOf("local sleep 2147483647\n"), Sleeps{Longest});
    EXPECT_EQ(sleepsOf("local sleep 99999999999999999999999\n"), Sleeps{Longest});
    EXPECT_EQ(sleepsOf("local sleep -99999999999999999999999\n"), Sleeps{});
}

TEST(LocalLines, TransfersGetTheirFields) {
    Rig rig;
    runFirst(rig,
             "local dload data.bin 80010000\n"
             "  local   load   prog.exe  \n"
             "local dsave out.bin 0x80020000 1F0\n"
             "local dload nodata.bin\n"
             "local dsave short.bin 100\n"
             "local dsave long.bin 100 123456789\n"
             "local dload far.bin 180010000\n");
    for (int i = 0; i < 6; ++i) rig.prompt();
    EXPECT_EQ(rig.commands.calls,
              (Texts{"dload data.bin 80010000", "load prog.exe", "dsave out.bin 80020000 1f0"}));
    EXPECT_EQ(rig.commands.handedPort, &rig.port);
    // Lines without all their fields ran nothing; a number too long for 32
    // bits is refused aloud and stops the script.
    EXPECT_NE(rig.screen.text.find(">> invalid length\n"), std::string::npos);
    EXPECT_FALSE(rig.scripts.scriptRunning());
}

TEST(LocalLines, DloadWithoutAddressRunsNothing) {
    Rig rig;
    EXPECT_TRUE(runFirst(rig, "local dload file\nnext\n"));
    EXPECT_TRUE(rig.events.empty());
}

TEST(LocalLines, FailedTransferStopsTheScript) {
    for (const char* line : {"local load prog.exe\n", "local dload d.bin 100\n",
                             "local dsave d.bin 100 10\n"}) {
        Rig rig;
        rig.commands.result = false;
        EXPECT_FALSE(runFirst(rig, std::string(line) + "go\n")) << line;
        rig.prompt();
        EXPECT_EQ(rig.port.writes, (Texts{"\r"})) << line;
    }
}

TEST(LocalLines, AutoAgainWithBeepRepeats) {
    Rig rig;
    runFirst(rig, "first\nlocal auto-again beep\n");
    for (int i = 0; i < 5; ++i) rig.prompt();
    EXPECT_EQ(rig.port.writes, (Texts{"first\n", "\r", "first\n", "\r", "first\n", "\r"}));
    EXPECT_TRUE(rig.scripts.scriptRunning());
    EXPECT_EQ(rig.screen.text.find("cannot open file"), std::string::npos);
}

TEST(LocalLines, WaitPromptAndHelp) {
    Rig rig;
    EXPECT_TRUE(runFirst(rig, "local wait-prompt\nlocal help\nlast\n"));
    EXPECT_TRUE(rig.events.empty());
    rig.prompt();
    EXPECT_NE(rig.screen.text.find("options -bBAUDRATE"), std::string::npos);
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(LocalLines, PercentSignsAreText) {
    Rig rig;
    EXPECT_TRUE(runFirst(rig, "local echo 100% %s%n%x %d\n"));
    EXPECT_EQ(rig.screen.text, "100% %s%n%x %d\n");
}

}  // namespace
