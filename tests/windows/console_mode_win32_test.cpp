#include <windows.h>

#include <gtest/gtest.h>

#include "platform/terminal.h"

namespace {

constexpr DWORD CookedBits = ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT;

DWORD inputMode() {
    DWORD mode = 0;
    GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
    return mode;
}

class ConsoleMode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &before)) {
            GTEST_SKIP() << "standard input is not a console";
        }
        // Start from the usual cooked mode, whatever ran before.
        SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), before | CookedBits);
        cooked = inputMode();
    }
    void TearDown() override { SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), before); }

    DWORD before = 0;
    DWORD cooked = 0;
};

TEST_F(ConsoleMode, RawWhileTheGuardLivesAndRestoredAfter) {
    {
        const platform::RawTerminal raw;
        EXPECT_EQ(cooked & ~CookedBits, inputMode());
        {
            const platform::NormalModeWhile normal;
            EXPECT_EQ(cooked, inputMode());
        }
        EXPECT_EQ(cooked & ~CookedBits, inputMode());
        {
            // A second guard neither changes the mode nor restores it early.
            const platform::RawTerminal second;
        }
        EXPECT_EQ(cooked & ~CookedBits, inputMode());
    }
    EXPECT_EQ(cooked, inputMode());
}

}  // namespace
