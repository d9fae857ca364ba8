#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/script/script_rig.h"

using scripttest::Rig;
using Texts = std::vector<std::string>;

namespace {

TEST(ScriptOpen, DepthLimit) {
    Rig rig;
    const std::string path = rig.file("any.txt", "x\n");

    ScriptFile deepest;
    EXPECT_TRUE(deepest.open(path.c_str(), ScriptFile::MaxDepth - 1));
    EXPECT_EQ(deepest.depth, ScriptFile::MaxDepth);
    deepest.close();

    ScriptFile tooDeep;
    EXPECT_FALSE(tooDeep.open(path.c_str(), ScriptFile::MaxDepth));
    EXPECT_FALSE(tooDeep.isOpen());
}

TEST(NestedScripts, CallerGoesOnAtItsNextLine) {
    Rig rig;
    rig.file("sub.txt", "s1\ns2\n");
    const std::string main =
        rig.file("main.txt", "a\nlocal auto " + rig.path("sub.txt") + "\nb\n");
    rig.scripts.start(main.c_str(), 0, &rig.port);
    rig.prompt();  // calls sub.txt, whose first line runs at once
    EXPECT_EQ(rig.port.writes, (Texts{"a\n", "s1\n"}));
    ASSERT_EQ(rig.scripts.callerCount(), 1u);
    EXPECT_EQ(rig.scripts.script()->depth, 2);
    rig.prompt();
    rig.prompt();  // sub.txt ends here and main.txt goes on at once
    EXPECT_EQ(rig.port.writes, (Texts{"a\n", "s1\n", "s2\n", "b\n"}));
    EXPECT_EQ(rig.scripts.callerCount(), 0u);
    rig.prompt();
    EXPECT_FALSE(rig.scripts.scriptRunning());
    EXPECT_EQ(rig.scripts.script(), nullptr);
}

TEST(NestedScripts, CalledScriptThatEndsAtOnceOrQuits) {
    Rig rig;
    rig.file("empty.txt", "");
    rig.file("stops.txt", "local quit\nnever\n");
    const std::string main = rig.file(
        "main.txt", "local auto " + rig.path("empty.txt") + "\nlocal auto " + rig.path("stops.txt") +
                        "\nend\n");
    // The empty one ends by itself and its caller goes on at once; the quit
    // of the other ends its caller too.
    EXPECT_FALSE(rig.scripts.start(main.c_str(), 0, &rig.port));
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_EQ(rig.scripts.callerCount(), 0u);
    EXPECT_EQ(rig.scripts.script(), nullptr);
}

TEST(NestedScripts, AfterACalledScriptSentSomethingTheCallerWaitsForAPrompt) {
    Rig rig;
    rig.file("sub.txt", "local echo hi local auto " + rig.path("empty.txt") + "\n");
    rig.file("empty.txt", "");
    const std::string main = rig.file("main.txt", "local auto " + rig.path("sub.txt") + "\nb\n");
    EXPECT_TRUE(rig.scripts.start(main.c_str(), 0, &rig.port));
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));
    rig.prompt();  // sub.txt ends, and main.txt goes on at this prompt
    EXPECT_EQ(rig.port.writes, (Texts{"\r", "b\n"}));
}

TEST(NestedScripts, MissingFileStopsTheCallingScript) {
    Rig rig;
    const std::string main =
        rig.file("main.txt", "local auto " + rig.path("missing.txt") + "\nnever\n");
    EXPECT_FALSE(rig.scripts.start(main.c_str(), 0, &rig.port));
    EXPECT_EQ(rig.screen.text, "cannot open file\n");
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(NestedScripts, DepthLimit) {
    Rig rig;
    const std::string deep = rig.path("deep.txt");
    rig.file("deep.txt", "local auto " + deep + "\nx\n");
    // Sixteen levels open; the sixteenth's call is refused, which stops
    // every level.
    EXPECT_FALSE(rig.scripts.start(deep.c_str(), 0, &rig.port));
    EXPECT_EQ(rig.screen.text, "cannot open file\n");
    EXPECT_EQ(rig.port.writes, (Texts{"\r"}));
    EXPECT_EQ(rig.scripts.script(), nullptr);
    EXPECT_EQ(rig.scripts.callerCount(), 0u);
}

TEST(NestedScripts, NewScriptReplacesTheWholeStack) {
    Rig rig;
    rig.file("sub.txt", "s1\ns2\n");
    const std::string main = rig.file("main.txt", "local auto " + rig.path("sub.txt") + "\nb\n");
    rig.scripts.start(main.c_str(), 0, &rig.port);
    ASSERT_EQ(rig.scripts.callerCount(), 1u);
    rig.scripts.start(rig.file("other.txt", "o1\no2\n").c_str(), 0, &rig.port);
    EXPECT_EQ(rig.scripts.callerCount(), 0u);
    for (int i = 0; i < 3; ++i) rig.prompt();
    EXPECT_EQ(rig.port.writes, (Texts{"s1\n", "o1\n", "o2\n"}));
    EXPECT_FALSE(rig.scripts.scriptRunning());
}

TEST(NestedScripts, CallAndRewindWithoutWaitingDoesNotHoldTheConsole) {
    Rig rig;
    rig.file("empty.txt", "");
    const std::string loop =
        rig.file("loop.txt", "local auto " + rig.path("empty.txt") + " auto-again\n");
    // Returns, with the script still there for the next prompt.
    EXPECT_TRUE(rig.scripts.start(loop.c_str(), 0, &rig.port));
    EXPECT_TRUE(rig.scripts.scriptRunning());
    rig.prompt();
    EXPECT_TRUE(rig.scripts.scriptRunning());
}

TEST(NestedScripts, AutoNeedsABlankAfterIt) {
    Rig rig;
    // Trying to open "exec.txt" or "-again" would fail and say so.
    const std::string main = rig.file("main.txt", "local autoexec.txt\nlocal auto-again\n");
    EXPECT_TRUE(rig.scripts.start(main.c_str(), 0, &rig.port));
    rig.prompt();
    EXPECT_TRUE(rig.port.writes.empty());
    EXPECT_EQ(rig.screen.text.find("cannot open file"), std::string::npos);
    EXPECT_EQ(rig.scripts.callerCount(), 0u);
}

}  // namespace
