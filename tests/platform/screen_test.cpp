#include "platform/screen.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "platform/terminal.h"

namespace {

// Standard output swapped for a pipe for the length of a test.
class StdoutOnPipe : public ::testing::Test {
protected:
    void SetUp() override {
        platform::watchTerminationSignals();  // also keeps SIGPIPE from killing us
        std::fflush(stdout);
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        readEnd = fds[0];
        savedStdout = dup(STDOUT_FILENO);
        ASSERT_GE(savedStdout, 0);
        ASSERT_EQ(dup2(fds[1], STDOUT_FILENO), STDOUT_FILENO);
        ::close(fds[1]);
    }
    void TearDown() override {
        dup2(savedStdout, STDOUT_FILENO);
        ::close(savedStdout);
        if (readEnd >= 0) {
            ::close(readEnd);
        }
    }

    int readEnd = -1;
    int savedStdout = -1;
};

TEST_F(StdoutOnPipe, EveryByteArrivesAcrossPartialWrites) {
    // Far more than a pipe holds, so the write goes out in pieces.
    std::string text(300000, 'x');
    text[1] = '\0';
    text.back() = '!';
    std::string received;
    std::thread reader([this, &received] {
        char chunk[65536];
        while (received.size() < 300000) {
            const ssize_t got = ::read(readEnd, chunk, sizeof chunk);
            if (got <= 0) {
                break;
            }
            received.append(chunk, static_cast<std::size_t>(got));
        }
    });
    StdoutScreen().write(text.data(), text.size());
    reader.join();
    EXPECT_EQ(received, text);
}

TEST_F(StdoutOnPipe, AScreenThatHasGoneIsIgnored) {
    ::close(readEnd);
    readEnd = -1;
    StdoutScreen().write("lost", 4);
    SUCCEED();  // neither killed by SIGPIPE nor stuck
}

}  // namespace
