// Faults that need the whole program: the console binary on a terminal of
// its own, its serial port on the simulated target.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/faults/process_stats.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' shadow memory and bookkeeping outweigh the console's own.
constexpr long PeakBoundKiB = 128 * 1024;
#else
constexpr long PeakBoundKiB = 16 * 1024;
#endif

using namespace e2e;
using faults::cpuMilliseconds;
using faults::statusKiB;
using faults::threadCount;
using Bytes = std::vector<std::uint8_t>;

std::size_t countOf(const Bytes& bytes, std::uint8_t wanted) {
    return std::size_t(std::count(bytes.begin(), bytes.end(), wanted));
}

std::string pidOf(ConsoleProcess& console) { return std::to_string(console.pid()); }

// Starts a dload from the keyboard and returns the screen position before it.
std::size_t typeDload(ConsoleProcess& console, const std::string& path, const char* address) {
    console.waitForQuiet(eventTimeout);
    const std::size_t before = console.mark();
    EXPECT_TRUE(console.sendKeys(std::string(keys::F9) + std::string(keys::F4)));
    EXPECT_TRUE(console.waitForScreen("DLOAD <file> <addr>:", eventTimeout, before));
    const std::size_t mark = console.mark();
    EXPECT_TRUE(console.sendKeys(path + " " + address + "\r"));
    return mark;
}

TEST(ConsoleFaults, TheSerialDeviceVanishingMidTransferEndsItWithoutSpinning) {
    TempFolder folder;
    const std::string path = folder.file("image.bin");
    const std::string data = patternBytes(64 * 2048, 3);
    ASSERT_TRUE(writeFile(path, data));
    sim::Options options;
    options.baud = 230400;  // some 6 s for the file: it is still going when the line goes
    ConsoleOnTarget session(options);
    ASSERT_TRUE(session.start(230400));
    ConsoleProcess& console = session.console();
    sim::SimTarget& target = session.target();

    // A first small transfer, so that the count below holds any thread a
    // sanitizer's runtime starts with the first worker.
    const std::string small = folder.file("small.bin");
    ASSERT_TRUE(writeFile(small, data.substr(0, 100)));
    ASSERT_TRUE(session.waitForPrompt(typeDload(console, small, "80100000")));
    target.clearTranscript();
    const long threadsAtStart = threadCount(pidOf(console));
    const std::size_t mark = typeDload(console, path, "80010000");
    ASSERT_TRUE(target.waitUntil([&] { return countOf(target.bytes(sim::Direction::FromTarget), 'Y') >= 2; },
                                 eventTimeout));
    target.closeMaster();
    ASSERT_TRUE(console.waitForScreen("\r\ntransfer failed\r\n", eventTimeout, mark))
        << console.screenSince(mark);

    // What the target confirmed before it went is in its memory.
    const std::size_t confirmed = countOf(target.bytes(sim::Direction::FromTarget), 'Y');
    ASSERT_LT(confirmed, 64u);
    const auto kept = std::uint32_t(confirmed * 2048);
    EXPECT_EQ(textOf(target.readMemory(0x80010000, kept)), data.substr(0, kept));

    // The console waits for the port to come back, without spinning, and
    // the worker has gone.
    ASSERT_TRUE(console.waitForScreen("port lost, waiting for it\r\n", eventTimeout, mark));
    const long cpuBefore = cpuMilliseconds(pidOf(console));
    std::this_thread::sleep_for(milliseconds(1000));  // the measuring window itself
    const long cpuAfter = cpuMilliseconds(pidOf(console));
    const long threads = threadCount(pidOf(console));
    std::cout << "[ measured ] console on a vanished device: " << cpuAfter - cpuBefore
              << " ms CPU in 1000 ms, " << threads << " thread(s)\n";
    ASSERT_GE(cpuBefore, 0);
    EXPECT_LT(cpuAfter - cpuBefore, 150);
    EXPECT_EQ(threads, threadsAtStart) << "the worker has ended";
    EXPECT_TRUE(console.running());

    // Keys are dropped while the port is away; F10 F2 quits.
    ASSERT_TRUE(console.sendEscape());
    EXPECT_EQ(session.quit(), 0);
    EXPECT_FALSE(console.endedBySignal());
    EXPECT_TRUE(console.terminalRestored());
}

TEST(ConsoleFaults, DsaveOntoAFullDiskFailsAndLeavesWhatWasWritten) {
    TempFolder folder;
    const std::string path = folder.file("saved.bin");
    const std::string memory = patternBytes(4 * 2048, 5);
    ConsoleOnTarget session;
    session.target().writeMemory(0x80020000, Bytes(memory.begin(), memory.end()));
    // The file-size limit stands in for a full disk; ignored SIGXFSZ (kept
    // across exec) turns an over-long write into a failed one, as ENOSPC would.
    struct sigaction ignore {};
    struct sigaction before {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &before);
    const bool started = session.start();
    ::sigaction(SIGXFSZ, &before, nullptr);
    ASSERT_TRUE(started);
    ConsoleProcess& console = session.console();
    constexpr rlim_t Room = 5000;
    const rlimit limit{Room, RLIM_INFINITY};
    ASSERT_EQ(::prlimit(console.pid(), RLIMIT_FSIZE, &limit, nullptr), 0);

    ASSERT_TRUE(console.sendKeys(std::string(keys::F10) + std::string(keys::F4)));
    ASSERT_TRUE(console.waitForScreen("DSAVE <file> <addr> <length>:", eventTimeout));
    const std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys(path + " 80020000 2000\r"));
    const auto failed = console.findOnScreen("\r\ntransfer failed\r\n", eventTimeout, mark);
    ASSERT_TRUE(failed) << console.screenSince(mark);
    ASSERT_TRUE(session.waitForPrompt(*failed)) << console.screenSince(mark);

    // Two whole blocks and the part of the third the disk took.
    EXPECT_EQ(readFile(path), memory.substr(0, Room));
    // The third block was accepted on the wire before its write failed; the
    // abort byte follows, then the console's carriage return.
    const std::string sent = session.receivedByTarget();
    EXPECT_TRUE(sent.ends_with(std::string("\x02Y\x02Y\x02Y\xff\r"))) << sent.size();
    EXPECT_EQ(session.target().exchangesAborted(), 1);
    EXPECT_EQ(session.quit(), 0);
    EXPECT_FALSE(console.endedBySignal());
}

TEST(ConsoleFaults, AScriptWhoseTransferFailsStopsAndTheConsoleStaysUsable) {
    TempFolder folder;
    const std::string image = folder.file("image.bin");
    const std::string data = patternBytes(3000, 9);
    ASSERT_TRUE(writeFile(image, data));
    const std::string script = folder.file("run.txt");
    ASSERT_TRUE(writeFile(script, "local dload " + image + " 80010000\nsr epc 1234\n"));
    sim::Options options;
    options.faults.nakFirstBlocks = 3;  // the first block is refused three times, once
    ConsoleOnTarget session(options);
    ASSERT_TRUE(session.start(115200, {script}));
    ConsoleProcess& console = session.console();
    sim::SimTarget& target = session.target();

    const auto failed = console.findOnScreen("\r\ntransfer failed\r\n", eventTimeout);
    ASSERT_TRUE(failed) << console.screen();
    ASSERT_TRUE(session.waitForPrompt(*failed));
    EXPECT_EQ(target.exchangesAborted(), 1);

    // A typed command reaches the monitor; the script's next line never did.
    std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys("sr gp 5678\r"));
    EXPECT_TRUE(target.waitUntil([&] { return target.reg("gp") == 0x5678; }, eventTimeout));
    ASSERT_TRUE(session.waitForPrompt(mark));
    EXPECT_EQ(session.receivedByTarget().find("sr epc"), std::string::npos);
    EXPECT_NE(target.reg("epc"), 0x1234u);

    // And so does a transfer started from the keyboard.
    mark = typeDload(console, image, "80010000");
    ASSERT_TRUE(session.waitForPrompt(mark)) << console.screenSince(mark);
    EXPECT_EQ(console.screenSince(mark).find("transfer failed"), std::string::npos);
    EXPECT_EQ(textOf(target.readMemory(0x80010000, 3000)), data);
    EXPECT_EQ(target.exchangesCompleted(), 1);
    EXPECT_EQ(session.quit(), 0);
}

TEST(ConsoleResources, PeakResidentSizeOfATwoMebibyteDload) {
    TempFolder folder;
    const std::string path = folder.file("big.bin");
    const std::string data = patternBytes(0x200000, 13);
    ASSERT_TRUE(writeFile(path, data));
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start());
    ConsoleProcess& console = session.console();
    const long startPeak = statusKiB(pidOf(console), "VmHWM");

    const auto started = Clock::now();
    const std::size_t mark = typeDload(console, path, "80000000");
    ASSERT_TRUE(session.waitForPrompt(mark, milliseconds(60000))) << console.screenSince(mark).size();
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - started).count();
    const long peak = statusKiB(pidOf(console), "VmHWM");
    std::cout << "[ measured ] console peak resident size: " << startPeak << " KiB at start, "
              << peak << " KiB after a 2 MiB dload (" << took << " ms)\n";

    EXPECT_EQ(console.screenSince(mark).find("transfer failed"), std::string::npos);
    EXPECT_EQ(textOf(session.target().readMemory(0x80000000, 0x200000)), data);
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak, PeakBoundKiB) << "KiB";
    EXPECT_EQ(session.quit(), 0);
}

}  // namespace
