#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/console_rig.h"

namespace {

TEST(PromptTracking, APromptAnywhereInAChunkReturnsToAtPrompt) {
    ConsoleRig rig;
    rig.console.state = Typing;
    rig.take("ok\r\n>> ");
    EXPECT_EQ(rig.console.state, AtPrompt);
    EXPECT_EQ(rig.screen.text, "ok\r\n>> ");
}

TEST(PromptTracking, APromptSplitAcrossTwoReadsIsSeenAtTheSecond) {
    ConsoleRig rig;
    rig.console.state = Typing;
    rig.take("123456789>");
    EXPECT_TRUE(rig.console.promptSplit);
    EXPECT_EQ(rig.console.state, Typing);
    rig.take("> ");
    EXPECT_EQ(rig.console.state, AtPrompt);
    EXPECT_FALSE(rig.console.promptSplit);
}

TEST(PromptTracking, OnlyAChunkWhoseFirstMarkIsItsLastByteStartsASplitPrompt) {
    ConsoleRig rig;
    rig.console.state = Typing;
    rig.take("a>b>");
    EXPECT_FALSE(rig.console.promptSplit);
    rig.take(">x");
    EXPECT_EQ(rig.console.state, Typing);

    rig.take("x>>");  // ends in a whole prompt
    EXPECT_EQ(rig.console.state, AtPrompt);
    EXPECT_FALSE(rig.console.promptSplit);
}

TEST(PromptTracking, AnEmptyReadOrAMarkWithoutItsFirstHalfIsNoPrompt) {
    ConsoleRig rig;
    rig.console.state = Typing;
    rig.take("abc>");
    rig.take("");
    EXPECT_FALSE(rig.console.promptSplit);
    rig.take(">x");
    EXPECT_EQ(rig.console.state, Typing);

    rig.take("x");
    rig.take(">x");
    EXPECT_EQ(rig.console.state, Typing);
}

TEST(PromptTracking, TextEndsAtANulByteFromTheTarget) {
    ConsoleRig rig;
    rig.console.state = Typing;
    rig.take(std::string("ab\0>>cd", 7));
    EXPECT_EQ(rig.screen.text, "ab");
    EXPECT_EQ(rig.console.state, Typing);

    rig.take(std::string("xyz>\0", 5));  // the mark is not the chunk's last byte
    EXPECT_FALSE(rig.console.promptSplit);

    // Pieces of one chunk: what follows its NUL is not shown but kept.
    rig.console.takePiece("be", 2, false);
    rig.console.takePiece(std::string("f\0af", 4).data(), 4, false);
    rig.console.takePiece("ter", 3, true);
    rig.console.flushOutput();
    EXPECT_EQ(rig.screen.text, "abxyz>bef");
    EXPECT_EQ(rig.screen.kept, std::string("ab\0>>cdxyz>\0bef\0after", 21));
}

TEST(PromptTracking, AChunkReadWholeAfterPiecesIsShownWhole) {
    // As at the end of a batch run: the loop's pieces, then a read of its own.
    ConsoleRig rig;
    rig.console.takePiece("ab", 2, false);
    rig.take("0123456789");
    EXPECT_EQ(rig.screen.text, "ab0123456789");
}

TEST(PromptTracking, PercentSignsArePrintedAsTheyCome) {
    ConsoleRig rig;
    rig.take("100%d %s");
    EXPECT_EQ(rig.screen.text, "100%d %s");
}

TEST(ConsoleLoop, AllWaitingKeysGoBeforeTheNextReadAndAPromptDoesNotUndoAQuit) {
    ConsoleRig rig;
    rig.wire.chunks = {"dr\r\n>> "};
    rig.keys.type({'d', 'r', 0, 68, 0, 60});
    rig.wire.beforeRead = [&](int) {
        EXPECT_TRUE(rig.keys.queue.empty());
        EXPECT_EQ(rig.console.state, QuitRequested);
    };
    rig.console.run(&rig.wire, false, "");
    // The prompt read in the pass of the quit is shown; the console leaves.
    EXPECT_EQ(rig.wire.reads, 1);
    EXPECT_EQ(rig.wire.written, "dr");
    EXPECT_EQ(rig.screen.text, "dr\r\n>> ");
    EXPECT_EQ(rig.console.state, QuitRequested);
}

TEST(ConsoleLoop, QuitIsTakenAfterAnEmptyRead) {
    ConsoleRig rig;
    rig.keys.type({0, 68, 0, 60});
    rig.wire.chunks = {};
    rig.console.run(&rig.wire, false, "");
    EXPECT_EQ(rig.console.state, QuitRequested);
    EXPECT_EQ(rig.wire.emptyReads, 1);
}

}  // namespace
