#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "platform/console_key_translation.h"

namespace {

using platform::ConsoleKeyEvent;

ConsoleKeyEvent keyDown(std::uint16_t virtualKey, unsigned char character = 0,
                        std::uint32_t controlKeys = 0, std::uint16_t repeatCount = 1) {
    ConsoleKeyEvent event;
    event.keyDown = true;
    event.virtualKey = virtualKey;
    event.character = character;
    event.controlKeys = controlKeys;
    event.repeatCount = repeatCount;
    return event;
}

std::vector<int> codesOf(const ConsoleKeyEvent& event) {
    std::deque<int> codes;
    platform::translateKeyEvent(event, codes);
    return {codes.begin(), codes.end()};
}

using Codes = std::vector<int>;

TEST(KeyTranslation, FunctionKeysAreZeroThenTheirScanCode) {
    for (int n = 0; n < 10; ++n) {
        EXPECT_EQ((Codes{0, 59 + n}), codesOf(keyDown(static_cast<std::uint16_t>(0x70 + n))))
            << "F" << n + 1;
    }
    // Modified function and cursor keys have numbers of their own, as the
    // console keyboard convention gives them (and the terminal decoder too).
    using platform::modifier::LeftAlt;
    using platform::modifier::LeftCtrl;
    using platform::modifier::Shift;
    EXPECT_EQ((Codes{0, 84}), codesOf(keyDown(0x70, 0, Shift)));
    EXPECT_EQ((Codes{0, 103}), codesOf(keyDown(0x79, 0, LeftCtrl)));
    EXPECT_EQ((Codes{0, 104}), codesOf(keyDown(0x70, 0, LeftAlt | Shift)));
    EXPECT_EQ((Codes{224, 136}), codesOf(keyDown(0x7B, 0, Shift)));
    EXPECT_EQ((Codes{224, 116}), codesOf(keyDown(0x27, 0, LeftCtrl)));
    EXPECT_EQ((Codes{0, 152}), codesOf(keyDown(0x26, 0, LeftAlt)));
    EXPECT_EQ((Codes{224, 72}), codesOf(keyDown(0x26, 0, Shift)));
    EXPECT_EQ((Codes{0, 15}), codesOf(keyDown(0x09, '\t', Shift)));
    EXPECT_EQ((Codes{'\t'}), codesOf(keyDown(0x09, '\t')));
}

TEST(KeyTranslation, CursorBlockAndF11F12AreExtended) {
    const struct {
        std::uint16_t virtualKey;
        int scan;
    } keys[] = {{0x26, 72}, {0x28, 80}, {0x25, 75}, {0x27, 77}, {0x24, 71}, {0x23, 79},
                {0x2D, 82}, {0x2E, 83}, {0x21, 73}, {0x22, 81}, {0x7A, 133}, {0x7B, 134}};
    for (const auto& key : keys) {
        EXPECT_EQ((Codes{224, key.scan}), codesOf(keyDown(key.virtualKey))) << key.virtualKey;
    }
    // Whether or not the event says "enhanced" (0x100).
    EXPECT_EQ((Codes{224, 72}), codesOf(keyDown(0x26, 0, 0x100)));
}

TEST(KeyTranslation, CharactersAreTheirByteRepeatedAsOften) {
    EXPECT_EQ((Codes{'a'}), codesOf(keyDown(0x41, 'a')));
    EXPECT_EQ((Codes{13}), codesOf(keyDown(0x0D, 13)));
    EXPECT_EQ((Codes{8}), codesOf(keyDown(0x08, 8)));
    EXPECT_EQ((Codes{3}), codesOf(keyDown(0x43, 3, platform::modifier::LeftCtrl)));
    EXPECT_EQ((Codes{0xE9}), codesOf(keyDown(0, 0xE9)));
    EXPECT_EQ((Codes{'x', 'x', 'x'}), codesOf(keyDown(0x58, 'x', 0, 3)));
    EXPECT_EQ((Codes{0, 60, 0, 60}), codesOf(keyDown(0x71, 0, 0, 2)));
    // A key-down event is at least one press.
    EXPECT_EQ((Codes{'x'}), codesOf(keyDown(0x58, 'x', 0, 0)));
}

TEST(KeyTranslation, EscapeIsTwentySevenWithOrWithoutItsCharacter) {
    EXPECT_EQ((Codes{27}), codesOf(keyDown(0x1B, 27)));
    EXPECT_EQ((Codes{27}), codesOf(keyDown(0x1B, 0)));
}

TEST(KeyTranslation, AltDigitsStandForF1ToF10AndAltLettersAreExtended) {
    using platform::modifier::LeftAlt;
    using platform::modifier::LeftCtrl;
    using platform::modifier::RightAlt;
    EXPECT_EQ((Codes{0, 59}), codesOf(keyDown(0x31, '1', LeftAlt)));
    EXPECT_EQ((Codes{0, 67}), codesOf(keyDown(0x39, '9', RightAlt)));
    EXPECT_EQ((Codes{0, 68}), codesOf(keyDown(0x30, '0', LeftAlt)));
    // Ctrl+Alt is AltGr, which types characters.
    EXPECT_EQ((Codes{'2'}), codesOf(keyDown(0x32, '2', RightAlt | LeftCtrl)));
    // Alt with a letter is 0 and the letter key's scan code.
    EXPECT_EQ((Codes{0, 30}), codesOf(keyDown(0x41, 'a', LeftAlt)));
    EXPECT_EQ((Codes{0, 44}), codesOf(keyDown(0x5A, 'Z', LeftAlt)));
    EXPECT_EQ((Codes{'a'}), codesOf(keyDown(0x41, 'a', RightAlt | LeftCtrl)));
}

TEST(KeyTranslation, ReleasesAndKeysWithoutACodeGiveNothing) {
    ConsoleKeyEvent release = keyDown(0x70);
    release.keyDown = false;
    EXPECT_TRUE(codesOf(release).empty());
    release = keyDown(0x41, 'a');
    release.keyDown = false;
    EXPECT_TRUE(codesOf(release).empty());
    EXPECT_TRUE(codesOf(keyDown(0x10, 0, platform::modifier::Shift)).empty());  // Shift alone
    EXPECT_TRUE(codesOf(keyDown(0x11, 0, platform::modifier::LeftCtrl)).empty());
    EXPECT_TRUE(codesOf(keyDown(0, 0)).empty());  // a key Wine could not name
}

TEST(KeyTranslation, CodesAreAppendedAfterWhatIsQueued) {
    std::deque<int> codes{'z'};
    platform::translateKeyEvent(keyDown(0x70), codes);
    platform::translateKeyEvent(keyDown(0x41, 'a'), codes);
    EXPECT_EQ((std::deque<int>{'z', 0, 59, 'a'}), codes);
}

}  // namespace
