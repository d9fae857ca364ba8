// A port that goes away and comes back under the same name: the simulated
// target behind a symbolic link, stopped and started again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <string>

#include "tests/e2e/batch_runner.h"
#include "tests/faults/process_stats.h"
#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;

constexpr std::string_view Lost = "port lost, waiting for it\r\n";
constexpr std::string_view Back = "port back\r\n";

sim::Options linkedAt(const std::string& link, std::int32_t baud = 0) {
    sim::Options options;
    options.linkPath = link;
    options.baud = baud;
    return options;
}

std::string quitChord() { return std::string(keys::F10) + std::string(keys::F2); }

// CPU the console used over a second of waiting.
long cpuOverASecond(ConsoleProcess& console) {
    const std::string pid = std::to_string(console.pid());
    const long before = faults::cpuMilliseconds(pid);
    std::this_thread::sleep_for(milliseconds(1000));
    const long after = faults::cpuMilliseconds(pid);
    std::cout << "[ measured ] waiting for the port: " << after - before << " ms CPU in 1000 ms\n";
    return before < 0 ? 1000 : after - before;
}

// Starts the board that comes back; a line typed once the console says so
// reaches it.
void comeBackAndType(ConsoleProcess& console, sim::SimTarget& board, std::size_t mark) {
    ASSERT_TRUE(board.start());
    ASSERT_TRUE(console.waitForScreen(Back, eventTimeout, mark)) << console.screenSince(mark);
    ASSERT_TRUE(console.sendKeys("dw 80000000 1\r"));
    EXPECT_TRUE(board.waitUntil(
        [&] { return textOf(board.bytes(sim::Direction::ToTarget)).find("dw 80000000 1\r") !=
                     std::string::npos; },
        eventTimeout));
}

TEST(Reconnect, TheConsoleWaitsForThePortAndGoesOnWhenItIsBack) {
    TempFolder folder;
    const std::string link = folder.file("by-id-port");
    auto first = std::make_unique<sim::SimTarget>(linkedAt(link));
    ASSERT_TRUE(first->start());
    // A script that waits at its second line when the port goes: it stops,
    // so its third line never reaches the target that comes back.
    const std::string script = folder.file("script.txt");
    ASSERT_TRUE(writeFile(script, "local wait-prompt\nlocal wait-prompt\ndw 8000000c 1\n"));
    ConsoleProcess console;
    ASSERT_TRUE(console.start({"-p" + link, "--log", folder.file("log.txt"), script}));
    ASSERT_TRUE(console.waitForScreen(">>", eventTimeout));

    const std::size_t mark = console.mark();
    first->stop();  // the slave side reads EIO, and the name is gone
    ASSERT_TRUE(console.waitForScreen(Lost, eventTimeout, mark)) << console.screenSince(mark);
    EXPECT_LT(cpuOverASecond(console), 100);
    // Keys typed meanwhile are dropped, F10 alone does not quit.
    ASSERT_TRUE(console.sendKeys("typed while away\r" + std::string(keys::F10)));
    // The name back as a plain file, then as a folder: no port, so still away.
    ASSERT_TRUE(writeFile(folder.file("plain"), "not a port\n"));
    ASSERT_EQ(::symlink(folder.file("plain").c_str(), link.c_str()), 0);
    std::this_thread::sleep_for(milliseconds(500));
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::mkdir(link.c_str(), 0700), 0);
    std::this_thread::sleep_for(milliseconds(500));
    ASSERT_EQ(::rmdir(link.c_str()), 0);
    EXPECT_TRUE(console.running());
    EXPECT_EQ(console.screenSince(mark).find("port back"), std::string::npos);
    EXPECT_EQ(readFile(folder.file("plain")), "not a port\n");

    sim::SimTarget second(linkedAt(link));
    ASSERT_NO_FATAL_FAILURE(comeBackAndType(console, second, mark));
    EXPECT_EQ(textOf(second.bytes(sim::Direction::ToTarget)).find("typed"), std::string::npos);
    EXPECT_EQ(textOf(second.bytes(sim::Direction::ToTarget)).find("8000000c"), std::string::npos);
    const auto answer = console.findOnScreen("80000000: ", eventTimeout, mark);
    ASSERT_TRUE(answer.has_value());
    ASSERT_TRUE(console.waitForScreen(">>", eventTimeout, *answer));

    // The log kept the same session, messages included.
    ASSERT_TRUE(console.sendKeys(quitChord()));
    EXPECT_EQ(console.waitForExit(eventTimeout), 0);
    const std::string logged = readFile(folder.file("log.txt"));
    EXPECT_NE(logged.find("port lost, waiting for it\nport back\n"), std::string::npos) << logged;
    // The terminal shows each "\n" as "\r\n"; the log has the bytes printed.
    std::string shown;
    for (const char byte : logged) shown += byte == '\n' ? std::string("\r\n") : std::string(1, byte);
    EXPECT_EQ(console.screen(), shown);
}

TEST(Reconnect, APortLostDuringADloadFailsItAndComesBack) {
    TempFolder folder;
    const std::string link = folder.file("port");
    const std::string path = folder.file("image.bin");
    ASSERT_TRUE(writeFile(path, patternBytes(64 * 2048, 5)));
    sim::SimTarget first(linkedAt(link, 230400));  // some 6 s for the file
    ASSERT_TRUE(first.start());
    ConsoleProcess console;
    ASSERT_TRUE(console.start({"-p" + link, "-b230400"}));
    ASSERT_TRUE(console.waitForScreen(">>", eventTimeout));

    const std::size_t mark = console.mark();
    ASSERT_TRUE(console.sendKeys(std::string(keys::F9) + std::string(keys::F4) + path + " 80010000\r"));
    ASSERT_TRUE(first.waitUntil(
        [&] { return textOf(first.bytes(sim::Direction::FromTarget)).find('Y') != std::string::npos; },
        eventTimeout));
    first.closeMaster();  // the link stays, to a device that is dead
    ASSERT_TRUE(console.waitForScreen("transfer failed\r\n", eventTimeout, mark))
        << console.screenSince(mark);
    ASSERT_TRUE(console.waitForScreen(Lost, eventTimeout, mark)) << console.screenSince(mark);

    sim::SimTarget second(linkedAt(link));
    ASSERT_NO_FATAL_FAILURE(comeBackAndType(console, second, mark));

    // F10 F2 quits while the port is away.
    const std::size_t away = console.mark();
    second.stop();
    ASSERT_TRUE(console.waitForScreen(Lost, eventTimeout, away));
    ASSERT_TRUE(console.sendKeys(quitChord()));
    EXPECT_EQ(console.waitForExit(milliseconds(2000)), 0);
    EXPECT_TRUE(console.terminalRestored());
}

TEST(Reconnect, ABatchRunWithReconnectGoesOnWithItsScript) {
    TempFolder folder;
    const std::string link = folder.file("port");
    // A board that says nothing until it is power-cycled: the script waits
    // at its first line for a prompt that only the next board gives.
    sim::Options silent = linkedAt(link);
    silent.faults.silentAfterSentBytes = 0;
    auto first = std::make_unique<sim::SimTarget>(silent);
    ASSERT_TRUE(first->start());
    const std::string script = folder.file("script.txt");
    ASSERT_TRUE(writeFile(script, "local wait-prompt\ndw 80000004 1\n"));
    sim::SimTarget second(linkedAt(link));
    std::thread cycle([&] {
        std::this_thread::sleep_for(milliseconds(700));
        first->stop();
        std::this_thread::sleep_for(milliseconds(600));
        second.start();
    });
    BatchRun run;
    run.configHome = folder.path();
    run.output = folder.file("out.txt");
    // Watched for a verdict, the port is wrapped: the wrapper forgets the loss too.
    EXPECT_EQ(runConsole(run, {"-p" + link, "--batch", "--reconnect", "--timeout", "10", "--expect",
                               "^80000004: ", script}),
              0);
    cycle.join();
    const std::string shown = readFile(folder.file("out.txt"));
    EXPECT_NE(shown.find("port lost, waiting for it\nport back\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("port lost"), shown.rfind("port lost")) << "lost once: " << shown;
    EXPECT_NE(textOf(second.bytes(sim::Direction::ToTarget)).find("dw 80000004 1\n"), std::string::npos);
    EXPECT_NE(shown.find("80000004: "), std::string::npos) << shown;
}

TEST(Reconnect, ASignalEndsTheWaitForThePort) {
    TempFolder folder;
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string script = folder.file("script.txt");
    ASSERT_TRUE(writeFile(script, "local wait-prompt\nlocal wait-prompt\n"));
    ConsoleProcess console;
    console.setConfigHome(folder.path());
    ASSERT_TRUE(console.start({"-p" + target.slavePath(), "--batch", "--reconnect", script}));
    ASSERT_TRUE(console.waitForScreen(">>", eventTimeout));
    target.closeMaster();
    ASSERT_TRUE(console.waitForScreen("port lost, waiting for it", eventTimeout)) << console.screen();
    console.sendSignal(SIGTERM);
    EXPECT_EQ(console.waitForExit(milliseconds(2000)), 128 + SIGTERM);
}

}  // namespace
