#include <gtest/gtest.h>

#include <cstring>

#include "console/recording_console.h"

namespace {

void take(Console& console, const std::string& chunk) {
    console.takeChunk(chunk.data(), static_cast<std::int32_t>(chunk.size()));
}

TEST(PromptTracking, APromptAnywhereInAChunkReturnsToAtPrompt) {
    RecordingConsole console;
    console.state = Typing;
    take(console, "ok\r\n>> ");
    EXPECT_EQ(console.state, AtPrompt);
    EXPECT_EQ(console.screen.text, "ok\r\n>> ");
}

TEST(PromptTracking, APromptSplitAcrossTwoReadsIsSeenAtTheSecond) {
    RecordingConsole console;
    console.state = Typing;
    take(console, "123456789>");
    EXPECT_TRUE(console.promptSplit);
    EXPECT_EQ(console.state, Typing);
    take(console, "> ");
    EXPECT_EQ(console.state, AtPrompt);
    EXPECT_FALSE(console.promptSplit);
}

TEST(PromptTracking, OnlyAChunkWhoseFirstMarkIsItsLastByteStartsASplitPrompt) {
    RecordingConsole console;
    console.state = Typing;
    take(console, "a>b>");
    EXPECT_FALSE(console.promptSplit);
    take(console, ">x");
    EXPECT_EQ(console.state, Typing);

    take(console, "x>>");  // ends in a whole prompt
    EXPECT_EQ(console.state, AtPrompt);
    EXPECT_FALSE(console.promptSplit);
}

TEST(PromptTracking, AnEmptyReadOrAMarkWithoutItsFirstHalfIsNoPrompt) {
    RecordingConsole console;
    console.state = Typing;
    take(console, "abc>");
    take(console, "");
    EXPECT_FALSE(console.promptSplit);
    take(console, ">x");
    EXPECT_EQ(console.state, Typing);

    take(console, "x");
    take(console, ">x");
    EXPECT_EQ(console.state, Typing);
}

TEST(PromptTracking, TextEndsAtANulByteFromTheTarget) {
    RecordingConsole console;
    console.state = Typing;
    take(console, std::string("ab\0>>cd", 7));
    EXPECT_EQ(console.screen.text, "ab");
    EXPECT_EQ(console.state, Typing);

    take(console, std::string("xyz>\0", 5));  // the mark is not the chunk's last byte
    EXPECT_FALSE(console.promptSplit);
}

TEST(PromptTracking, PercentSignsArePrintedAsTheyCome) {
    RecordingConsole console;
    take(console, "100%d %s");
    EXPECT_EQ(console.screen.text, "100%d %s");
}

TEST(ConsoleLoop, AllWaitingKeysGoBeforeTheNextReadAndAPromptOverridesAQuit) {
    RecordingConsole console;
    console.wire.chunks = {"dr\r\n>> "};
    console.keys.type({'d', 'r', 0, 68, 0, 60});
    console.wire.beforeRead = [&](int read) {
        EXPECT_TRUE(console.keys.queue.empty());
        if (read == 1) {
            EXPECT_EQ(console.state, QuitRequested);
        }
        if (read == 2) {
            console.keys.type({0, 68, 0, 60});
        }
    };
    console.run(&console.wire, false, "");
    // The prompt read in the pass of the first quit made the console go on.
    EXPECT_EQ(console.wire.reads, 3);
    EXPECT_EQ(console.wire.written, "dr");
    EXPECT_EQ(console.screen.text, "dr\r\n>> ");
    EXPECT_EQ(console.state, QuitRequested);
}

TEST(ConsoleLoop, QuitIsTakenAfterAnEmptyRead) {
    RecordingConsole console;
    console.keys.type({0, 68, 0, 60});
    console.wire.chunks = {};
    console.run(&console.wire, false, "");
    EXPECT_EQ(console.state, QuitRequested);
    EXPECT_EQ(console.wire.emptyReads, 1);
}

}  // namespace
