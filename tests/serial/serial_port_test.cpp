#include "serial/serial_port.h"

#include <dirent.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "serial/custom_baud.h"
#include "tests/support/pty_line.h"
#include "tests/support/stopwatch.h"

namespace {

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

class SerialPortOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(line.path.empty());
        ASSERT_TRUE(port.open(line.path.c_str(), 115200));
    }
    void TearDown() override { port.close(); }

    PtyLine line;
    SerialPort port;
};

TEST_F(SerialPortOnPty, SilentLineReadTimesOutAfterTheTotal) {
    char buffer[10];
    const Stopwatch watch;
    EXPECT_EQ(port.read(buffer, 10), 0);
    // 10 * 10 + 100 ms.
    EXPECT_GE(watch.wallMs(), 180);
    EXPECT_LE(watch.wallMs(), 400);
}

TEST_F(SerialPortOnPty, BytesThenAPauseReturnWhatCame) {
    ASSERT_TRUE(line.send("abc"));
    char buffer[10];
    const Stopwatch watch;
    ASSERT_EQ(port.read(buffer, 10), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    // Ended by the 20 ms gap, far before the 200 ms total.
    EXPECT_LT(watch.wallMs(), 120);
}

TEST_F(SerialPortOnPty, ReadReturnsAsSoonAsTheCountIsThere) {
    ASSERT_TRUE(line.send("0123456789ABCDEF"));
    char buffer[10];
    const Stopwatch watch;
    ASSERT_EQ(port.read(buffer, 10), 10);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    ASSERT_EQ(port.read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "ABCD");
    // Neither read waited for the 20 ms gap.
    EXPECT_LT(watch.wallMs(), 20);
    ASSERT_EQ(port.read(buffer, 1), 1);
    EXPECT_EQ(buffer[0], 'E');
}

TEST_F(SerialPortOnPty, NulBytesPassBothWays) {
    const std::string withNuls("\0a\0\0b\0", 6);
    ASSERT_TRUE(line.send(withNuls));
    char buffer[10];
    ASSERT_EQ(port.read(buffer, 10), 6);
    EXPECT_EQ(std::string(buffer, 6), withNuls);

    // No translation on the way out either: "\n" stays one byte, "\r" stays.
    const std::string outgoing("\0\n\r\x11\x13\xff", 6);
    EXPECT_EQ(port.write(outgoing.data(), 6), 6);
    EXPECT_EQ(line.readCount(6), outgoing);
}

TEST_F(SerialPortOnPty, WriteOnAPtyReturnsAtOnce) {
    const std::string block(2050, 'b');
    const Stopwatch watch;
    EXPECT_EQ(port.write(block.data(), 2050), 2050);
    EXPECT_LT(watch.wallMs(), 100);
    EXPECT_EQ(line.readCount(2050).size(), 2050u);
}

TEST_F(SerialPortOnPty, WriteThatCannotLeaveGivesUpAfterItsTimeOut) {
    // Fill the line's buffer from the test's own end, as a target holding
    // CTS low would leave it.
    ASSERT_EQ(fcntl(line.slave, F_SETFL, O_NONBLOCK), 0);
    // The kernel moves bytes between the pty's buffers behind our back:
    // filled until it stays full for a while.
    const std::string filler(4096, 'f');
    for (int round = 0; round < 100; ++round) {
        while (::write(line.slave, filler.data(), filler.size()) > 0) {
        }
        pollfd output{line.slave, POLLOUT, 0};
        if (poll(&output, 1, 100) == 0) {
            break;
        }
    }
    const Stopwatch watch;
    EXPECT_LT(port.write("0123456789", 10), 10);
    // 10 * 10 + 250 ms.
    EXPECT_GE(watch.wallMs(), 330);
    EXPECT_LE(watch.wallMs(), 700);
    EXPECT_LT(watch.cpuUs(), 60000);
}

TEST_F(SerialPortOnPty, LineSettings) {
    termios mode{};
    ASSERT_EQ(tcgetattr(line.slave, &mode), 0);
    EXPECT_EQ(mode.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(mode.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(mode.c_cflag & (CREAD | CLOCAL | CRTSCTS), static_cast<tcflag_t>(CREAD | CLOCAL | CRTSCTS));
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(mode.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(mode.c_oflag & OPOST, 0u);
    EXPECT_EQ(cfgetospeed(&mode), static_cast<speed_t>(B115200));
    port.pulseRts();  // no modem lines on a pty: nothing happens, nothing fails
}

TEST_F(SerialPortOnPty, SecondOpenOfTheSamePortFails) {
    SerialPort second;
    EXPECT_FALSE(second.open(line.path.c_str(), 115200));
    port.close();
    ASSERT_TRUE(second.open(line.path.c_str(), 115200));
    second.close();
    ASSERT_TRUE(port.open(line.path.c_str(), 115200));
}

TEST_F(SerialPortOnPty, DeviceGoneReadWaitsOutItsTimeOutWithoutSpinning) {
    ASSERT_TRUE(line.send("hi"));
    char buffer[10];
    ASSERT_EQ(port.read(buffer, 2), 2);
    line.close();
    for (int round = 0; round < 2; ++round) {
        const Stopwatch watch;
        EXPECT_EQ(port.read(buffer, 10), 0);
        EXPECT_GE(watch.wallMs(), 180);
        EXPECT_LE(watch.wallMs(), 400);
        EXPECT_LT(watch.cpuUs(), 20000) << "wall " << watch.wallMs() << " ms";
    }
    const Stopwatch watch;
    EXPECT_EQ(port.write("x", 1), 0);
    EXPECT_LT(watch.wallMs(), 300);
}

TEST(SerialPortOpen, RefusesWhatIsNotAUsablePort) {
    const int before = openDescriptors();
    SerialPort port;
    EXPECT_FALSE(port.open("/nonexistent/ttyX", 115200));
    // A plain file is no serial line.
    const auto file = std::filesystem::temp_directory_path() / "serial-port-test-file";
    std::ofstream(file) << "x";
    EXPECT_FALSE(port.open(file.c_str(), 115200));
    std::filesystem::remove(file);

    PtyLine line;
    const int withPty = openDescriptors();
    EXPECT_FALSE(port.open(line.path.c_str(), 0));
    EXPECT_FALSE(port.open(line.path.c_str(), -9600));
    EXPECT_EQ(openDescriptors(), withPty);
    EXPECT_EQ(withPty, before + 2);
}

TEST(SerialPortOpen, RatesOutsideTheStandardListArePassedOn) {
    PtyLine line;
    SerialPort port;
    ASSERT_TRUE(port.open(line.path.c_str(), 250000));
    std::uint32_t baud = 0;
    ASSERT_TRUE(serial::currentBaud(line.slave, baud));
    EXPECT_EQ(baud, 250000u);
    port.close();

    ASSERT_TRUE(port.open(line.path.c_str(), 9600));
    termios mode{};
    ASSERT_EQ(tcgetattr(line.slave, &mode), 0);
    EXPECT_EQ(cfgetospeed(&mode), static_cast<speed_t>(B9600));
    port.close();
}

TEST(SystemPortPath, MapsWindowsNamesWithoutOpeningAnything) {
    EXPECT_EQ(systemPortPath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(systemPortPath("COM10"), "/dev/ttyS9");
    EXPECT_EQ(systemPortPath("COM007"), "/dev/ttyS6");
    EXPECT_EQ(systemPortPath("COM0"), "/dev/COM0");
    EXPECT_EQ(systemPortPath("COMx"), "/dev/COMx");
    EXPECT_EQ(systemPortPath("COM"), "/dev/COM");
    EXPECT_EQ(systemPortPath("COM1x"), "/dev/COM1x");
    EXPECT_EQ(systemPortPath("COM-1"), "/dev/COM-1");
    EXPECT_EQ(systemPortPath("COM99999999999999999999999"), "/dev/COM99999999999999999999999");
    EXPECT_EQ(systemPortPath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(systemPortPath("/dev/pts/3"), "/dev/pts/3");
    EXPECT_EQ(systemPortPath("./COM1"), "./COM1");
}

}  // namespace
