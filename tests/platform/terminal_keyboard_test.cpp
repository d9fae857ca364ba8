#include "platform/terminal_keyboard.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/input_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void writeAll(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A terminal in raw mode, as the console runs it; the test types into the
// master side.
class TerminalKeyboardOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        termios mode{};
        ASSERT_EQ(tcgetattr(slave, &mode), 0);
        cfmakeraw(&mode);
        ASSERT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
    }
    void TearDown() override {
        if (master >= 0) {
            ::close(master);
        }
        ::close(slave);
    }

    // Waits for keyWaiting with a deadline, then reads count codes.
    std::vector<int> keysAfterWait(TerminalKeyboard& keyboard, std::size_t count) {
        const auto start = Clock::now();
        while (!keyboard.keyWaiting() && msSince(start) < 2000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::vector<int> keys;
        while (keys.size() < count && keyboard.keyWaiting()) {
            keys.push_back(keyboard.readKey());
        }
        return keys;
    }

    int master = -1;
    int slave = -1;
};

TEST_F(TerminalKeyboardOnPty, DecodesWhatTheTerminalSends) {
    TerminalKeyboard keyboard(slave);
    EXPECT_FALSE(keyboard.keyWaiting());
    writeAll(master, "\x1bOPa\x7f\x03\x1b[21~");
    EXPECT_EQ(keysAfterWait(keyboard, 7), (std::vector<int>{0, 59, 'a', 8, 3, 0, 68}));
    EXPECT_FALSE(keyboard.keyWaiting());
}

TEST_F(TerminalKeyboardOnPty, LoneEscapeIsTheEscKeyAfterAShortWait) {
    TerminalKeyboard keyboard(slave);
    writeAll(master, "\x1b");
    const auto start = Clock::now();
    const std::vector<int> keys = keysAfterWait(keyboard, 1);
    const long long elapsed = msSince(start);
    EXPECT_EQ(keys, (std::vector<int>{27}));
    EXPECT_GE(elapsed, 40);
    EXPECT_LT(elapsed, 500);

    // A blocking read (a script's pause) gets it after the same wait. The
    // late byte only ends a read that would otherwise wait for ever.
    writeAll(master, "\x1b");
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        writeAll(master, "x");
    });
    const auto readStart = Clock::now();
    EXPECT_EQ(keyboard.readKey(), 27);
    EXPECT_LT(msSince(readStart), 500);
    late.join();
}

TEST_F(TerminalKeyboardOnPty, ReadKeyWaitsForTheRestOfASplitSequence) {
    TerminalKeyboard keyboard(slave);
    std::thread typist([this] {
        writeAll(master, "\x1b[");
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
        writeAll(master, "B");
    });
    const int prefix = keyboard.readKey();
    const int scan = keyboard.readKey();
    typist.join();
    EXPECT_EQ(prefix, 224);
    EXPECT_EQ(scan, 80);
}

// A hang-up asks the whole process to end, as it must; the keys are read in
// a child of the test, so that the tests after it are not asked to end too.
// The child's status: 0, or 1 for the wrong keys, 2 for a slow end.
int keysAfterAHangUp(int master, int slave) {
    TerminalKeyboard keyboard(slave);
    writeAll(master, "z\x1b");
    // The terminal goes away while the ESC waits for the rest of a sequence.
    std::thread hangUp([master] {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        ::close(master);
    });
    std::vector<int> keys;
    for (int key = keyboard.readKey(); key != Keyboard::NoMoreKeys && keys.size() < 3;
         key = keyboard.readKey()) {
        keys.push_back(key);
    }
    hangUp.join();
    if (keys != std::vector<int>{'z', 27}) return 1;
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        if (keyboard.keyWaiting()) return 1;
    }
    return msSince(start) < 100 ? 0 : 2;
}

TEST_F(TerminalKeyboardOnPty, HangUpEndsTheKeys) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(keysAfterAHangUp(master, slave)), testing::ExitedWithCode(0), "");
}

TEST(TerminalKeyboardOnPipe, BytesComeRawAndTheEndMeansNoMoreKeys) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    TerminalKeyboard keyboard(pipeFds[0]);
    writeAll(pipeFds[1], std::string("\x1b[A\x7f\0q", 6));
    ::close(pipeFds[1]);
    std::vector<int> keys;
    for (int key = keyboard.readKey(); key != Keyboard::NoMoreKeys; key = keyboard.readKey()) {
        keys.push_back(key);
        ASSERT_LT(keys.size(), 10u);
    }
    EXPECT_EQ(keys, (std::vector<int>{27, '[', 'A', 127, 0, 'q'}));

    // After the end the test answers at once, every time.
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FALSE(keyboard.keyWaiting());
    }
    EXPECT_LT(msSince(start), 100);
    EXPECT_EQ(keyboard.readKey(), Keyboard::NoMoreKeys);
    // A wait on it sleeps to its deadline: the console loop does not spin.
    const std::intptr_t handle = keyboard.waitHandle();
    const auto waitStart = Clock::now();
    platform::waitForInput(&handle, 1, platform::Deadline::after(std::chrono::milliseconds(200)));
    EXPECT_GE(msSince(waitStart), 150);
    ::close(pipeFds[0]);
}

}  // namespace
