#include <gtest/gtest.h>

#include "console/recording_console.h"

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
    RecordingConsole console;
    console.typeText("dr");
    EXPECT_EQ(console.wire.written, "dr");
    EXPECT_EQ(console.state, AtPrompt);
    console.press({27, 8});  // ESC and backspace are sent too
    EXPECT_EQ(console.wire.written, "dr\x1b\b");
    EXPECT_EQ(console.state, AtPrompt);
    console.press({13});
    EXPECT_EQ(console.state, Typing);
    EXPECT_EQ(console.screen.text, "");
}

TEST(KeyboardState, WhileTypingFunctionKeysPassThroughUntilEsc) {
    RecordingConsole console;
    console.press({13, Pre, 59});
    EXPECT_EQ(console.wire.written, std::string("\r\0;", 3));
    EXPECT_EQ(console.state, Typing);
    console.press({27});
    EXPECT_EQ(console.state, AtPrompt);
    EXPECT_EQ(console.wire.written.back(), '\x1b');
}

TEST(KeyboardState, F1PrintsHelpAndAsksForAFreshPrompt) {
    for (int prefix : {Pre, Ext}) {
        RecordingConsole console;
        console.press({prefix, 59});
        EXPECT_EQ(console.screen.text, HelpText);
        EXPECT_EQ(console.wire.written, Cr);
        EXPECT_EQ(console.state, Typing);
    }
    for (int head : {67, 68}) {  // F9 F1 and F10 F1
        RecordingConsole console;
        console.press({Pre, head, Pre, 59});
        EXPECT_EQ(console.screen.text, HelpText);
        EXPECT_EQ(console.wire.written, Cr);
    }
}

TEST(KeyboardState, ALoneFunctionKeyWithoutACommandIsSwallowed) {
    for (int scan : {60, 63, 64, 65, 66, 72, 75, 77, 80, 133}) {
        RecordingConsole console;
        console.press({Ext, scan});
        EXPECT_EQ(console.wire.written, "") << scan;
        EXPECT_EQ(console.state, AtPrompt) << scan;
    }
}

TEST(KeyboardState, AfterAChordHeadOtherKeysGoOutAsPlainBytes) {
    RecordingConsole console;
    console.press({Pre, 68, Pre, 61});  // F10 F3
    EXPECT_EQ(console.wire.written, "=");
    EXPECT_EQ(console.state, AtPrompt);

    console.press({Pre, 68, 'a'});  // F10 then a letter
    EXPECT_EQ(console.wire.written, "=a");
    EXPECT_EQ(console.state, AtPrompt);

    console.press({Pre, 67, Pre, 60});  // F9 F2
    EXPECT_EQ(console.wire.written, "=a<");

    console.press({Pre, 68, Ext, 72});  // F10 up-arrow sends 'H'
    EXPECT_EQ(console.wire.written, "=a<H");

    console.press({Pre, 67, Pre, Ext});  // a second prefix after F9 is sent
    EXPECT_EQ(console.wire.written, std::string("=a<H\xe0", 5));
    EXPECT_EQ(console.state, AtPrompt);
}

TEST(KeyboardState, QuitChordsAndRearming) {
    RecordingConsole f10f2;
    f10f2.press({Pre, 68, Pre, 60});
    EXPECT_EQ(f10f2.state, QuitRequested);

    RecordingConsole extraPrefix;
    extraPrefix.press({Pre, 68, Pre, Ext, Pre, 60});  // further prefixes keep waiting
    EXPECT_EQ(extraPrefix.state, QuitRequested);

    RecordingConsole f10f10;
    f10f10.press({Pre, 68, Pre, 68, Pre, 60});
    EXPECT_EQ(f10f10.state, QuitRequested);

    RecordingConsole f9f10;
    f9f10.press({Pre, 67, Pre, 68, Pre, 60});
    EXPECT_EQ(f9f10.state, QuitRequested);
    EXPECT_EQ(f9f10.wire.written, "");

    RecordingConsole afterQuit;
    afterQuit.press({Pre, 68, Pre, 60, 'x', 13});
    EXPECT_EQ(afterQuit.state, QuitRequested);
    EXPECT_EQ(afterQuit.wire.written, "");
}

TEST(KeyboardState, TransferringIgnoresKeys) {
    RecordingConsole console;
    console.state = Transferring;
    console.press({'a', 13, 27, Pre, 59});
    EXPECT_EQ(console.state, Transferring);
    EXPECT_EQ(console.wire.written, "");
    EXPECT_EQ(console.screen.text, "");
}

TEST(ArgumentPrompts, EachCommandPrintsItsPromptAndHandsOverTheParsedLine) {
    RecordingConsole console;
    console.press({Pre, 62});
    console.typeText("prog.exe\r");
    console.state = AtPrompt;
    console.press({Pre, 61});
    console.typeText("boot.txt\r");
    console.state = AtPrompt;
    console.press({Pre, 67, Pre, 62});
    console.typeText("data.bin 80010000\r");
    console.state = AtPrompt;
    console.press({Pre, 68, Pre, 62});
    console.typeText("  out.bin   80020000 100 trailing\r");

    EXPECT_EQ(console.screen.text,
              "LOAD <file>:prog.exe\n"
              "AUTO <file>:boot.txt\n"
              "DLOAD <file> <addr>:data.bin 80010000\n"
              "DSAVE <file> <addr> <length>:  out.bin   80020000 100 trailing\n");
    const std::vector<std::string> expected = {"load prog.exe", "auto boot.txt 0",
                                               "dload data.bin 80010000",
                                               "dsave out.bin 80020000 100"};
    EXPECT_EQ(console.calls, expected);
    EXPECT_EQ(console.wire.written, "");  // the commands themselves send what they send
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
        RecordingConsole console;
        console.press(c.keys);
        console.typeText(c.text);
        EXPECT_TRUE(console.calls.empty()) << c.text;
        EXPECT_EQ(console.wire.written, Cr) << c.text;
        EXPECT_EQ(console.state, Typing) << c.text;
    }
}

TEST(ArgumentPrompts, AnAutoScriptThatDidNotStartSendsOneMoreCarriageReturn) {
    RecordingConsole console;
    console.scriptStarts = false;
    console.press({Pre, 61});
    console.typeText("missing.txt\r");
    EXPECT_EQ(console.wire.written, Cr);
    EXPECT_EQ(console.state, Typing);

    RecordingConsole started;
    started.press({Pre, 61});
    started.typeText("boot.txt\r");
    EXPECT_EQ(started.wire.written, "");
    EXPECT_EQ(started.state, AskAuto);  // left as the script's first line left it
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
        RecordingConsole console;
        if (c.dsave) {
            console.press({Pre, 68, Pre, 62});
        } else {
            console.press({Pre, 67, Pre, 62});
        }
        console.typeText(c.text);
        ASSERT_EQ(console.calls.size(), 1u) << c.text;
        EXPECT_EQ(console.calls[0], c.call) << c.text;
    }
}

TEST(ArgumentPrompts, ALengthBeyondThirtyTwoBitsIsRefusedNotCut) {
    RecordingConsole console;
    console.press({Pre, 68, Pre, 62});
    console.screen.text.clear();
    console.typeText("f 80010000 123456789\r");
    EXPECT_TRUE(console.calls.empty());
    EXPECT_EQ(console.screen.text, "f 80010000 123456789\ninvalid length\n");
    EXPECT_EQ(console.wire.written, Cr);
    EXPECT_EQ(console.state, Typing);

    RecordingConsole largest;
    largest.press({Pre, 68, Pre, 62});
    largest.typeText("f 0 ffffffff\r");
    EXPECT_EQ(largest.calls, std::vector<std::string>{"dsave f 0 ffffffff"});
}

TEST(LineEditor, BackspaceErasesOnScreenButNotInTheBuffer) {
    RecordingConsole console;
    console.press({Pre, 62});
    console.screen.text.clear();
    console.press({8});  // nothing to erase
    EXPECT_EQ(console.screen.text, "");
    console.typeText("ab");
    console.press({8});
    EXPECT_EQ(console.screen.text, "ab\b \b");
    EXPECT_EQ(console.lineLength, 1);
    EXPECT_EQ(console.line[1], 'b');
    console.typeText("c\r");
    EXPECT_EQ(console.calls, std::vector<std::string>{"load ac"});
}

TEST(LineEditor, AFullLineDropsCharactersButEnterStillEndsIt) {
    RecordingConsole console;
    console.press({Pre, 62});
    console.typeText(std::string(999, 'x'));
    const std::string before = console.screen.text;
    console.typeText("yz");
    EXPECT_EQ(console.screen.text, before);
    EXPECT_EQ(console.lineLength, 999);
    console.press({13});
    ASSERT_EQ(console.calls.size(), 1u);
    EXPECT_EQ(console.calls[0], "load " + std::string(999, 'x'));
}

TEST(LineEditor, FunctionKeyBytesAreStoredAndAZeroEndsTheParsedText) {
    RecordingConsole console;
    console.press({Pre, 62});
    console.typeText("ab");
    console.press({Ext, 72, Pre, 59});
    EXPECT_EQ(console.lineLength, 6);
    EXPECT_EQ(console.screen.text, "LOAD <file>:ab\xe0H;");  // the 0 byte prints nothing
    console.typeText("cd\r");
    EXPECT_EQ(console.calls, std::vector<std::string>{"load ab\xe0H"});
}

}  // namespace
