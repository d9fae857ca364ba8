// The console binary against the board firmware on QEMU's MIPS Malta: the
// example programs loaded in each format and run on a real (emulated) CPU,
// data moved with dload and dsave, a boot script, a cancelled transfer and
// the monitor's refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/batch_runner.h"
#include "tests/support/e2e_console.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/support/qemu_board.h"

namespace {

using namespace std::chrono_literals;
using e2e::keys::F10;
using e2e::keys::F4;
using e2e::keys::F9;

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

std::uint32_t byteSum(const std::string& bytes) {
    std::uint32_t sum = 0;
    for (const char byte : bytes) sum += static_cast<unsigned char>(byte);
    return sum;
}

class Board : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = e2e::QemuBoard::missing();
        if (!reason.empty()) GTEST_SKIP() << reason;
        ASSERT_TRUE(board.start()) << board.error();
    }

    // The console on the board's port. QEMU notices within a second that
    // the port was opened and holds or drops what came before, so carriage
    // returns ask for a prompt until one comes; then a command whose answer
    // is awaited leaves nothing of the start in flight.
    void startConsole(const std::vector<std::string>& extra = {}, bool settle = true) {
        std::vector<std::string> arguments{"-p" + board.port(), "-b115200"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        ASSERT_TRUE(console.start(arguments));
        for (int attempt = 0; attempt < 5; ++attempt) {
            const std::size_t from = console.mark();
            ASSERT_TRUE(console.sendKeys("\r"));
            if (!console.waitForScreen(">>", 3s, from)) continue;
            if (settle) {
                const std::string shown = command("help");
                ASSERT_NE(std::string::npos, shown.find("this list")) << shown;
            }
            return;
        }
        FAIL() << "no prompt from the board:\n" << console.screen();
    }

    // Everything from `from` up to the next prompt, once it is there.
    std::string untilPrompt(std::size_t from, const std::string& after = "") {
        const auto at = console.findOnScreen(after, e2e::eventTimeout, from);
        EXPECT_TRUE(at.has_value()) << "no \"" << after << "\":\n" << console.screenSince(from);
        const std::size_t start = at ? *at : from;
        EXPECT_TRUE(console.waitForScreen(">>", e2e::eventTimeout, start)) << console.screenSince(from);
        return console.screenSince(from);
    }

    std::string command(const std::string& line) {
        const std::size_t from = console.mark();
        EXPECT_TRUE(console.sendKeys(line + "\r"));
        return untilPrompt(from, "\n");
    }

    // A prompt still coming in the same pass as a chord overrides it: chords
    // wait for the board to fall quiet.
    std::string load(const std::string& path) {
        console.waitForQuiet(e2e::eventTimeout);
        const std::size_t from = console.mark();
        EXPECT_TRUE(console.sendKeys(F4));
        EXPECT_TRUE(console.waitForScreen("LOAD <file>:", e2e::eventTimeout, from));
        EXPECT_TRUE(console.sendKeys(path + "\r"));
        const std::string shown = untilPrompt(from, "format");
        EXPECT_EQ(std::string::npos, shown.find("transfer failed")) << shown;
        return shown;
    }

    std::string transfer(std::string_view chord, const std::string& prompt, const std::string& arguments) {
        console.waitForQuiet(e2e::eventTimeout);
        const std::size_t from = console.mark();
        EXPECT_TRUE(console.sendKeys(std::string(chord) + std::string(F4)));
        EXPECT_TRUE(console.waitForScreen(prompt, e2e::eventTimeout, from));
        EXPECT_TRUE(console.sendKeys(arguments + "\r"));
        return untilPrompt(from, arguments);
    }

    e2e::QemuBoard board;
    e2e::ConsoleProcess console;
    e2e::TempFolder files;
};

// Each example in one format: hello, sum over what dload put there, fill
// read back with dsave.
class EveryFormat : public Board, public ::testing::WithParamInterface<const char*> {};

TEST_P(EveryFormat, ExamplesRunAndReturnToThePrompt) {
    ASSERT_NO_FATAL_FAILURE(startConsole());
    const std::string format = GetParam();
    // An EXE names its own stack; ELF and ECOFF get the default.
    const std::string sp = format == "exe" ? "801f8000" : "801ffff0";
    const std::string formatMessage = format == "exe" ? "QORA-EXE format" : format == "ecoff" ? "kembri format" : "ELF format";

    EXPECT_NE(std::string::npos, load(e2e::QemuBoard::example("hello." + format)).find(formatMessage));
    std::string shown = command("g");
    EXPECT_NE(std::string::npos, shown.find("hello from the board")) << shown;
    EXPECT_NE(std::string::npos, shown.find("as linked, sp " + sp)) << shown;
    EXPECT_NE(std::string::npos, shown.find("program returned 0000002a")) << shown;

    const std::string data = e2e::patternBytes(5000, 17);
    ASSERT_TRUE(e2e::writeFile(files.file("data.bin"), data));
    transfer(F9, "DLOAD <file> <addr>:", files.file("data.bin") + " 80100000");
    load(e2e::QemuBoard::example("sum." + format));
    command("sr a0 80100000");
    command("sr a1 " + hex8(std::uint32_t(data.size())));
    shown = command("g");
    const std::string sum = hex8(byteSum(data));
    EXPECT_NE(std::string::npos, shown.find("sum of " + hex8(5000) + " bytes at 80100000: " + sum)) << shown;
    EXPECT_NE(std::string::npos, shown.find("program returned " + sum)) << shown;

    load(e2e::QemuBoard::example("fill." + format));
    command("sr a0 80180000");
    command("sr a1 1234");
    command("sr a2 5eed");
    shown = command("g");
    EXPECT_NE(std::string::npos, shown.find("filled 00001234 bytes at 80180000")) << shown;
    transfer(F10, "DSAVE <file> <addr> <length>:", files.file("filled.bin") + " 80180000 1234");
    // The fill program makes its bytes as the tests' own pattern does.
    EXPECT_TRUE(e2e::patternBytes(0x1234, 0x5eed) == e2e::readFile(files.file("filled.bin")))
        << "the saved bytes differ from the pattern";
}

INSTANTIATE_TEST_SUITE_P(Board, EveryFormat, ::testing::Values("elf", "ecoff", "exe"));

TEST_F(Board, BootScriptRunsUnattendedToItsEnd) {
    const std::string script = files.file("boot.txt");
    // The first line waits for the prompt that the carriage return brings.
    ASSERT_TRUE(e2e::writeFile(script, "local wait-prompt\nlocal load " + e2e::QemuBoard::example("hello.elf") +
                                           "\ng\ndw 80010000 1\nlocal echo boot script done\n"));
    ASSERT_NO_FATAL_FAILURE(startConsole({script}, false));
    ASSERT_TRUE(console.waitForScreen("boot script done", 30s)) << console.screen();
    const std::string shown = console.screen();
    const std::size_t hello = shown.find("hello from the board");
    const std::size_t dumped = shown.find("80010000: ");
    ASSERT_NE(std::string::npos, hello) << shown;
    EXPECT_NE(std::string::npos, shown.find("program returned 0000002a", hello)) << shown;
    EXPECT_NE(std::string::npos, dumped) << shown;
    EXPECT_LT(hello, dumped) << shown;
}

TEST_F(Board, CancelledTransferLeavesTheMonitorAtAPrompt) {
    ASSERT_NO_FATAL_FAILURE(startConsole());
    const std::string data = e2e::patternBytes(0x200000, 3);
    ASSERT_TRUE(e2e::writeFile(files.file("big.bin"), data));
    // QEMU moves the line's bytes on a host thread; on a machine loaded past
    // its cores a block's reply can miss the console's time-out before the
    // ESC, which is then never sent. Such a run is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::size_t from = console.mark();
        ASSERT_TRUE(console.sendKeys(std::string(F9) + std::string(F4)));
        ASSERT_TRUE(console.waitForScreen("DLOAD <file> <addr>:", e2e::eventTimeout, from));
        ASSERT_TRUE(console.sendKeys(files.file("big.bin") + " 80100000\r"));
        ASSERT_TRUE(console.waitForScreen("****", e2e::eventTimeout, from)) << console.screenSince(from);
        ASSERT_TRUE(console.sendEscape());
        if (console.screenSince(from).find("transfer failed") != std::string::npos) {
            untilPrompt(from, "transfer failed");
            continue;
        }
        // The host sent the abort byte at a block's start; the monitor says
        // so and prompts again without being asked.
        EXPECT_TRUE(console.waitForScreen("exchange aborted by the host", e2e::eventTimeout, from))
            << console.screenSince(from);
        EXPECT_TRUE(console.waitForScreen(">>", e2e::eventTimeout, from)) << console.screenSince(from);
        const std::string shown = command("dr");
        EXPECT_NE(std::string::npos, shown.find("epc=00000000")) << shown;
        return;
    }
    FAIL() << "every transfer failed before the ESC:\n" << console.screen();
}

TEST_F(Board, OutsideRamAndFaultsComeBackToThePrompt) {
    ASSERT_NO_FATAL_FAILURE(startConsole());
    ASSERT_TRUE(e2e::writeFile(files.file("small.bin"), e2e::patternBytes(3000, 5)));
    // 0x08000000 passes the console's own check but is no RAM on the board:
    // every block is refused and nothing is written.
    std::string shown = transfer(F9, "DLOAD <file> <addr>:", files.file("small.bin") + " 08000000");
    EXPECT_NE(std::string::npos, shown.find("refused: 08000000 length 00000bb8 is not free RAM")) << shown;
    // Reading the monitor's own memory back is refused too; the file stays empty.
    shown = transfer(F10, "DSAVE <file> <addr> <length>:", files.file("monitor.bin") + " 83f00000 100");
    EXPECT_NE(std::string::npos, shown.find("refused: 83f00000")) << shown;
    EXPECT_EQ("", e2e::readFile(files.file("monitor.bin")));

    // A program that stores to an unmapped address faults; the monitor
    // reports it and takes commands again.
    load(e2e::QemuBoard::example("fill.elf"));
    command("sr a0 00001000");
    command("sr a1 10");
    shown = command("g");
    EXPECT_NE(std::string::npos, shown.find("TLB miss on store")) << shown;
    EXPECT_NE(std::string::npos, shown.find("address 00001000")) << shown;
    shown = command("help");
    EXPECT_NE(std::string::npos, shown.find("dw ADDR [COUNT]")) << shown;
}

}  // namespace

// A CI job's run: the test program loaded, its a0 set, started, and the
// verdict taken from its result line.
TEST(BoardBatch, TheResultLineGivesTheRunsStatus) {
    const std::string reason = e2e::QemuBoard::missing();
    if (!reason.empty()) GTEST_SKIP() << reason;
    e2e::TempFolder files;
    for (const auto& [spoiled, status] : {std::pair{"0", 0}, {"2", 5}}) {
        e2e::QemuBoard board;
        ASSERT_TRUE(board.start()) << board.error();
        // QEMU takes up to a second to notice the port; the echo's carriage
        // return then brings the first prompt.
        const std::string script = files.file("ci.txt");
        ASSERT_TRUE(e2e::writeFile(script, "local sleep 1 echo go\nlocal load " + e2e::QemuBoard::example("check.elf") +
                                               "\nsr a0 " + spoiled + "\ng\n"));
        e2e::BatchRun run;
        run.configHome = files.path();
        run.output = files.file("out.txt");
        EXPECT_EQ(e2e::runConsole(run, {"-p" + board.port(), "-b115200", "--batch", "--timeout=60", "--expect",
                                        "RESULT: PASS", "--fail-on", "RESULT: FAIL", script}),
                  status)
            << e2e::readFile(run.output);
        EXPECT_NE(std::string::npos, e2e::readFile(run.output).find(status == 0 ? "check words: ok"
                                                                                : "check arithmetic: FAILED"))
            << e2e::readFile(run.output);
    }
}
