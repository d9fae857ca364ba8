#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/script/script_rig.h"

using scripttest::Rig;
using Writes = std::vector<std::string>;

namespace {

void pressF3AndType(Rig& rig, const std::string& path) {
    rig.console.onKey(keys::PrefixZero);
    rig.console.onKey(keys::F3);
    for (char ch : path) rig.console.onKey(static_cast<unsigned char>(ch));
    rig.console.onKey(keys::Enter);
}

TEST(ScriptPacing, OneLinePerPromptFirstAtOnce) {
    Rig rig;
    EXPECT_TRUE(rig.scripts.start(rig.file("s.txt", "one\ntwo\nthree\n").c_str(), 0, &rig.port));
    EXPECT_EQ(rig.port.writes, (Writes{"one\n"}));

    rig.console.takeChunk("one\r\n", 5);  // the echo: no prompt, no line
    EXPECT_EQ(rig.port.writes.size(), 1u);
    rig.prompt();
    EXPECT_EQ(rig.port.writes, (Writes{"one\n", "two\n"}));
    rig.prompt();
    rig.prompt();  // the read at this prompt finds the end
    EXPECT_EQ(rig.port.writes, (Writes{"one\n", "two\n", "three\n"}));
    EXPECT_FALSE(rig.scripts.scriptRunning());
    EXPECT_EQ(rig.scripts.script(), nullptr);
    rig.prompt();
    EXPECT_EQ(rig.port.writes.size(), 3u);
}

TEST(ScriptPacing, LinesAreSentAsReadInTheirPieces) {
    Rig rig;
    const std::string longLine = std::string(249, 'a') + "\n";
    const std::string nulLine("x\0local quit\n", 13);
    rig.scripts.start(
        rig.file("s.txt", longLine + "crlf\r\n" + nulLine + "tail").c_str(), 0, &rig.port);
    for (int i = 0; i < 5; ++i) rig.prompt();
    EXPECT_EQ(rig.port.writes,
              (Writes{longLine.substr(0, 199), longLine.substr(199), "crlf\r\n", nulLine, "tail"}));
    EXPECT_FALSE(rig.scripts.scriptRunning());
}

TEST(ScriptPacing, LocalLineWithoutCarriageReturnWaitsForAnotherPrompt) {
    Rig rig;
    rig.scripts.start(rig.file("s.txt", "local sleep 1\nnext\n").c_str(), 0, &rig.port);
    EXPECT_EQ(rig.host.sleeps, (std::vector<std::uint32_t>{1000}));
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_TRUE(rig.scripts.scriptRunning());
    rig.console.takeChunk("output", 6);
    EXPECT_TRUE(rig.port.writes.empty());
    rig.prompt();  // say the user pressed Enter
    EXPECT_EQ(rig.port.writes, (Writes{"next\n"}));
}

TEST(ScriptPacing, PromptSplitAcrossReads) {
    Rig rig;
    rig.scripts.start(rig.file("s.txt", "a\nb\nc\nd\n").c_str(), 0, &rig.port);

    // '>' then '> ': one prompt, one line.
    rig.console.takeChunk("text>", 5);
    EXPECT_EQ(rig.port.writes.size(), 1u);
    rig.console.takeChunk("> ", 2);
    EXPECT_EQ(rig.port.writes, (Writes{"a\n", "b\n"}));

    // '>' then a chunk holding '>>' as well: both steps run a line.
    rig.console.state = Typing;
    rig.console.takeChunk("x>", 2);
    rig.console.takeChunk(">>", 2);
    EXPECT_EQ(rig.port.writes, (Writes{"a\n", "b\n", "c\n", "d\n"}));
    EXPECT_EQ(rig.console.state, AtPrompt);
}

TEST(ScriptPacing, StateALineSetStaysAfterAPrompt) {
    Rig rig;
    rig.scripts.start(rig.file("s.txt", "a\nlocal echo hi\n").c_str(), 0, &rig.port);
    rig.prompt();
    EXPECT_EQ(rig.console.state, Typing);
    EXPECT_EQ(rig.port.writes, (Writes{"a\n", "\r"}));
}

TEST(ScriptPacing, CommandLineScriptRunsBeforeAnyTargetOutput) {
    Rig rig;
    rig.port.chunks = {"boot\r\n", ">", "> ", "hello\r\n>> "};
    rig.port.whenDrained = [&rig] { rig.console.state = QuitRequested; };
    const std::string path = rig.file("s.txt", "first\nsecond\nthird\nfourth\n");
    rig.console.run(&rig.port, true, path.c_str());

    ASSERT_FALSE(rig.events.empty());
    EXPECT_EQ(rig.events.front(), "port:first\n");
    EXPECT_EQ(rig.port.writes, (Writes{"first\n", "second\n", "third\n"}));
    // Leaving the loop releases the script that still ran.
    EXPECT_EQ(rig.scripts.script(), nullptr);
    EXPECT_FALSE(rig.scripts.scriptRunning());
}

TEST(ScriptFromF3, EmptyFileSendsOneCarriageReturn) {
    Rig rig;
    pressF3AndType(rig, rig.file("empty.txt", ""));
    EXPECT_EQ(rig.port.writes, (Writes{"\r"}));
    EXPECT_EQ(rig.console.state, Typing);
    EXPECT_FALSE(rig.scripts.scriptRunning());
}

TEST(ScriptFromF3, MissingFileSaysSoAndSendsTwoCarriageReturns) {
    Rig rig;
    pressF3AndType(rig, rig.path("missing.txt"));
    EXPECT_NE(rig.screen.text.find("cannot open file\n"), std::string::npos);
    EXPECT_EQ(rig.port.writes, (Writes{"\r", "\r"}));
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(ScriptFromF3, FirstPlainLineLeavesAskAuto) {
    Rig rig;
    pressF3AndType(rig, rig.file("s.txt", "go\n"));
    EXPECT_EQ(rig.port.writes, (Writes{"go\n"}));
    EXPECT_EQ(rig.console.state, AskAuto);
    rig.prompt();
    EXPECT_EQ(rig.console.state, AtPrompt);
}

TEST(ScriptFromF3, MissingFileEndsTheRunningScript) {
    Rig rig;
    rig.scripts.start(rig.file("s.txt", "a\nb\n").c_str(), 0, &rig.port);
    rig.console.state = AtPrompt;
    pressF3AndType(rig, rig.path("missing.txt"));
    EXPECT_EQ(rig.scripts.script(), nullptr);
    EXPECT_FALSE(rig.scripts.scriptRunning());
    rig.prompt();
    EXPECT_EQ(rig.port.writes, (Writes{"a\n", "\r", "\r"}));
}

TEST(ScriptFromF3, NewScriptReplacesTheRunningOne) {
    Rig rig;
    rig.scripts.start(rig.file("old.txt", "old1\nold2\n").c_str(), 0, &rig.port);
    rig.console.state = AtPrompt;
    pressF3AndType(rig, rig.file("new.txt", "new1\nnew2\n"));
    rig.prompt();
    rig.prompt();
    EXPECT_EQ(rig.port.writes, (Writes{"old1\n", "new1\n", "new2\n"}));
}

}  // namespace
