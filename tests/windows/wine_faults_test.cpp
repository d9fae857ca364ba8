// tolvanis.exe under Wine where only the Windows program went wrong: Ctrl+C
// in a batch run, file names beyond ASCII, keys piped from outside Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/loader/loader_files.h"
#include "tests/windows/wine_fixture.h"
#include "tests/windows/wine_session.h"

namespace {

using namespace std::chrono_literals;
using winetest::prefix;
using winetest::Wine;

// xterm's keys; Wine's console turns them into key events.
constexpr const char* F2 = "\x1bOQ";
constexpr const char* F4 = "\x1bOS";
constexpr const char* F9 = "\x1b[20~";
constexpr const char* F10 = "\x1b[21~";
// What the console's keys are typed in, whatever the harness runs under.
const wine::Environment Utf8Terminal{{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}};

std::string patternFile(const std::string& path, std::size_t size) {
    const std::vector<std::uint8_t> data = loadertest::pattern(size, 31);
    const std::string bytes(data.begin(), data.end());
    return wine::writeFile(path, bytes) ? bytes : std::string();
}

TEST_F(Wine, CtrlCEndsABatchRunWith130) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("interrupt");
    ASSERT_TRUE(wine::writeFile(folder + "/s.txt", wine::windowsLines({"local echo sleeping", "local sleep 30"})));
    wine::ConsoleProgram run(*prefix, {console, "-pCOM1", "--batch", "s.txt"}, folder);
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitForText("sleeping", 30s)) << run.screen();
    const auto pressed = std::chrono::steady_clock::now();
    run.type("\x03");
    EXPECT_EQ(130, run.waitForExit(20s)) << run.screen();
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, 10s);
}

// Keys come in the console's code page (é is 0x82 in 437, a low quote in
// 1252): the file opened is the one whose name the user typed and saw.
TEST_F(Wine, FileNamesTypedAtAPromptAreTheNamesShown) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("typed");
    const std::string data = patternFile(folder + "/dätä.bin", 64);
    wine::ConsoleProgram program(*prefix, {console, "-pCOM1"}, folder, Utf8Terminal);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForEnding(">>", 30s)) << program.screen();
    program.type(std::string(F9) + F4);
    ASSERT_TRUE(program.waitForText("DLOAD <file> <addr>:", 20s)) << program.screen();
    program.type("dätä.bin 80020000\r");
    ASSERT_TRUE(program.waitUntil([&] { return target->exchangesCompleted() == 1; }, 30s)) << program.screen();
    ASSERT_TRUE(program.waitForEnding(">>", 20s)) << program.screen();
    program.type(std::string(F10) + F4);
    ASSERT_TRUE(program.waitForText("DSAVE <file> <addr> <length>:", 20s)) << program.screen();
    program.type("kéy.bin 80020000 40\r");
    ASSERT_TRUE(program.waitUntil([&] { return target->exchangesCompleted() == 2; }, 30s)) << program.screen();
    ASSERT_TRUE(program.waitForEnding(">>", 20s)) << program.screen();
    EXPECT_TRUE(winetest::contains(program.normalisedScreen(), "kéy.bin 80020000 40")) << program.screen();
    program.type(std::string(F10) + F2);
    EXPECT_EQ(0, program.waitForExit(20s)) << program.screen();
    EXPECT_EQ(data, wine::readFile(folder + "/kéy.bin").value_or("")) << "saved under another name";
}

// Today's editors save UTF-8; older ones the ANSI code page (ä is 0xE4 in
// 1252).
TEST_F(Wine, ScriptFileNamesInUtf8OrTheAnsiCodePage) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("named");
    const std::string data = patternFile(folder + "/dätä.bin", 64);
    ASSERT_TRUE(wine::writeFile(folder + "/names.txt",
                                wine::windowsLines({"local dload dätä.bin 80020000",
                                                    "local dsave s\xe4ved.bin 80020000 40"})));
    wine::ConsoleProgram run(*prefix, {console, "-pCOM1", "--batch", "names.txt"}, folder, Utf8Terminal);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(0, run.waitForExit(60s)) << run.screen();
    EXPECT_EQ(data, wine::readFile(folder + "/säved.bin").value_or("")) << run.screen();
}

// Without a console CON cannot be opened at all; NUL opens as a device.
TEST_F(Wine, DeviceNamesAreNoFileToLogTo) {
    for (const std::string device : {"CON", "NUL"}) {
        const wine::CommandResult run = prefix->wine({console, "-pCOM1", "--log", device, "--batch", "s.txt"});
        EXPECT_EQ(1, run.exitCode) << run.output;
        EXPECT_TRUE(winetest::contains(wine::normalised(run.output),
                                       "cannot open log " + device + ": not a file to log to"))
            << run.output;
    }
}

TEST_F(Wine, KeysPipedFromOutsideWineReachTheTarget) {
    const auto target = startTarget();
    ASSERT_NE(nullptr, target);
    const std::string folder = prefix->makeWorkFolder("piped");
    wine::ConsoleProgram program(*prefix, {console, "-pCOM1"}, folder, {}, wine::Input::Pipe);
    ASSERT_TRUE(program.started());
    ASSERT_TRUE(program.waitForEnding(">>", 30s)) << program.screen();
    program.pipe("dr\r");
    ASSERT_TRUE(program.waitForText("epc", 20s)) << program.screen();
    // F10 F2 as a pipe's bytes: each key's 0 prefix and scan code.
    program.pipe(std::string("\0D\0<", 4));
    EXPECT_EQ(0, program.waitForExit(20s)) << program.screen();
}

}  // namespace
