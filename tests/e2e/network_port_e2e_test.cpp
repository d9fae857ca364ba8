// The console on a target reached through a real ser2net on 127.0.0.1, as
// an RFC 2217 port and as a raw TCP port: the simulated monitor's pseudo-
// terminal is ser2net's serial device.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"
#include "tests/support/e2e_temp_folder.h"
#include "tests/support/ser2net_server.h"
#include "tests/loader/loader_files.h"

namespace {

using namespace e2e;

enum class Scheme { Rfc2217, Tcp };

// Every byte value, 0xFF (telnet's escape) in runs of its own, then a
// pattern: more than three blocks.
std::string everyByteValue() {
    std::string data;
    for (int round = 0; round < 8; ++round) {
        for (int value = 0; value < 256; ++value) data.push_back(static_cast<char>(value));
        data.append(16, '\xff');
    }
    return data + patternBytes(4000, 5);
}

std::string hex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

sim::Options linked(sim::Options options, const TempFolder& folder) {
    options.linkPath = folder.file("line");
    return options;
}

class NetworkSession {
public:
    explicit NetworkSession(sim::Options options = {})
        : session(linked(std::move(options), folder)), server(folder.file("line"), folder.path()) {}

    // ser2net, then the target and the console on it; the reason when not.
    std::string start(Scheme scheme, std::int32_t baud = 115200,
                      std::vector<std::string> extra = {}) {
        if (!server.start()) return server.error();
        url = scheme == Scheme::Rfc2217 ? server.rfc2217Url() : server.tcpUrl();
        extra.insert(extra.begin(), "-p" + url);
        if (!session.start(baud, extra)) return "no prompt: " + session.console().screen();
        return {};
    }

    // A chord, its argument prompt, then the arguments and Enter; where the
    // screen stood before the arguments (npos when the prompt did not come).
    std::size_t command(std::string_view chord, std::string_view prompt, const std::string& line) {
        ConsoleProcess& console = session.console();
        // A prompt still on its way through the server would override the chord.
        console.waitForQuiet(eventTimeout);
        const std::size_t before = console.mark();
        console.sendKeys(chord);
        if (!console.waitForScreen(prompt, eventTimeout, before)) return std::string::npos;
        const std::size_t mark = console.mark();
        console.sendKeys(line + "\r");
        return mark;
    }
    std::size_t dload(const std::string& path, const std::string& address) {
        return command(std::string(keys::F9) + std::string(keys::F4), "DLOAD <file> <addr>:",
                       path + " " + address);
    }
    std::size_t dsave(const std::string& path, const std::string& address, std::size_t length) {
        return command(std::string(keys::F10) + std::string(keys::F4),
                       "DSAVE <file> <addr> <length>:", path + " " + address + " " + hex(length));
    }
    std::size_t load(const std::string& path) { return command(keys::F4, "LOAD <file>:", path); }

    TempFolder folder;
    ConsoleOnTarget session;
    Ser2net server;
    std::string url;
};

class OverNetwork : public ::testing::TestWithParam<Scheme> {
protected:
    void SetUp() override {
        if (Ser2net::program().empty()) GTEST_SKIP() << "ser2net is not installed";
    }
};

TEST_P(OverNetwork, BannerTypingAndTransfersKeepEveryByte) {
    NetworkSession net;
    ASSERT_EQ(net.start(GetParam()), "");
    ConsoleProcess& console = net.session.console();
    EXPECT_NE(console.screen().find("port " + net.url + " baud 115200"), std::string::npos);

    std::size_t mark = console.mark();
    console.sendKeys("sr gp 1234\r");
    ASSERT_TRUE(net.session.waitForPrompt(mark));
    EXPECT_NE(console.screenSince(mark).find("sr gp 1234"), std::string::npos);
    EXPECT_EQ(net.session.target().reg("gp"), 0x1234u);

    const std::string data = everyByteValue();
    const std::string image = net.folder.file("image.bin");
    ASSERT_TRUE(writeFile(image, data));
    mark = net.dload(image, "80010000");
    ASSERT_NE(mark, std::string::npos) << console.screen();
    ASSERT_TRUE(net.session.waitForPrompt(mark)) << console.screenSince(mark);
    EXPECT_EQ(textOf(net.session.target().readMemory(0x80010000, std::uint32_t(data.size()))), data);

    const std::string saved = net.folder.file("saved.bin");
    mark = net.dsave(saved, "80010000", data.size());
    ASSERT_NE(mark, std::string::npos) << console.screen();
    ASSERT_TRUE(net.session.waitForPrompt(mark)) << console.screenSince(mark);
    EXPECT_EQ(readFile(saved), data);
    EXPECT_EQ(console.screen().find("transfer failed"), std::string::npos) << console.screen();
    EXPECT_EQ(net.session.target().exchangesCompleted(), 2);
    EXPECT_EQ(net.session.quit(), 0);
}

TEST_P(OverNetwork, LoadsExecutablesAndRunsAScript) {
    NetworkSession net;
    const std::string image = net.folder.file("image.bin");
    const std::string data = patternBytes(3000, 9);
    ASSERT_TRUE(writeFile(image, data));
    const std::string script = net.folder.file("run.txt");
    ASSERT_TRUE(writeFile(script, "local dload " + image + " 80030000\nsr epc 1234\n"));
    ASSERT_EQ(net.start(GetParam(), 115200, {script}), "");
    sim::SimTarget& target = net.session.target();
    ASSERT_TRUE(target.waitUntil([&] { return target.reg("epc") == 0x1234; }, eventTimeout));
    EXPECT_EQ(textOf(target.readMemory(0x80030000, 3000)), data);
    // Keys wait for the prompt after the script's last line.
    ConsoleProcess& console = net.session.console();
    const auto lastLine = console.findOnScreen("sr epc 1234", eventTimeout);
    ASSERT_TRUE(lastLine && net.session.waitForPrompt(*lastLine)) << console.screen();

    loadertest::ElfLayout elf;
    elf.entry = 0x80040010;
    elf.segments.push_back(loadertest::segment(0x80040000, loadertest::pattern(5000, 3)));
    const std::string elfPath = net.folder.file("program.elf");
    const auto elfBytes = loadertest::elfImage(elf);
    ASSERT_TRUE(writeFile(elfPath, std::string(elfBytes.begin(), elfBytes.end())));
    loadertest::ExeLayout exe;
    exe.loadAddress = 0x80060000;
    exe.initialPc = 0x80060000;
    exe.data = loadertest::pattern(4500, 4);
    const std::string exePath = net.folder.file("program.exe");
    const auto exeBytes = loadertest::exeImage(exe);
    ASSERT_TRUE(writeFile(exePath, std::string(exeBytes.begin(), exeBytes.end())));

    std::size_t mark = net.load(elfPath);
    ASSERT_NE(mark, std::string::npos) << console.screen();
    ASSERT_TRUE(net.session.waitForPrompt(mark)) << console.screenSince(mark);
    EXPECT_EQ(target.readMemory(0x80040000, 5000), loadertest::pattern(5000, 3));
    EXPECT_EQ(target.reg("epc"), 0x80040010u);
    mark = net.load(exePath);
    ASSERT_NE(mark, std::string::npos) << console.screen();
    ASSERT_TRUE(net.session.waitForPrompt(mark)) << console.screenSince(mark);
    EXPECT_EQ(target.readMemory(0x80060000, 4500), exe.data);
    EXPECT_EQ(target.reg("epc"), 0x80060000u);
    EXPECT_EQ(target.reg("gp"), exe.initialGp);
    EXPECT_EQ(console.screen().find("transfer failed"), std::string::npos) << console.screen();
    EXPECT_EQ(net.session.quit(), 0);
}

TEST_P(OverNetwork, ServerGoingAwayMidTransferFailsItAndTheKeysStillWork) {
    sim::Options paced;
    paced.baud = 230400;
    NetworkSession net(paced);
    ASSERT_EQ(net.start(GetParam(), 230400), "");
    ConsoleProcess& console = net.session.console();
    const std::string image = net.folder.file("image.bin");
    ASSERT_TRUE(writeFile(image, patternBytes(400000, 2)));  // about 18 s on this line
    const std::size_t mark = net.dload(image, "80010000");
    ASSERT_NE(mark, std::string::npos) << console.screen();
    ASSERT_TRUE(console.waitForScreen("*", eventTimeout, mark));
    net.server.stop();

    const auto failed = console.findOnScreen("transfer failed", eventTimeout, mark);
    ASSERT_TRUE(failed) << console.screenSince(mark);
    // The line is gone: the keys still reach the console, and it quits.
    console.sendEscape();
    EXPECT_EQ(net.session.quit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Schemes, OverNetwork, ::testing::Values(Scheme::Rfc2217, Scheme::Tcp),
                         [](const ::testing::TestParamInfo<Scheme>& param) {
                             return param.param == Scheme::Rfc2217 ? "Rfc2217" : "Tcp";
                         });

TEST(OverRfc2217, DloadAtTheTargetsOwnPaceIsNeverRefused) {
    if (Ser2net::program().empty()) GTEST_SKIP() << "ser2net is not installed";
    sim::Options paced;
    paced.baud = 115200;
    NetworkSession net(paced);
    ASSERT_EQ(net.start(Scheme::Rfc2217, 115200), "");
    const std::string image = net.folder.file("image.bin");
    const std::string data = patternBytes(5 * 2048, 8);
    ASSERT_TRUE(writeFile(image, data));
    net.session.target().clearTranscript();
    const std::size_t mark = net.dload(image, "80010000");
    ASSERT_NE(mark, std::string::npos) << net.session.console().screen();
    ASSERT_TRUE(net.session.waitForPrompt(mark)) << net.session.console().screenSince(mark);

    // One "Y" per block, no "N": every block arrived whole the first time.
    const std::string replies = textOf(net.session.target().bytes(sim::Direction::FromTarget));
    EXPECT_EQ(std::count(replies.begin(), replies.end(), 'N'), 0) << replies;
    EXPECT_EQ(std::count(replies.begin(), replies.end(), 'Y'), 5) << replies;
    EXPECT_EQ(textOf(net.session.target().readMemory(0x80010000, std::uint32_t(data.size()))), data);
    EXPECT_EQ(net.session.quit(), 0);
}

TEST(OverRfc2217, NoServerAtStartCannotOpenThePort) {
    // Nothing listens on port 1: the connection is refused.
    ConsoleProcess console;
    ASSERT_TRUE(console.start({"-prfc2217://127.0.0.1:1", "-b115200"}));
    EXPECT_EQ(console.waitForExit(eventTimeout), 1);
    EXPECT_NE(console.screen().find("port rfc2217://127.0.0.1:1 baud 115200"), std::string::npos);
    EXPECT_NE(console.screen().find("cannot open port\r\nthe connection was refused\r\n"),
              std::string::npos)
        << console.screen();
}

TEST(OverRfc2217, AnAddressThatCannotBeValidIsRefusedBeforeAnythingIsStored) {
    for (const char* url : {"-prfc2217://127.0.0.1:65536", "-ptelnet://127.0.0.1:23",
                            "-ptcp://user@127.0.0.1:2002", "-prfc2217://::1:2217"}) {
        ConsoleProcess console;
        ASSERT_TRUE(console.start({url, "-b115200"}));
        EXPECT_EQ(console.waitForExit(eventTimeout), 1) << url;
        EXPECT_NE(console.screen().find(std::string("tolvanis: port ") + (url + 2) + ": "),
                  std::string::npos)
            << console.screen();
        EXPECT_EQ(readFile(console.settingsPath()), "") << url;
    }
}

// A server that accepts (the kernel does, for the listener's backlog) and
// then says nothing: F10 F2 or Alt+0 Alt+2 need not wait out the
// negotiation's three seconds.
TEST(OverRfc2217, TheQuitChordEndsTheFirstConnectionAtOnce) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "-prfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    for (const std::string& chord : {std::string(keys::F10) + std::string(keys::F2),
                                     std::string(keys::Alt0) + std::string(keys::Alt2)}) {
        ConsoleProcess console;
        ASSERT_TRUE(console.start({url, "-b115200"}));
        ASSERT_TRUE(console.waitForScreen("press F1 for help", eventTimeout));
        const auto sent = Clock::now();
        ASSERT_TRUE(console.sendKeys(chord));
        EXPECT_EQ(console.waitForExit(eventTimeout), 0);
        EXPECT_LT(Clock::now() - sent, milliseconds(1500));
        EXPECT_EQ(console.screen().find("cannot open port"), std::string::npos) << console.screen();
    }
    ::close(listener);
}

// ser2net frees its device a moment after a connection ends (a real UART
// drains first), and meanwhile closes a new connection to the device at
// once: a console started right after another asks again instead of
// failing, and what was typed meanwhile goes out once it is in.
TEST(OverRfc2217, AStartRightAfterTheLastConnectionWaitsForTheServersDevice) {
    if (Ser2net::program().empty()) GTEST_SKIP() << "ser2net is not installed";
    NetworkSession net;
    ASSERT_EQ(net.start(Scheme::Tcp), "");
    ConsoleProcess next;
    ASSERT_TRUE(next.start({"-p" + net.server.rfc2217Url(), "-b115200"}));
    ASSERT_TRUE(next.waitForScreen("press F1 for help", eventTimeout));
    std::this_thread::sleep_for(milliseconds(300));  // turned away at least once
    ASSERT_TRUE(next.sendKeys("\r"));  // typed ahead: it goes out once the port is open
    ASSERT_EQ(net.session.quit(), 0);
    EXPECT_TRUE(next.waitForScreen(">>", eventTimeout)) << next.screen() << net.server.log();
    EXPECT_EQ(next.screen().find("cannot open port"), std::string::npos) << next.screen();
    next.sendKeys(std::string(keys::F10) + std::string(keys::F2));
    EXPECT_EQ(next.waitForExit(eventTimeout), 0);
}

}  // namespace
