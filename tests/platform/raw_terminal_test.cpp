#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

bool sameMode(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// The probe program on a fresh pty, its reports read from a pipe.
class ProbeOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        ASSERT_EQ(tcgetattr(slave, &original), 0);
    }

    void TearDown() override {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (reports >= 0) {
            ::close(reports);
        }
        ::close(master);
        ::close(slave);
    }

    // With ownTerminal, the pty is the probe's controlling terminal and the
    // probe its foreground job, as the console is in a shell.
    void start(const char* mode, bool ownTerminal = false) {
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (ownTerminal && (setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) != 0)) _exit(126);
            dup2(slave, STDIN_FILENO);
            dup2(pipeFds[1], STDOUT_FILENO);
            execl(RAW_TERMINAL_PROBE, RAW_TERMINAL_PROBE, mode, static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(pipeFds[1]);
        reports = pipeFds[0];
    }

    // The probe's next report line, or "" when none came within the deadline.
    std::string nextReport() {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (true) {
            const std::size_t end = pending.find('\n');
            if (end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now()).count();
            pollfd input{reports, POLLIN, 0};
            if (left <= 0 || poll(&input, 1, static_cast<int>(left)) <= 0) {
                return "";
            }
            char chunk[256];
            const ssize_t got = ::read(reports, chunk, sizeof chunk);
            if (got <= 0) {
                return "";
            }
            pending.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // The probe's exit status once its reports have ended, or -1.
    int exitStatus() {
        while (!nextReport().empty()) {
        }
        int status = 0;
        for (int tries = 0; tries < 500; ++tries) {
            const pid_t done = waitpid(child, &status, WNOHANG);
            if (done == child) {
                child = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

    termios currentMode() const {
        termios mode{};
        tcgetattr(slave, &mode);
        return mode;
    }

    void expectRaw() const {
        const termios mode = currentMode();
        EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(mode.c_iflag & (ICRNL | IXON), 0u);
        EXPECT_EQ(mode.c_oflag & (OPOST | ONLCR), static_cast<tcflag_t>(OPOST | ONLCR));
        EXPECT_EQ(mode.c_cc[VMIN], 1);
        EXPECT_EQ(mode.c_cc[VTIME], 0);
    }

    void type(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    int master = -1;
    int slave = -1;
    termios original{};
    pid_t child = -1;
    int reports = -1;
    std::string pending;
};

class RawTerminalSignals : public ProbeOnPty, public ::testing::WithParamInterface<int> {};

TEST_P(RawTerminalSignals, RawUntilASignalThenRestored) {
    start("signal");
    ASSERT_EQ(nextReport(), "raw");
    expectRaw();
    // Ctrl-C is a key, not a signal; and the keys are decoded.
    type("\x03\x1b[A");
    EXPECT_EQ(nextReport(), "key 3");
    EXPECT_EQ(nextReport(), "key 224");
    EXPECT_EQ(nextReport(), "key 72");
    ASSERT_EQ(kill(child, GetParam()), 0);
    EXPECT_EQ(nextReport(), "terminated");
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(sameMode(currentMode(), original));
}

INSTANTIATE_TEST_SUITE_P(FromOutside, RawTerminalSignals, ::testing::Values(SIGTERM, SIGHUP, SIGINT));

TEST_F(ProbeOnPty, ExitWithoutTheDestructorStillRestores) {
    start("exit");
    ASSERT_EQ(nextReport(), "raw");
    expectRaw();
    type("q");
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(sameMode(currentMode(), original));
}

TEST_F(ProbeOnPty, NormalModeForAnExternalCommand) {
    start("normal-while", true);
    ASSERT_EQ(nextReport(), "raw");
    type("x");
    ASSERT_EQ(nextReport(), "normal");
    EXPECT_TRUE(sameMode(currentMode(), original));
    // A continue (fg) meanwhile leaves the command its normal mode.
    ASSERT_EQ(kill(child, SIGCONT), 0);
    usleep(100000);
    EXPECT_TRUE(sameMode(currentMode(), original));
    type("line\n");
    ASSERT_EQ(nextReport(), "raw again");
    expectRaw();
    type("y");
    EXPECT_EQ(exitStatus(), 0);
    EXPECT_TRUE(sameMode(currentMode(), original));
}

}  // namespace
