#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/console_keyboard_win32.h"
#include "platform/input_wait.h"
#include "serial/serial_port.h"

// A port whose far end is the simulated monitor: the harness that runs these
// tests names it in TOLVANIS_TEST_PORT (under Wine, a pseudo-terminal mapped
// as a COM port).
namespace {

using Clock = std::chrono::steady_clock;

class InspectablePort : public SerialPort {
public:
    HANDLE raw() const { return reinterpret_cast<HANDLE>(handle); }
};

std::string simulatorPort() {
    const char* name = std::getenv("TOLVANIS_TEST_PORT");
    return name != nullptr ? name : "";
}

// A COM name that no device answers to.
std::string absentPort() {
    char target[512];
    for (int n = 255; n >= 100; --n) {
        const std::string name = "COM" + std::to_string(n);
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) == 0) return name;
    }
    return "";
}

// Reads until text has arrived or two seconds have passed.
std::string readUntil(SerialPort& port, const std::string& text) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (got.find(text) == std::string::npos && Clock::now() < deadline) {
        char chunk[10];
        const std::int32_t count = port.read(chunk, sizeof chunk);
        got.append(chunk, static_cast<std::size_t>(count > 0 ? count : 0));
    }
    return got;
}

// Reads until the line stays silent for one whole read; what it read.
std::string drain(SerialPort& port) {
    std::string got;
    char chunk[64];
    for (int i = 0; i < 100; ++i) {
        const std::int32_t count = port.read(chunk, sizeof chunk);
        if (count <= 0) break;
        got.append(chunk, static_cast<std::size_t>(count));
    }
    return got;
}

class SimulatorPort : public ::testing::Test {
protected:
    void SetUp() override {
        name = simulatorPort();
        if (name.empty()) GTEST_SKIP() << "TOLVANIS_TEST_PORT names no simulated target";
        ASSERT_TRUE(port.open(name.c_str(), 115200)) << name;
        drain(port);
    }
    void TearDown() override { port.close(); }

    std::string name;
    InspectablePort port;
};

TEST_F(SimulatorPort, LineSettingsAndTimeoutsAreApplied) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.raw(), &dcb));
    EXPECT_EQ(115200u, dcb.BaudRate);
    EXPECT_EQ(8, dcb.ByteSize);
    EXPECT_EQ(NOPARITY, dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, dcb.StopBits);
    EXPECT_EQ(1u, dcb.fOutxCtsFlow);
    EXPECT_EQ(0u, dcb.fOutX);
    EXPECT_EQ(0u, dcb.fInX);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port.raw(), &timeouts));
    // The reader thread's one-byte wait; callers' reads are timed apart.
    EXPECT_EQ(0u, timeouts.ReadIntervalTimeout);
    EXPECT_EQ(0u, timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(200u, timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(10u, timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(250u, timeouts.WriteTotalTimeoutConstant);
}

TEST_F(SimulatorPort, ACommandGoesOutAndItsAnswerComesBack) {
    EXPECT_EQ(3, port.write("dr\r", 3));
    const std::string answer = readUntil(port, ">>");
    EXPECT_NE(std::string::npos, answer.find("epc")) << answer;
    EXPECT_NE(std::string::npos, answer.find(">>")) << answer;
}

TEST_F(SimulatorPort, ReadsOnASilentLineTimeOut) {
    char chunk[10];
    auto started = Clock::now();
    EXPECT_EQ(0, port.read(chunk, 10));
    auto took = Clock::now() - started;
    // 10 * 10 + 100 ms; Wine's timers are coarse, so the upper bound is loose.
    EXPECT_GE(took, std::chrono::milliseconds(180));
    EXPECT_LT(took, std::chrono::milliseconds(1000));

    started = Clock::now();
    EXPECT_EQ(0, port.read(chunk, 1));
    took = Clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(95));
    EXPECT_LT(took, std::chrono::milliseconds(800));
}

TEST_F(SimulatorPort, AReadReturnsWhatCameBeforeThePause) {
    ASSERT_EQ(1, port.write("\r", 1));
    // The monitor answers a line end with a new line and its prompt, then is
    // silent: a read of more returns that much once the gap passes.
    char chunk[200];
    const auto started = Clock::now();
    std::int32_t count = port.read(chunk, sizeof chunk);
    const auto took = Clock::now() - started;
    EXPECT_GT(count, 0);
    EXPECT_LT(count, static_cast<std::int32_t>(sizeof chunk));
    // Far less than the 2100 ms the whole read could take.
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The console loop's wait: the port's event stays unset while the line is
// silent, is set when a byte arrives, and readWaiting() then takes what is
// there without waiting for more. The wake-ups are printed.
TEST_F(SimulatorPort, TheWaitHandleIsSetWhenAByteArrivesAndNotBefore) {
    const auto handle = reinterpret_cast<HANDLE>(port.waitHandle());
    ASSERT_NE(reinterpret_cast<HANDLE>(-1), handle);
    // Longer than the reader's own wait for a byte: its end must not wake us.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(handle, 300));
    std::vector<double> woke;
    char chunk[10];
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(1, port.write("\r", 1));
        const auto started = Clock::now();
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handle, 2000));
        woke.push_back(msSince(started));
        const std::int32_t count = port.readWaiting(chunk, sizeof chunk);
        ASSERT_GT(count, 0);
        // The answer to a carriage return starts a new line.
        EXPECT_TRUE(chunk[0] == '\r' || chunk[0] == '\n') << static_cast<int>(chunk[0]);
        if (std::string(chunk, static_cast<std::size_t>(count)).find(">>") == std::string::npos) {
            readUntil(port, ">>");
        }
        Sleep(30);
        while (port.readWaiting(chunk, sizeof chunk) > 0) {
        }
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(handle, 0));
    }
    std::sort(woke.begin(), woke.end());
    std::printf("carriage return to the port's wake-up: median %.2f ms, worst %.2f ms\n",
                woke[woke.size() / 2], woke.back());
}

// What readWaiting() takes and what read() takes after it are the answer as
// a plain read gets it: nothing lost, nothing reordered.
TEST_F(SimulatorPort, BytesKeepTheirOrderAcrossReadWaitingAndRead) {
    ASSERT_EQ(3, port.write("dr\r", 3));
    const std::string plain = drain(port);
    ASSERT_NE(std::string::npos, plain.find("epc")) << plain;
    ASSERT_EQ(3, port.write("dr\r", 3));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(reinterpret_cast<HANDLE>(port.waitHandle()), 2000));
    char first[3];
    const std::int32_t count = port.readWaiting(first, sizeof first);
    ASSERT_GT(count, 0);
    const std::string rest = drain(port);
    EXPECT_EQ(plain, std::string(first, static_cast<std::size_t>(count)) + rest);
}

// The loop's wait on the keyboard and the port ends for a key with the line
// silent, and for a byte.
TEST_F(SimulatorPort, AKeyOrAByteEndsTheLoopsWait) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) GTEST_SKIP() << "standard input is not a console";
    FlushConsoleInputBuffer(input);
    ConsoleKeyboard keyboard;
    ASSERT_NE(-1, keyboard.waitHandle());
    const std::intptr_t handles[2] = {keyboard.waitHandle(), port.waitHandle()};
    INPUT_RECORD key{};
    key.EventType = KEY_EVENT;
    key.Event.KeyEvent.bKeyDown = TRUE;
    key.Event.KeyEvent.wRepeatCount = 1;
    key.Event.KeyEvent.wVirtualKeyCode = 'A';
    key.Event.KeyEvent.uChar.AsciiChar = 'a';
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(input, &key, 1, &written));
    auto started = Clock::now();
    platform::waitForInput(handles, 2, platform::Deadline::after(std::chrono::seconds(5)));
    EXPECT_LT(msSince(started), 1000.0);
    EXPECT_EQ('a', keyboard.readKey());
    FlushConsoleInputBuffer(input);

    ASSERT_EQ(1, port.write("\r", 1));
    started = Clock::now();
    platform::waitForInput(handles, 2, platform::Deadline::after(std::chrono::seconds(5)));
    EXPECT_LT(msSince(started), 1000.0);
    char chunk[10];
    EXPECT_GT(port.readWaiting(chunk, sizeof chunk), 0);
}

// Under any of its names; Wine does not keep a device to its first opener,
// so the port's own claim refuses the second.
TEST_F(SimulatorPort, TheOpenPortIsNobodyElses) {
    SerialPort second;
    EXPECT_FALSE(second.open(name.c_str(), 115200));
    EXPECT_FALSE(second.open(systemPortPath(name).c_str(), 115200));
}

TEST_F(SimulatorPort, RatesOfZeroOrBelowAreRefused) {
    port.close();
    SerialPort other;
    EXPECT_FALSE(other.open(name.c_str(), 0));
    EXPECT_FALSE(other.open(name.c_str(), -1));
    EXPECT_TRUE(other.open(name.c_str(), 300));
    other.close();
}

TEST_F(SimulatorPort, TheLineWorksAfterAnRtsPulseAndAfterReopening) {
    port.pulseRts();
    EXPECT_EQ(1, port.write("\r", 1));
    EXPECT_NE(std::string::npos, readUntil(port, ">>").find(">>"));
    // The reader's byte wait in flight ends at once when the port closes.
    const auto closing = Clock::now();
    port.close();
    EXPECT_LT(msSince(closing), 150.0);
    ASSERT_TRUE(port.open(name.c_str(), 9600));
    drain(port);
    EXPECT_EQ(1, port.write("\r", 1));
    EXPECT_NE(std::string::npos, readUntil(port, ">>").find(">>"));
}

TEST(WindowsSerialPort, APortWithoutADeviceDoesNotOpen) {
    const std::string name = absentPort();
    ASSERT_FALSE(name.empty());
    SerialPort port;
    EXPECT_FALSE(port.open(name.c_str(), 115200));
    EXPECT_FALSE(port.open("NOT-A-PORT", 115200));
}

}  // namespace
