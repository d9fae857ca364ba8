#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "platform/session_log.h"
#include "support/fakes.h"

namespace {

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SessionLog : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvanis-log-test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }
    std::string folder;
};

TEST_F(SessionLog, TimeStampsBeginEachLineAcrossWrites) {
    const std::string path = folder + "/log";
    platform::LogFile log;
    std::string error;
    ASSERT_TRUE(log.open(path, error)) << error;
    fakes::ScreenText screen;
    LoggingScreen logging(screen, log, true);
    for (const char* text : {"ab", "c\r\nd", "\n", "\n\n", "*", "*\n"}) logging.write(text, std::strlen(text));

    EXPECT_EQ(screen.text, "abc\r\nd\n\n\n**\n");
    const std::regex stamped(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )([^\n]*\n))");
    std::string logged = contents(path);
    std::string lines;
    for (std::smatch match; std::regex_search(logged, match, stamped,
                                              std::regex_constants::match_continuous);
         logged = match.suffix()) {
        lines += match[2];
    }
    EXPECT_EQ(logged, "") << "every line stamped";
    EXPECT_EQ(lines, "abc\r\nd\n\n\n**\n");
}

TEST_F(SessionLog, AFailingLogWarnsOnceAndTheScreenLosesNothing) {
    platform::LogFile log;
    std::string error;
    ASSERT_TRUE(log.open("/dev/full", error)) << error;
    fakes::ScreenText screen;
    LoggingScreen logging(screen, log, false);
    logging.write("one\n", 4);
    logging.write("two\n", 4);
    EXPECT_EQ(screen.text, "one\ncannot write the log (No space left on device), logging stopped\ntwo\n");
}

TEST_F(SessionLog, WhatIsNoFileToLogToIsRefusedAtOnce) {
    int master = -1;
    int slave = -1;
    char terminal[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, terminal, nullptr, nullptr), 0);
    ASSERT_EQ(::mkfifo((folder + "/fifo").c_str(), 0600), 0);
    platform::LogFile log;
    for (const std::string& path : {folder, folder + "/missing/log", folder + "/fifo",
                                    std::string(terminal)}) {
        std::string error;
        EXPECT_FALSE(log.open(path, error)) << path;
        EXPECT_FALSE(error.empty()) << path;
    }
    ::close(master);
    ::close(slave);

    // An existing log is added to, never emptied.
    const std::string path = folder + "/kept";
    std::ofstream(path) << "before\n";
    std::string error;
    ASSERT_TRUE(log.open(path, error)) << error;
    ASSERT_TRUE(log.append("after\n", 6, error)) << error;
    log.close();
    EXPECT_EQ(contents(path), "before\nafter\n");
}

}  // namespace
