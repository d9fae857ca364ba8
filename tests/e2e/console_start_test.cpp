// Start-up as a user sees it: banner, settings file, ports that cannot be
// opened, and the ways out.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <cctype>

#include "tests/support/e2e_keys.h"
#include "tests/support/e2e_session.h"

namespace {

using namespace e2e;

constexpr int ExitQuit = 0;
constexpr int ExitNoPort = 1;

std::string bannerTail(const std::string& port, int baud) {
    return " - port " + port + " baud " + std::to_string(baud) + "\r\npress F1 for help\r\n\r\n";
}

// The banner opens the screen: the name, the build date as "Sep 17 2001",
// then the port and baud rate of the run.
// A build date as "Sep 17 2001": a month, the day padded to two places, a year.
bool isBuildDate(const std::string& text) {
    auto all = [&](std::size_t from, std::size_t to, int (*test)(int)) {
        for (std::size_t at = from; at < to; ++at) {
            if (!test(static_cast<unsigned char>(text[at]))) return false;
        }
        return true;
    };
    return text.size() == 11 && std::isupper(static_cast<unsigned char>(text[0])) &&
           all(1, 3, ::islower) && text[3] == ' ' &&
           (text[4] == ' ' || std::isdigit(static_cast<unsigned char>(text[4]))) &&
           std::isdigit(static_cast<unsigned char>(text[5])) && text[6] == ' ' &&
           all(7, 11, ::isdigit);
}

void expectBanner(const std::string& screen, const std::string& port, int baud) {
    const std::string opening = "TOLVANIS kembri console - ";
    ASSERT_EQ(screen.substr(0, opening.size()), opening) << screen;
    EXPECT_TRUE(isBuildDate(screen.substr(opening.size(), 11))) << screen;
    EXPECT_EQ(screen.substr(opening.size() + 11, bannerTail(port, baud).size()),
              bannerTail(port, baud))
        << screen;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

TEST(ConsoleStart, ShowsBannerAndMonitorAndQuitsCleanly) {
    ConsoleOnTarget session;
    ASSERT_TRUE(session.start(57600));
    ConsoleProcess& console = session.console();
    expectBanner(console.screen(), session.target().slavePath(), 57600);

    const std::string screen = console.screen();
    const std::size_t monitorBanner = screen.find("kembri resident monitor");
    ASSERT_NE(monitorBanner, std::string::npos) << screen;
    EXPECT_GT(monitorBanner, screen.find("press F1 for help"));
    EXPECT_NE(screen.find(">>", monitorBanner), std::string::npos);
    EXPECT_TRUE(console.terminalRaw());

    EXPECT_EQ(session.quit(), ExitQuit);
    EXPECT_TRUE(console.terminalRestored());
    // The chord is the console's own: none of its bytes reach the target.
    EXPECT_EQ(session.receivedByTarget(), "");
}

TEST(ConsoleStart, MissingDeviceIsReportedAndExitCodeSaysSo) {
    TempFolder folder;
    const std::string device = folder.file("no-such-device");
    ConsoleProcess console;
    ASSERT_TRUE(console.start({"-p" + device, "-b9600"}));
    EXPECT_EQ(console.waitForExit(eventTimeout), ExitNoPort);
    expectBanner(console.screen(), device, 9600);
    EXPECT_TRUE(console.screen().ends_with("press F1 for help\r\n\r\ncannot open port\r\n"))
        << console.screen();
    EXPECT_TRUE(console.terminalRestored());
    // The settings of the failed start are stored all the same.
    const std::string stored = readFile(console.settingsPath());
    EXPECT_NE(stored.find("tolvanisPort=" + device + "\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("tolvanisBaud=9600\n"), std::string::npos) << stored;
}

TEST(ConsoleStart, DeviceHeldByAnotherProgramIsBusy) {
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const int holder = ::open(target.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    {
        ConsoleProcess console;
        ASSERT_TRUE(console.start({"-p" + target.slavePath()}));
        EXPECT_EQ(console.waitForExit(eventTimeout), ExitNoPort);
        EXPECT_TRUE(console.screen().ends_with("cannot open port\r\n")) << console.screen();
        EXPECT_TRUE(console.terminalRestored());
    }
    // Once the other program lets go, the same device opens.
    ::close(holder);
    ConsoleProcess console;
    ASSERT_TRUE(console.start({"-p" + target.slavePath()}));
    EXPECT_TRUE(console.waitForScreen(">>", eventTimeout)) << console.screen();
}

TEST(ConsoleStart, StoredSettingsAreTheNextStartsDefaults) {
    TempFolder config;
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    const std::string port = target.slavePath();
    {
        ConsoleProcess first;
        first.setConfigHome(config.path());
        ASSERT_TRUE(first.start({"-p" + port, "-b57600"}));
        ASSERT_TRUE(first.waitForScreen(">>", eventTimeout));
        ASSERT_TRUE(first.sendKeys(std::string(keys::F10) + std::string(keys::F2)));
        ASSERT_EQ(first.waitForExit(eventTimeout), ExitQuit);
        const std::string stored = readFile(first.settingsPath());
        EXPECT_NE(stored.find("tolvanisPort=" + port + "\n"), std::string::npos) << stored;
        EXPECT_NE(stored.find("tolvanisBaud=57600\n"), std::string::npos) << stored;
    }
    ConsoleProcess second;
    second.setConfigHome(config.path());
    ASSERT_TRUE(second.start({}));
    ASSERT_TRUE(second.waitForScreen("press F1 for help", eventTimeout));
    expectBanner(second.screen(), port, 57600);
    // The same target answers a carriage return with a fresh prompt.
    const std::size_t mark = second.mark();
    ASSERT_TRUE(second.sendKeys(keys::Enter));
    EXPECT_TRUE(second.waitForScreen(">>", eventTimeout, mark)) << second.screen();
}

TEST(ConsoleStart, GarbledSettingsFileGivesDefaultsAndKeepsOtherLines) {
    using namespace std::string_literals;
    TempFolder config;
    ASSERT_TRUE(std::filesystem::create_directories(config.path() + "/kembri"));
    const std::string settings = config.path() + "/kembri/settings";
    ASSERT_TRUE(writeFile(settings, "\x01\x02 garbage\x7f\n"
                                    "tolvanisBaud=96x00\n"
                                    "other.tool=kept\n"
                                    "tolvanisBaud\n"
                                    "\0\0tolvanisBaud=300\n"
                                    "half a line without its end"s));
    sim::SimTarget target;
    ASSERT_TRUE(target.start());
    ConsoleProcess console;
    console.setConfigHome(config.path());
    // The port always comes from the command line: a test never opens a
    // real device.
    ASSERT_TRUE(console.start({"-p" + target.slavePath()}));
    ASSERT_TRUE(console.waitForScreen(">>", eventTimeout)) << console.screen();
    expectBanner(console.screen(), target.slavePath(), 115200);
    ASSERT_TRUE(console.sendKeys(std::string(keys::F10) + std::string(keys::F2)));
    ASSERT_EQ(console.waitForExit(eventTimeout), ExitQuit);

    // Our own lines are replaced; everyone else's are kept byte for byte.
    EXPECT_EQ(readFile(settings), "\x01\x02 garbage\x7f\n"
                                  "tolvanisBaud=115200\n"
                                  "other.tool=kept\n"
                                  "tolvanisBaud\n"
                                  "\0\0tolvanisBaud=300\n"
                                  "half a line without its end\n"
                                  "tolvanisPort="s + target.slavePath() + "\n");
}

TEST(ConsoleStart, HelpAndVersionTouchNeitherSettingsNorPort) {
    TempFolder folder;
    const std::string device = folder.file("no-such-device");
    for (const std::string option : {"--help", "--version"}) {
        ConsoleProcess console;
        ASSERT_TRUE(console.start({"-p" + device, option}));
        EXPECT_EQ(console.waitForExit(eventTimeout), ExitQuit) << option;
        const std::string screen = console.screen();
        EXPECT_NE(screen.find("tolvanis"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("cannot open port"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("TOLVANIS kembri console"), std::string::npos) << screen;
        EXPECT_FALSE(exists(console.configHome() + "/kembri")) << option;
        EXPECT_TRUE(console.terminalRestored());
    }
}

}  // namespace
