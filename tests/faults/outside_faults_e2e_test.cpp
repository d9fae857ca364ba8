// Faults found by trying the program from outside: the console binary on a
// terminal of its own, its serial port on the simulated target, every byte
// on the line recorded.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"

namespace {

using namespace e2e;

std::string chord(std::string_view first, std::string_view second) {
    return std::string(first) + std::string(second);
}

// Types an argument line after the chord that asks for it; gives the screen
// position before the line.
std::size_t typeCommand(ConsoleProcess& console, const std::string& keysIn, std::string_view prompt,
                        const std::string& line) {
    console.waitForQuiet(eventTimeout);
    const std::size_t before = console.mark();
    EXPECT_TRUE(console.sendKeys(keysIn));
    EXPECT_TRUE(console.waitForScreen(prompt, eventTimeout, before));
    const std::size_t mark = console.mark();
    EXPECT_TRUE(console.sendKeys(line + "\r"));
    return mark;
}

// Starts a dload of path to 80010000; gives the screen position before its line.
std::size_t startDload(ConsoleProcess& console, const std::string& path) {
    return typeCommand(console, chord(keys::F9, keys::F4), "DLOAD <file> <addr>:", path + " 80010000");
}

// Starts the console on a script; true once the message and then a prompt
// stand on the screen.
bool scriptSays(ConsoleOnTarget& session, const std::string& script, std::string_view message) {
    if (!session.start(115200, {script})) return false;
    const auto said = session.console().findOnScreen(message, eventTimeout);
    EXPECT_TRUE(said) << session.console().screen();
    return said && session.waitForPrompt(*said);
}

// Keys that terminals send with modifiers, and others the console has no use for.
const char* const strayKeys[] = {
    "\x1b[1;5C",  // Ctrl+Right
    "\x1b[Z",     // Shift+Tab
    "\x1b[15;5~", // Ctrl+F5
    "\x1b[23~",   // F11
    "\x1b[24;2~", // Shift+F12
    "\x1b" "x",   // Alt+x
    "\x1b[1;3D",  // Alt+Left
    "\x1b[?62c",  // a terminal's answer to an identity request
};

TEST(OutsideFaults, ModifiedAndUnknownKeysNeverCancelATransferNorReachTheTarget) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    // Without ESC and '[', so that any on the wire came from the keys.
    std::string data = patternBytes(40 * 2048, 21);
    for (char& byte : data) byte = byte == '\x1b' || byte == '[' ? 'e' : byte;
    ASSERT_TRUE(writeFile(path, data));
    sim::Options options;
    options.baud = 230400;  // some 4 s for the file: keys arrive while it runs
    ConsoleOnTarget session(options);
    ASSERT_TRUE(session.start(230400));
    ConsoleProcess& console = session.console();

    // At the prompt they are swallowed like any other function key.
    std::size_t sent = session.receivedCount();
    for (const char* key : strayKeys) ASSERT_TRUE(console.sendKeys(key));
    ASSERT_TRUE(console.sendKeys("zz"));
    ASSERT_TRUE(session.waitForTarget("zz", eventTimeout, sent));
    EXPECT_EQ(session.receivedByTarget().substr(sent), "zz");
    ASSERT_TRUE(console.sendKeys("\r"));
    ASSERT_TRUE(session.waitForPrompt(console.mark()));

    // During a transfer they are dropped like any key but ESC.
    const std::size_t mark = startDload(console, path);
    ASSERT_TRUE(console.waitForScreen("**", eventTimeout, mark));
    for (const char* key : strayKeys) {
        ASSERT_TRUE(console.sendKeys(key));
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(session.waitForPrompt(mark + 1, milliseconds(30000))) << console.screenSince(mark);
    EXPECT_EQ(console.screenSince(mark).find("transfer failed"), std::string::npos);
    EXPECT_EQ(session.target().exchangesAborted(), 0);
    EXPECT_EQ(textOf(session.target().readMemory(0x80010000, std::uint32_t(data.size()))), data);
    const std::string received = session.receivedByTarget();
    EXPECT_EQ(received.find("[1;5C"), std::string::npos);
    EXPECT_EQ(received.find('\x1b'), std::string::npos);
    EXPECT_EQ(session.quit(), 0);
}

TEST(OutsideFaults, AFailureInACalledScriptStopsItsCallerToo) {
    TempFolder folder;
    ASSERT_TRUE(writeFile(folder.file("inner.txt"), "local load " + folder.file("missing.exe") + "\n"));
    ASSERT_TRUE(writeFile(folder.file("outer.txt"), "local auto " + folder.file("inner.txt") + "\ndr\n"));
    // And a called script that ends by itself hands back at a prompt.
    ASSERT_TRUE(writeFile(folder.file("sets.txt"), "sr gp 5678\n"));
    ASSERT_TRUE(writeFile(folder.file("calls.txt"),
                          "local auto " + folder.file("sets.txt") + "\nsr epc 1234\n"));
    ConsoleOnTarget session;
    ConsoleProcess& console = session.console();
    ASSERT_TRUE(scriptSays(session, folder.file("outer.txt"), "file not found\r\n"));
    std::this_thread::sleep_for(milliseconds(400));  // a line sent after it would be here by now
    EXPECT_EQ(session.receivedByTarget().find("dr"), std::string::npos) << session.receivedByTarget();

    const std::size_t sent = session.receivedCount();
    const std::size_t mark =
        typeCommand(console, std::string(keys::F3), "AUTO <file>:", folder.file("calls.txt"));
    sim::SimTarget& target = session.target();
    ASSERT_TRUE(target.waitUntil([&] { return target.reg("epc") == 0x1234; }, eventTimeout));
    const auto last = console.findOnScreen("sr epc 1234", eventTimeout, mark);
    ASSERT_TRUE(last && session.waitForPrompt(*last)) << console.screenSince(mark);
    EXPECT_EQ(target.reg("gp"), 0x5678u);
    const std::string lines = session.receivedByTarget().substr(sent);
    ASSERT_NE(lines.find("sr gp 5678\n"), std::string::npos) << lines;
    EXPECT_LT(lines.find("sr gp 5678\n"), lines.find("sr epc 1234\n"));
    EXPECT_EQ(session.quit(), 0);
}

TEST(OutsideFaults, NumbersWiderThan32BitsAreRefusedAloud) {
    TempFolder folder;
    ASSERT_TRUE(writeFile(folder.file("t.bin"), patternBytes(100, 2)));
    ASSERT_TRUE(writeFile(folder.file("run.txt"),
                          "local dload " + folder.file("t.bin") + " 180100000\nsr epc 1234\n"));
    ConsoleOnTarget session;
    ConsoleProcess& console = session.console();
    ASSERT_TRUE(scriptSays(session, folder.file("run.txt"), "invalid address\r\n"));

    const std::size_t mark = typeCommand(console, chord(keys::F10, keys::F4),
                                         "DSAVE <file> <addr> <length>:",
                                         folder.file("o.bin") + " 80010000 123456789");
    const auto length = console.findOnScreen("invalid length\r\n", eventTimeout, mark);
    ASSERT_TRUE(length) << console.screenSince(mark);
    ASSERT_TRUE(session.waitForPrompt(*length));
    EXPECT_EQ(session.receivedByTarget().find("sr epc"), std::string::npos);
    EXPECT_EQ(session.target().exchangesCompleted() + session.target().exchangesAborted(), 0);
    EXPECT_EQ(session.quit(), 0);
}

TEST(OutsideFaults, AFifoForAFileNameIsRefusedAtOnce) {
    TempFolder folder;
    const std::string fifo = folder.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start(115200, {fifo}));
    ConsoleProcess& console = session.console();
    const auto script = console.findOnScreen("cannot open file\r\n", eventTimeout);
    ASSERT_TRUE(script) << console.screen();
    ASSERT_TRUE(session.waitForPrompt(*script));

    const struct {
        std::string keys;
        std::string_view prompt;
        std::string line;
        std::string_view message;
    } commands[] = {
        {std::string(keys::F4), "LOAD <file>:", fifo, "file not found\r\n"},
        {chord(keys::F9, keys::F4), "DLOAD <file> <addr>:", fifo + " 80010000", "cannot open file\r\n"},
        {chord(keys::F10, keys::F4), "DSAVE <file> <addr> <length>:", fifo + " 80010000 10",
         "cannot open file\r\n"},
        {std::string(keys::F3), "AUTO <file>:", fifo, "cannot open file\r\n"},
    };
    for (const auto& command : commands) {
        const std::size_t mark = typeCommand(console, command.keys, command.prompt, command.line);
        const auto told = console.findOnScreen(command.message, eventTimeout, mark);
        ASSERT_TRUE(told) << command.prompt << console.screenSince(mark);
        ASSERT_TRUE(session.waitForPrompt(*told)) << command.prompt;
    }
    struct stat status {};
    ASSERT_EQ(::stat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(session.target().exchangesCompleted() + session.target().exchangesAborted(), 0);
    EXPECT_EQ(session.quit(), 0);
}

class ClosedAtStart : public testing::TestWithParam<int> {};

TEST_P(ClosedAtStart, TheSerialPortNeverTakesAStandardDescriptor) {
    ConsoleOnTarget session;
    ConsoleProcess& console = session.console();
    console.closeAtStart(GetParam());
    ASSERT_TRUE(session.target().start());
    ASSERT_TRUE(console.start({session.portArgument(), "-b115200"}));
    // The target talks; none of it, and none of the banner, may go to it.
    std::this_thread::sleep_for(milliseconds(300));
    session.target().say("hello from the board\r\n>> ");
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(session.receivedByTarget(), "");
    if (GetParam() == 0) {
        // Its keys (/dev/null in place of the closed input) are at their end.
        EXPECT_EQ(console.waitForExit(eventTimeout), 0);
    } else {
        EXPECT_TRUE(console.running());
        EXPECT_EQ(session.quit(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(StdinStdout, ClosedAtStart, testing::Values(0, 1));

TEST(OutsideFaults, APortPathOfMoreThan99CharactersIsKeptWhole) {
    TempFolder folder;
    const std::string deep = folder.file(std::string(60, 'd'));
    ASSERT_EQ(::mkdir(deep.c_str(), 0700), 0);
    sim::Options options;
    options.linkPath = deep + "/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0";
    ASSERT_GT(options.linkPath.size(), 117u);
    ConsoleOnTarget session(options);
    ASSERT_TRUE(session.target().start());
    ASSERT_TRUE(session.console().start({"-p" + options.linkPath, "-b115200"}));
    ASSERT_TRUE(session.waitForPrompt(0)) << session.console().screen();
    EXPECT_NE(session.console().screen().find("port " + options.linkPath + " baud 115200"),
              std::string::npos);
    EXPECT_EQ(session.quit(), 0);
    std::ifstream settings(session.console().settingsPath());
    std::string line;
    std::getline(settings, line);
    EXPECT_EQ(line, "tolvanisPort=" + options.linkPath);
}

// Ctrl+Z from the shell's side, and fg after a while, as a job-control shell
// does them. Nothing goes out while stopped.
void suspendAndContinue(ConsoleOnTarget& session, milliseconds stopped) {
    ConsoleProcess& console = session.console();
    console.sendSignal(SIGTSTP);
    // Stopped, with the terminal as the shell had it.
    const auto deadline = Clock::now() + eventTimeout;
    while (!console.terminalRestored() && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    ASSERT_TRUE(console.terminalRestored());
    std::this_thread::sleep_for(stopped / 2);
    const std::size_t whileStopped = session.receivedCount();
    std::this_thread::sleep_for(stopped / 2);
    EXPECT_EQ(session.receivedCount(), whileStopped) << "stopped, the transfer waits";
    ASSERT_TRUE(console.setTerminal(console.terminalBefore()));
    console.sendSignal(SIGCONT);
}

TEST(OutsideFaults, SuspendedAndContinuedTheConsoleIsRawAgainAndItsTransferGoesOn) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    const std::string data = patternBytes(40 * 2048, 8);
    ASSERT_TRUE(writeFile(path, data));
    sim::Options options;
    options.baud = 230400;
    ConsoleOnTarget session(options);
    ConsoleProcess& console = session.console();
    console.runAsJob();
    ASSERT_TRUE(session.start(230400));
    ASSERT_TRUE(console.terminalRaw());

    const std::size_t mark = startDload(console, path);
    // Over a second into the transfer, a SIGCONT with no stop before it
    // fails nothing. It is handled before the stop: a stop signal would
    // discard it while still pending.
    ASSERT_TRUE(console.waitForScreen(std::string(14, '*'), eventTimeout, mark));
    console.sendSignal(SIGCONT);
    std::this_thread::sleep_for(milliseconds(300));
    suspendAndContinue(session, milliseconds(400));
    ASSERT_TRUE(session.waitForPrompt(mark + 1, milliseconds(30000))) << console.screenSince(mark);
    EXPECT_TRUE(console.terminalRaw());
    EXPECT_EQ(console.screenSince(mark).find("transfer failed"), std::string::npos);
    EXPECT_EQ(textOf(session.target().readMemory(0x80010000, std::uint32_t(data.size()))), data);
    // Again at the prompt: each Ctrl+Z gives the shell its terminal back.
    suspendAndContinue(session, milliseconds(0));
    const auto deadline = Clock::now() + eventTimeout;
    while (!console.terminalRaw() && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(console.terminalRaw());
    // F10 F2 is a chord again, not text echoed by the terminal.
    EXPECT_EQ(session.quit(), 0);
    EXPECT_TRUE(console.terminalRestored());
}

// A stop longer than the monitor waits in an exchange (2 s for the
// simulator): on fg the transfer ends with the abort byte, and no further
// block reaches a monitor that reads its bytes as commands.
// Neither the next block of a dload nor the "Y" of a dsave's block that
// came during the stop: the monitor has left the exchange meanwhile.
TEST(OutsideFaults, AfterALongStopTheTransferFailsInsteadOfSendingMoreBlocks) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    ASSERT_TRUE(writeFile(path, patternBytes(24 * 2048, 9)));
    for (const bool load : {true, false}) {
        sim::Options options;
        options.baud = 230400;
        ConsoleOnTarget session(options);
        ConsoleProcess& console = session.console();
        console.runAsJob();
        ASSERT_TRUE(session.start(230400));

        const std::size_t mark = load ? startDload(console, path)
                                      : typeCommand(console, chord(keys::F10, keys::F4),
                                                    "DSAVE <file> <addr> <length>:",
                                                    folder.file("saved.bin") + " 80010000 c000");
        ASSERT_TRUE(console.waitForScreen("*", eventTimeout, mark));
        console.sendSignal(SIGTSTP);
        std::this_thread::sleep_for(milliseconds(2600));
        const std::size_t stopped = session.receivedCount();
        ASSERT_TRUE(console.setTerminal(console.terminalBefore()));
        console.sendSignal(SIGCONT);
        ASSERT_TRUE(console.waitForScreen("transfer failed", eventTimeout, mark)) << console.screenSince(mark);
        ASSERT_TRUE(session.waitForPrompt(mark + 1));
        const std::string after = session.receivedByTarget().substr(stopped);
        EXPECT_EQ(after.rfind("\xff", 0), 0U) << (load ? "dload" : "dsave") << ": the abort byte first";
        EXPECT_LE(after.size(), 2U) << "then at most the carriage return that hands the line back";
        EXPECT_EQ(session.quit(), 0);
    }
}

// SIGSTOP while a block's reply is on its way, the reply sent during the
// stop (the simulator also leaves the exchange after a second of silence):
// whichever thread wakes first on SIGCONT, the worker sees the stop before
// it sends another block.
TEST(OutsideFaults, EveryLongStopEndsTheTransferWhicheverThreadWakesFirst) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    ASSERT_TRUE(writeFile(path, patternBytes(48 * 2048, 3)));
    sim::Options options;
    options.baud = 460800;  // a reply well within its time-out, stop after stop
    ConsoleOnTarget session(options);
    ConsoleProcess& console = session.console();
    ASSERT_TRUE(session.start(460800));
    int lateReplies = 0;
    for (int stop = 0; stop < 50;) {
        const std::size_t mark = startDload(console, path);
        const bool started = console.waitForScreen("*", eventTimeout, mark);
        if (!started || console.screenSince(mark).find("transfer failed") != std::string::npos) {
            // A loaded machine can make a reply late, and that transfer
            // fails by itself: not what is tried here.
            ASSERT_LT(lateReplies++, 5) << console.screenSince(mark);
            ASSERT_TRUE(session.waitForPrompt(mark + 1));
            continue;
        }
        console.sendSignal(SIGSTOP);
        std::this_thread::sleep_for(milliseconds(1100));
        const std::size_t stopped = session.receivedCount();
        console.sendSignal(SIGCONT);
        ASSERT_TRUE(console.waitForScreen("transfer failed", eventTimeout, mark))
            << stop << console.screenSince(mark);
        ASSERT_TRUE(session.waitForPrompt(mark + 1)) << stop;
        // After the stop at most the rest of a block whose write it cut,
        // then the abort byte and the carriage return: never a new block.
        std::string after = session.receivedByTarget().substr(stopped);
        if (after.ends_with('\r')) after.pop_back();
        if (after.ends_with('\xff')) after.pop_back();
        ASSERT_LT(after.size(), 2051U) << "stop " << stop << ": a block after it\n"
                                       << console.screenSince(mark);
        ++stop;
        // A cut block reaches a monitor that left the exchange as commands,
        // whose answers come late: once they are over, a prompt of its own.
        console.waitForQuiet(eventTimeout);
        const std::size_t settled = console.mark();
        ASSERT_TRUE(console.sendKeys("\r"));
        ASSERT_TRUE(session.waitForPrompt(settled));
        console.waitForQuiet(eventTimeout);
    }
    EXPECT_EQ(session.quit(), 0);
}

// ESC and then another key during a transfer: the keys are read as they
// come, so ESC is the ESC key and not the start of an Alt+letter.
TEST(OutsideFaults, EscapeFollowedByALetterStillCancelsATransfer) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    std::string data = patternBytes(40 * 2048, 5);
    for (char& byte : data) byte = byte == '\xff' ? 'f' : byte;  // 0xFF only as the abort
    ASSERT_TRUE(writeFile(path, data));
    sim::Options options;
    options.baud = 230400;
    ConsoleOnTarget session(options);
    ASSERT_TRUE(session.start(230400));
    ConsoleProcess& console = session.console();

    const std::size_t mark = startDload(console, path);
    ASSERT_TRUE(console.waitForScreen("**", eventTimeout, mark));
    const std::size_t sent = session.receivedCount();
    ASSERT_TRUE(console.sendKeys("\x1b"));
    std::this_thread::sleep_for(milliseconds(120));
    ASSERT_TRUE(console.sendKeys("a"));
    // The abort byte, then the letter, typed at the prompt again.
    ASSERT_TRUE(session.waitForTarget("\xff" "a", eventTimeout, sent)) << console.screenSince(mark);
    EXPECT_EQ(session.target().exchangesAborted(), 1);
    EXPECT_EQ(console.screenSince(mark).find("transfer failed"), std::string::npos);
    const std::size_t typed = console.mark();
    ASSERT_TRUE(console.sendKeys("\r"));
    ASSERT_TRUE(session.waitForPrompt(typed));
    console.waitForQuiet(eventTimeout);
    EXPECT_EQ(session.quit(), 0);
}

}  // namespace
