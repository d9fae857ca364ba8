// The board monitor spoken to byte by byte on its own line, for what the
// console never sends it: bytes out of place, spoiled blocks, a host that
// goes silent, ranges at the edges of free RAM, lines past their limits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tests/support/pty_line.h"
#include "tests/support/qemu_board.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr auto npos = std::string::npos;
constexpr const char* Prompt = "\r\n>> ";

// An exchange's header: 0x01, then address and length, high byte first.
std::string header(std::uint32_t address, std::uint32_t length) {
    std::string bytes(1, '\x01');
    for (const std::uint32_t value : {address, length}) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += char(value >> shift & 0xff);
    }
    return bytes;
}

// A block as the host sends it, padded to 2048 bytes; `spoil` is added to
// its checksum.
std::string block(const std::string& data, int spoil = 0) {
    unsigned char sum = 0;
    for (const char byte : data) sum = static_cast<unsigned char>(sum + byte);
    return "\x02" + data + std::string(2048 - data.size(), '\0') + char(sum + spoil);
}

class MonitorLine : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = e2e::QemuBoard::missing();
        if (!reason.empty()) GTEST_SKIP() << reason;
        ASSERT_TRUE(board.start()) << board.error();
        line = std::make_unique<PtyLine>(board.port());
        ASSERT_TRUE(line->isOpen());
        // Prompts for the carriage returns of the boot may still be on their
        // way; a command's answer comes after all of them.
        ASSERT_TRUE(line->send("help\r"));
        ASSERT_NE(npos, line->readUntil("this list", 10s).find("this list"));
        line->readUntil(Prompt);
    }

    // Sends bytes; what the monitor answers, up to its next prompt.
    std::string say(const std::string& bytes, PtyLine::Ms timeout = 5s) {
        EXPECT_TRUE(line->send(bytes));
        return line->readUntil(Prompt, timeout);
    }

    e2e::QemuBoard board;
    std::unique_ptr<PtyLine> line;
};

TEST_F(MonitorLine, TheLineEditorAndTheCommandsKeepToTheirLimits) {
    // Backspace on an empty line takes nothing back; CR LF ends one line.
    EXPECT_NE(npos, say("\b\bdr\r\n").find("epc="));
    EXPECT_EQ(line->drain(300ms), "");
    // A line holds 128 bytes; each one more gets a bell.
    ASSERT_TRUE(line->send(std::string(130, 'x')));
    EXPECT_EQ(line->readCount(130), std::string(128, 'x') + "\a\a");
    EXPECT_NE(npos, say("\r").find("unknown command"));

    const struct {
        const char* command;
        const char* answer;
    } refusals[] = {
        {"dw 80100002", "not word aligned: 80100002"},
        {"dw 9ffffff0 8", "not free RAM"},  // from kseg0 on into kseg1
        {"dw 80100000 1001", "bad count"},
        {"dw 80100000 1 2", "usage: dw"},
        {"sr r32 1", "unknown register"},
        {"sr a0 123456789", "bad value"},
        {"g", "epc 00000000 is not code in free RAM"},
    };
    for (const auto& refusal : refusals) {
        const std::string told = say(std::string(refusal.command) + "\r");
        EXPECT_NE(npos, told.find(refusal.answer)) << told;
    }
    EXPECT_NE(npos, say("dw 80100000 1000\r").find("80103ff0: "));
    say("sr r0 5\r");
    EXPECT_NE(npos, say("dr\r").find("zero=00000000"));
}

TEST_F(MonitorLine, ExchangesKeepToTheirHeaderAndEndOnAnythingElse) {
    EXPECT_NE(npos, say("BWR\rx").find("unexpected byte from the host"));
    EXPECT_NE(npos, say("BRD\r" + header(0x80100000, 4) + "x").find("unexpected byte from the host"));

    // A block is taken when its checksum matches; then the monitor waits
    // for the host's closing carriage return.
    ASSERT_TRUE(line->send("BWR\r" + header(0x80100000, 12) + block("abcdefghijkl")));
    line->readUntil("binary\r");
    EXPECT_EQ(line->readCount(1), "Y");
    EXPECT_EQ(line->drain(200ms), "");
    EXPECT_EQ(say("\r"), "end binary\r" + std::string(Prompt));
    ASSERT_TRUE(line->send("BWR\r" + header(0x80100000, 8) + block("ABCDEFGH", 1)));
    line->readUntil("binary\r");
    EXPECT_EQ(line->readCount(1), "N");
    ASSERT_TRUE(line->send(block("ABCDEFGH")));
    EXPECT_EQ(line->readCount(1), "Y");
    say("\r");
    // Only the bytes the header covers were written.
    EXPECT_NE(npos, say("dw 80100000 3\r").find("80100000: 44434241 48474645 6c6b6a69"));

    // A block read is padded with zeros, not with what lies beyond, and
    // comes again after an N.
    ASSERT_TRUE(line->send("BRD\r" + header(0x80100000, 4) + "\x02"));
    line->readUntil("binary\r");
    const std::string sent = line->readCount(2049);
    EXPECT_EQ(sent, block("ABCD").substr(1));
    ASSERT_TRUE(line->send("N\x02"));
    EXPECT_EQ(line->readCount(2049), sent);
    EXPECT_NE(npos, say("Y").find("end binary"));

    // The monitor's own first byte, and a range that runs round the top of
    // the address space, are refused; the byte below the monitor is not.
    const struct {
        std::uint32_t address;
        std::uint32_t length;
        bool allowed;
    } ranges[] = {{0x83effff0, 0x10, true}, {0x83effff0, 0x11, false}, {0x80100000, 0xfffffff0, false}};
    for (const auto& range : ranges) {
        const std::string told = say("BRD\r" + header(range.address, range.length) + "\x02\xff");
        EXPECT_EQ(range.allowed, told.find("refused: ") == npos) << std::hex << range.address << " " << range.length;
    }

    // A host that goes silent inside a block is given up after a while
    // (two seconds on a real board, less on QEMU's faster clock).
    const auto start = Clock::now();
    const std::string told = say("BWR\r" + header(0x80100000, 8) + "\x02" "abc", 10s);
    EXPECT_NE(npos, told.find("the host went silent")) << told;
    EXPECT_GE(Clock::now() - start, 1000ms);
}

}  // namespace
