// Memory transfers started from the keyboard, the whole way: chord, argument
// prompt, wire exchange, stars, fresh prompt.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"

namespace {

using namespace e2e;

std::size_t countOf(const std::string& text, char wanted) {
    std::size_t count = 0;
    for (const char c : text) count += c == wanted ? 1 : 0;
    return count;
}

TEST(ConsoleTransfer, DloadFromTheKeyboardFillsTargetMemory) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    const std::string data = patternBytes(5000, 7);
    ASSERT_TRUE(writeFile(path, data));
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();

    ASSERT_TRUE(console.sendKeys(std::string(keys::F9) + std::string(keys::F4)));
    ASSERT_TRUE(console.waitForScreen("DLOAD <file> <addr>:", eventTimeout));
    const std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys(path + " 80010000\r"));
    ASSERT_TRUE(session.waitForPrompt(mark)) << console.screenSince(mark);

    const std::string shown = console.screenSince(mark);
    // Stars only while the worker runs: at most one per whole block.
    EXPECT_LE(countOf(shown, '*'), 2u) << shown;
    EXPECT_EQ(shown.find("transfer failed"), std::string::npos) << shown;
    EXPECT_EQ(textOf(session.target().readMemory(0x80010000, 5000)), data);
    EXPECT_EQ(session.target().exchangesCompleted(), 1);
    EXPECT_EQ(session.quit(), 0);
}

TEST(ConsoleTransfer, DsaveFromTheKeyboardWritesTheHostFile) {
    TempFolder folder;
    const std::string path = folder.file("saved.bin");
    const std::string data = patternBytes(6000, 11);
    ConsoleOnTarget session;
    session.target().writeMemory(0x80020000, std::vector<std::uint8_t>(data.begin(), data.end()));
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();

    ASSERT_TRUE(console.sendKeys(std::string(keys::F10) + std::string(keys::F4)));
    ASSERT_TRUE(console.waitForScreen("DSAVE <file> <addr> <length>:", eventTimeout));
    const std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys(path + " 80020000 1770\r"));
    ASSERT_TRUE(session.waitForPrompt(mark)) << console.screenSince(mark);

    EXPECT_EQ(readFile(path), data);
    EXPECT_LE(countOf(console.screenSince(mark), '*'), 2u) << console.screenSince(mark);
    EXPECT_EQ(session.target().exchangesCompleted(), 1);
    EXPECT_EQ(session.quit(), 0);
}

}  // namespace
