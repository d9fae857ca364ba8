// The console loop on a real line (a pseudo-terminal) with keys from a pipe:
// it takes bytes as they come, so a prompt reaches it cut into reads at any
// point, and it must still pace a script by one line per prompt.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "console/console.h"
#include "platform/terminal_keyboard.h"
#include "serial/serial_port.h"
#include "tests/support/console_rig.h"
#include "tests/support/fakes.h"
#include "tests/support/pty_line.h"
#include "tests/support/stopwatch.h"

namespace {

using ms = std::chrono::milliseconds;

// Stands in for a running script of lines "l0\n", "l1\n", ...: the first
// goes out when it starts, each further one at a monitor prompt.
class NumberedLines final : public RecordingCommands {
public:
    using RecordingCommands::RecordingCommands;
    bool startScript(const char*, std::int32_t, SerialPort*) override {
        sendNext();
        return true;
    }
    void promptArrived() override { sendNext(); }

private:
    void sendNext() {
        const std::string text = "l" + std::to_string(next++) + "\n";
        console.port->write(text.data(), static_cast<std::int32_t>(text.size()));
    }
    int next = 0;
};

class LoopOnLine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe2(keyPipe, O_CLOEXEC), 0);
        keyboard = std::make_unique<TerminalKeyboard>(keyPipe[0]);
        ASSERT_TRUE(port.open(line.path.c_str(), 115200));
        console = std::make_unique<Console>(*keyboard, screen, host);
        lines = std::make_unique<NumberedLines>(*console);
        loop = std::thread([this] {
            console->run(&port, true, "script");
            ended = true;
        });
        ASSERT_EQ(line.readCount(3), "l0\n");
    }
    void TearDown() override {
        if (loop.joinable()) {
            // A whole prompt, then F10 F2 until the loop ends: a prompt read
            // in the same pass as the chord would override it.
            if (line.isOpen()) line.send("\r\n>> ");
            for (int tries = 0; tries < 20 && !ended; ++tries) {
                std::this_thread::sleep_for(ms(50));
                press(std::string("\0\x44\0\x3c", 4));
            }
            loop.join();
        }
        port.close();
        ::close(keyPipe[0]);
        ::close(keyPipe[1]);
    }
    void press(const std::string& bytes) const {
        ASSERT_EQ(::write(keyPipe[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Sends the pieces with a pause between them, so each is read alone.
    void sendInPieces(const std::vector<std::string>& pieces) const {
        for (const std::string& piece : pieces) {
            ASSERT_TRUE(line.send(piece));
            std::this_thread::sleep_for(ms(5));
        }
    }

    PtyLine line;
    int keyPipe[2] = {-1, -1};
    std::unique_ptr<TerminalKeyboard> keyboard;
    SerialPort port;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    std::unique_ptr<Console> console;
    std::unique_ptr<NumberedLines> lines;
    std::thread loop;
    std::atomic<bool> ended{false};
};

TEST_F(LoopOnLine, APromptCutAtAnyPointRunsTheNextLineOnce) {
    const std::string prompt = "\r\n>> ";
    int next = 1;
    for (std::size_t cut = 1; cut < prompt.size(); ++cut) {
        sendInPieces({prompt.substr(0, cut), prompt.substr(cut)});
        EXPECT_EQ(line.readCount(3), "l" + std::to_string(next++) + "\n") << "cut at " << cut;
    }
    // One byte per read.
    std::vector<std::string> bytes;
    for (char c : prompt) bytes.emplace_back(1, c);
    sendInPieces(bytes);
    EXPECT_EQ(line.readCount(3), "l" + std::to_string(next++) + "\n");

    // A key typed between the two halves goes out and does not break the prompt.
    sendInPieces({"ok\r\n>"});
    press("k");
    EXPECT_EQ(line.readCount(1), "k");
    sendInPieces({"> "});
    EXPECT_EQ(line.readCount(3), "l" + std::to_string(next++) + "\n");

    // Silence as long as a whole read's time-out between the halves: no prompt.
    sendInPieces({"\r\n>"});
    std::this_thread::sleep_for(ms(350));
    sendInPieces({"> "});
    EXPECT_EQ(line.readCount(1, ms(300)), "");
}

// After a transfer the monitor prompts twice in a row: the prompt that closes
// the exchange, then the one answering the console's carriage return. Taken
// in one chunk, as a timed read took them, they run one line, not two; the
// target's next prompt runs the next.
TEST_F(LoopOnLine, TwoPromptsCloseTogetherRunOneLine) {
    sendInPieces({"\r\n>> ", "\r\n\r\n>> "});
    EXPECT_EQ(line.readCount(3), "l1\n");
    EXPECT_EQ(line.readCount(1, ms(300)), "");
    sendInPieces({"\r\n>> "});
    EXPECT_EQ(line.readCount(3), "l2\n");
}

// Idle, the loop sleeps up to 100 ms. A key wakes it, a prompt's chunk ends
// a line's interval (20 ms) after its last byte, and a pasted line goes out
// whole: none of them waits out that sleep.
TEST_F(LoopOnLine, KeysAndPromptsAreTakenWithoutWaitingOutTheIdleSleep) {
    std::vector<long long> keyMs;
    std::vector<long long> promptMs;
    for (int next = 1; next <= 5; ++next) {
        std::this_thread::sleep_for(ms(40));
        const Stopwatch key;
        press("q");
        EXPECT_EQ(line.readCount(1), "q");
        keyMs.push_back(key.wallMs());
        std::this_thread::sleep_for(ms(40));
        const Stopwatch prompt;
        ASSERT_TRUE(line.send("\r\n>> "));
        EXPECT_EQ(line.readCount(3), "l" + std::to_string(next) + "\n");
        promptMs.push_back(prompt.wallMs());
    }
    // The medians: a loaded machine may hold up one or two.
    std::sort(keyMs.begin(), keyMs.end());
    std::sort(promptMs.begin(), promptMs.end());
    EXPECT_LT(keyMs[2], 40);
    EXPECT_LT(promptMs[2], 70);
    // More keys than one pass takes, all read from the pipe at once.
    const Stopwatch paste;
    press(std::string(200, 'p'));
    EXPECT_EQ(line.readCount(200), std::string(200, 'p'));
    EXPECT_LT(paste.wallMs(), 250);
}

// A line that has failed (hung up) is not asked again and again: the loop
// sleeps between tries as a failed read's time-out would have.
TEST_F(LoopOnLine, AFailedLineIsNotReadInABusyLoop) {
    line.close();
    std::this_thread::sleep_for(ms(100));
    const auto cpuMs = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
    };
    const long long before = cpuMs();
    std::this_thread::sleep_for(ms(500));
    EXPECT_LT(cpuMs() - before, 150);
}

// A key typed while a prompt is still coming in is taken at that prompt:
// F1 there asks for help, where before it would have gone to the target.
TEST_F(LoopOnLine, AKeyTypedAsAPromptComesInIsTakenAtThatPrompt) {
    press("x\r");
    EXPECT_EQ(line.readCount(2), "x\r");
    ASSERT_TRUE(line.send("\r\n>>"));
    for (int byte = 0; byte < 6; ++byte) {
        std::this_thread::sleep_for(ms(10));
        if (byte == 3) press(std::string("\0;", 2));
        ASSERT_TRUE(line.send(" "));
    }
    EXPECT_EQ(line.readCount(4), "l1\n\r");
}

TEST(ConsoleLoop, APastedLineDoesNotHoldBackTheTargetsOutput) {
    ConsoleRig rig;
    rig.wire.chunks = {"out"};
    rig.keys.type(std::string(200, 'p'));
    std::size_t keysLeftAtFirstRead = 0;
    rig.wire.beforeRead = [&](int read) {
        if (read == 1) keysLeftAtFirstRead = rig.keys.queue.size();
        if (rig.keys.queue.empty()) rig.keys.type({0, 68, 0, 60});
    };
    rig.console.run(&rig.wire, false, "");
    // The target's output was read while most of the paste still waited,
    // and every key went out in order.
    EXPECT_GT(keysLeftAtFirstRead, 100u);
    EXPECT_EQ(rig.wire.written, std::string(200, 'p'));
    EXPECT_EQ(rig.screen.text, "out");
}

}  // namespace
