#include <gtest/gtest.h>

#include "tests/support/console_rig.h"

namespace {

constexpr int Pre = 0;
constexpr int Ext = 224;
const std::string Cr = "\r";

const char* const HelpText =
    "\n"
    "       [F1]  [F2]  [F3]  [F4]\n"
    "       help        auto  load\n"
    "[F9]+  help              dload\n"
    "[F10]+ help  quit        dsave\n"
    "\n"
    "options -bBAUDRATE -pPORT e.g. -pCOM1 -b115200\n";

TEST(KeyboardState, KeysAtThePromptGoToTheTargetAndKeepFunctionKeysActive) {
    ConsoleRig rig;
    rig.typeText("dr");
    EXPECT_EQ(rig.wire.written, "dr");
    EXPECT_EQ(rig.console.state, AtPrompt);
    rig.press({27, 8});  // ESC and backspace are sent too
    EXPECT_EQ(rig.wire.written, "dr\x1b\b");
    EXPECT_EQ(rig.console.state, AtPrompt);
    rig.press({13});
    EXPECT_EQ(rig.console.state, Typing);
    EXPECT_EQ(rig.screen.text, "");
}

TEST(KeyboardState, WhileTypingFunctionKeysPassThroughUntilEsc) {
    ConsoleRig rig;
    rig.press({13, Pre, 59});
    EXPECT_EQ(rig.wire.written, std::string("\r\0;", 3));
    EXPECT_EQ(rig.console.state, Typing);
    rig.press({27});
    EXPECT_EQ(rig.console.state, AtPrompt);
    EXPECT_EQ(rig.wire.written.back(), '\x1b');
}

TEST(KeyboardState, F1PrintsHelpAndAsksForAFreshPrompt) {
    for (int prefix : {Pre, Ext}) {
        ConsoleRig rig;
        rig.press({prefix, 59});
        EXPECT_EQ(rig.screen.text, HelpText);
        EXPECT_EQ(rig.wire.written, Cr);
        EXPECT_EQ(rig.console.state, Typing);
    }
    for (int head : {67, 68}) {  // F9 F1 and F10 F1
        ConsoleRig rig;
        rig.press({Pre, head, Pre, 59});
        EXPECT_EQ(rig.screen.text, HelpText);
        EXPECT_EQ(rig.wire.written, Cr);
    }
}

TEST(KeyboardState, ALoneFunctionKeyWithoutACommandIsSwallowed) {
    for (int scan : {0, 224, 60, 63, 64, 65, 66, 72, 75, 77, 80, 133}) {
        ConsoleRig rig;
        rig.press({Ext, scan});
        EXPECT_EQ(rig.wire.written, "") << scan;
        EXPECT_EQ(rig.console.state, AtPrompt) << scan;
    }
}

TEST(KeyboardState, AfterAChordHeadOtherKeysGoOutAsPlainBytes) {
    ConsoleRig rig;
    rig.press({Pre, 68, Pre, 61});  // F10 F3
    EXPECT_EQ(rig.wire.written, "=");
    EXPECT_EQ(rig.console.state, AtPrompt);

    rig.press({Pre, 68, 'a'});  // F10 then a letter
    EXPECT_EQ(rig.wire.written, "=a");
    EXPECT_EQ(rig.console.state, AtPrompt);

    rig.press({Pre, 67, Pre, 60});  // F9 F2
    EXPECT_EQ(rig.wire.written, "=a<");

    rig.press({Pre, 68, Ext, 72});  // F10 up-arrow sends 'H'
    EXPECT_EQ(rig.wire.written, "=a<H");

    rig.press({Pre, 67, Pre, Ext});  // a second prefix after F9 is sent
    EXPECT_EQ(rig.wire.written, std::string("=a<H\xe0", 5));
    EXPECT_EQ(rig.console.state, AtPrompt);
}

TEST(KeyboardState, QuitChordsAndRearming) {
    ConsoleRig f10f2;
    f10f2.press({Pre, 68, Pre, 60});
    EXPECT_EQ(f10f2.console.state, QuitRequested);

    ConsoleRig extraPrefix;
    extraPrefix.press({Pre, 68, Pre, Ext, Pre, 60});  // further prefixes keep waiting
    EXPECT_EQ(extraPrefix.console.state, QuitRequested);

    ConsoleRig f10f10;
    f10f10.press({Pre, 68, Pre, 68, Pre, 60});
    EXPECT_EQ(f10f10.console.state, QuitRequested);

    ConsoleRig f9f10;
    f9f10.press({Pre, 67, Pre, 68, Pre, 60});
    EXPECT_EQ(f9f10.console.state, QuitRequested);
    EXPECT_EQ(f9f10.wire.written, "");

    ConsoleRig afterQuit;
    afterQuit.press({Pre, 68, Pre, 60, 'x', 13});
    EXPECT_EQ(afterQuit.console.state, QuitRequested);
    EXPECT_EQ(afterQuit.wire.written, "");
}

TEST(KeyboardState, TransferringIgnoresKeys) {
    ConsoleRig rig;
    rig.console.state = Transferring;
    rig.press({'a', 13, 27, Pre, 59});
    EXPECT_EQ(rig.console.state, Transferring);
    EXPECT_EQ(rig.wire.written, "");
    EXPECT_EQ(rig.screen.text, "");
}

TEST(ArgumentPrompts, EachCommandPrintsItsPromptAndHandsOverTheParsedLine) {
    ConsoleRig rig;
    rig.press({Pre, 62});
    rig.typeText("prog.exe\r");
    rig.console.state = AtPrompt;
    rig.press({Pre, 61});
    rig.typeText("boot.txt\r");
    rig.console.state = AtPrompt;
    rig.press({Pre, 67, Pre, 62});
    rig.typeText("data.bin 80010000\r");
    rig.console.state = AtPrompt;
    rig.press({Pre, 68, Pre, 62});
    rig.typeText("  out.bin   80020000 100 trailing\r");

    EXPECT_EQ(rig.screen.text,
              "LOAD <file>:prog.exe\n"
              "AUTO <file>:boot.txt\n"
              "DLOAD <file> <addr>:data.bin 80010000\n"
              "DSAVE <file> <addr> <length>:  out.bin   80020000 100 trailing\n");
    const std::vector<std::string> expected = {"load prog.exe", "auto boot.txt 0",
                                               "dload data.bin 80010000",
                                               "dsave out.bin 80020000 100"};
    EXPECT_EQ(rig.commands.calls, expected);
    EXPECT_EQ(rig.wire.written, "");  // the commands themselves send what they send
}

TEST(ArgumentPrompts, ALineWithoutAllItsFieldsStartsNothing) {
    struct Case {
        std::initializer_list<int> keys;
        const char* text;
    };
    const Case cases[] = {
        {{Pre, 62}, "\r"},                    // empty LOAD line
        {{Pre, 61}, "   \r"},                 // blank AUTO line
        {{Pre, 67, Pre, 62}, "data.bin\r"},   // DLOAD without address
        {{Pre, 67, Pre, 62}, "data.bin zz\r"},  // not hexadecimal
        {{Pre, 68, Pre, 62}, "out.bin 80000000\r"},  // DSAVE without length
    };
    for (const Case& c : cases) {
        ConsoleRig rig;
        rig.press(c.keys);
        rig.typeText(c.text);
        EXPECT_TRUE(rig.commands.calls.empty()) << c.text;
        EXPECT_EQ(rig.wire.written, Cr) << c.text;
        EXPECT_EQ(rig.console.state, Typing) << c.text;
    }
}

TEST(ArgumentPrompts, AnAutoScriptThatDidNotStartSendsOneMoreCarriageReturn) {
    ConsoleRig rig;
    rig.commands.scriptStarts = false;
    rig.press({Pre, 61});
    rig.typeText("missing.txt\r");
    EXPECT_EQ(rig.wire.written, Cr);
    EXPECT_EQ(rig.console.state, Typing);

    ConsoleRig started;
    started.press({Pre, 61});
    started.typeText("boot.txt\r");
    EXPECT_EQ(started.wire.written, "");
    EXPECT_EQ(started.console.state, AskAuto);  // left as the script's first line left it
}

TEST(ArgumentPrompts, AddressesReadAtMostEightCharacters) {
    struct Case {
        bool dsave;
        const char* text;
        const char* call;
    };
    const Case cases[] = {
        {false, "f 800100001234\r", "dload f 80010000"},
        {true, "f 800100001234\r", "dsave f 80010000 1234"},
        {false, "f 0x80010000\r", "dload f 800100"},
        {true, "f 0x80010000\r", "dsave f 800100 0"},
        {true, "f 0x123456789 10\r", "dsave f 123456 789"},
        {true, "f 10 0x20\r", "dsave f 10 20"},
    };
    for (const Case& c : cases) {
        ConsoleRig rig;
        if (c.dsave) {
            rig.press({Pre, 68, Pre, 62});
        } else {
            rig.press({Pre, 67, Pre, 62});
        }
        rig.typeText(c.text);
        ASSERT_EQ(rig.commands.calls.size(), 1u) << c.text;
        EXPECT_EQ(rig.commands.calls[0], c.call) << c.text;
    }
}

TEST(ArgumentPrompts, ALengthBeyondThirtyTwoBitsIsRefusedNotCut) {
    ConsoleRig rig;
    rig.press({Pre, 68, Pre, 62});
    rig.screen.text.clear();
    rig.typeText("f 80010000 123456789\r");
    EXPECT_TRUE(rig.commands.calls.empty());
    EXPECT_EQ(rig.screen.text, "f 80010000 123456789\ninvalid length\n");
    EXPECT_EQ(rig.wire.written, Cr);
    EXPECT_EQ(rig.console.state, Typing);

    ConsoleRig largest;
    largest.press({Pre, 68, Pre, 62});
    largest.typeText("f 0 ffffffff\r");
    EXPECT_EQ(largest.commands.calls, std::vector<std::string>{"dsave f 0 ffffffff"});
}

TEST(LineEditor, BackspaceErasesOnScreenButNotInTheBuffer) {
    ConsoleRig rig;
    rig.press({Pre, 62});
    rig.screen.text.clear();
    rig.press({8});  // nothing to erase
    EXPECT_EQ(rig.screen.text, "");
    rig.typeText("ab");
    rig.press({8});
    EXPECT_EQ(rig.screen.text, "ab\b \b");
    EXPECT_EQ(rig.console.lineLength, 1);
    EXPECT_EQ(rig.console.line[1], 'b');
    rig.typeText("c\r");
    EXPECT_EQ(rig.commands.calls, std::vector<std::string>{"load ac"});
}

TEST(LineEditor, AFullLineDropsCharactersButEnterStillEndsIt) {
    ConsoleRig rig;
    rig.press({Pre, 62});
    rig.typeText(std::string(999, 'x'));
    const std::string before = rig.screen.text;
    rig.typeText("yz");
    EXPECT_EQ(rig.screen.text, before);
    EXPECT_EQ(rig.console.lineLength, 999);
    rig.press({13});
    ASSERT_EQ(rig.commands.calls.size(), 1u);
    EXPECT_EQ(rig.commands.calls[0], "load " + std::string(999, 'x'));
}

TEST(LineEditor, FunctionKeyBytesAreStoredAndAZeroEndsTheParsedText) {
    ConsoleRig rig;
    rig.press({Pre, 62});
    rig.typeText("ab");
    rig.press({Ext, 72, Pre, 59});
    EXPECT_EQ(rig.console.lineLength, 6);
    EXPECT_EQ(rig.screen.text, "LOAD <file>:ab\xe0H;");  // the 0 byte prints nothing
    rig.typeText("cd\r");
    EXPECT_EQ(rig.commands.calls, std::vector<std::string>{"load ab\xe0H"});
}

}  // namespace
