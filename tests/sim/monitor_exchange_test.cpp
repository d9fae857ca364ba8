#include <gtest/gtest.h>

#include "tests/sim/frames.h"
#include "tests/sim/monitor_feed.h"

using sim::Monitor;

namespace {

constexpr std::uint32_t base = 0x80020000;

std::string memoryAt(const Monitor& monitor, std::uint32_t address, std::uint32_t length) {
    std::string out(length, '\0');
    monitor.memory().read(address, reinterpret_cast<std::uint8_t*>(out.data()), length);
    return out;
}

// Opens a write exchange and sends the header; checks the monitor's replies.
void openWrite(Monitor& monitor, std::uint32_t address, std::uint32_t length) {
    EXPECT_EQ(feed(monitor, "BWR\r"), "BWR\r\nbinary\r");
    EXPECT_EQ(feed(monitor, frames::header(address, length)), "");
}

// A whole write exchange of `data`, each block confirmed at once.
void writeAll(Monitor& monitor, std::uint32_t address, const std::string& data) {
    openWrite(monitor, address, std::uint32_t(data.size()));
    for (std::size_t at = 0; at < data.size(); at += frames::blockSize) {
        EXPECT_EQ(feed(monitor, frames::block(data.substr(at, frames::blockSize))), "Y");
    }
    EXPECT_EQ(feed(monitor, "\r"), "end binary\r\r\n>> ");
}

}  // namespace

class MonitorWrite : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MonitorWrite, StoresExactlyTheAnnouncedBytes) {
    const std::size_t length = GetParam();
    Monitor monitor;
    // Memory around the target area must survive, the padding of a final
    // block included.
    const std::string before = frames::pattern(3 * frames::blockSize, 7);
    monitor.memory().write(base - 16, reinterpret_cast<const std::uint8_t*>(before.data()),
                           std::uint32_t(before.size()));
    const std::string data = frames::pattern(length, 1);

    writeAll(monitor, base, data);

    EXPECT_EQ(memoryAt(monitor, base, std::uint32_t(length)), data);
    EXPECT_EQ(memoryAt(monitor, base - 16, 16), before.substr(0, 16));
    const std::size_t after = before.size() - 16 - length;
    EXPECT_EQ(memoryAt(monitor, base + std::uint32_t(length), std::uint32_t(after)), before.substr(16 + length));
    EXPECT_EQ(monitor.exchangesCompleted(), 1);
    EXPECT_EQ(monitor.exchangesAborted(), 0);
    EXPECT_FALSE(monitor.inExchange());
}

INSTANTIATE_TEST_SUITE_P(Lengths, MonitorWrite, ::testing::Values(0, 1, 2047, 2048, 2049, 4096));

TEST(MonitorExchange, BadChecksumIsRefusedAndTheResentBlockTaken) {
    Monitor monitor;
    const std::string data = frames::pattern(100, 2);
    openWrite(monitor, base, 100);
    std::string spoiled = frames::block(data);
    spoiled.back() = char(spoiled.back() + 1);
    EXPECT_EQ(feed(monitor, spoiled), "N");
    EXPECT_EQ(memoryAt(monitor, base, 100), std::string(100, '\0'));
    EXPECT_EQ(feed(monitor, frames::block(data)), "Y");
    EXPECT_EQ(feed(monitor, "\r"), "end binary\r\r\n>> ");
    EXPECT_EQ(memoryAt(monitor, base, 100), data);
}

TEST(MonitorExchange, AbortBytesInsideDataAreData) {
    Monitor monitor;
    const std::string data(frames::blockSize, '\xff');
    // Address and length bytes of 0xFF are no abort either.
    writeAll(monitor, 0xffff0000, data);
    EXPECT_EQ(memoryAt(monitor, 0xffff0000, frames::blockSize), data);
    EXPECT_EQ(monitor.exchangesAborted(), 0);
}

TEST(MonitorExchange, AbortByteAbandonsSilently) {
    // Where the host may give up: instead of the header, of a block, of the
    // closing CR, and of a block request.
    const std::string block = frames::block("x");
    const std::string header = frames::header(base, 1);
    const std::string cases[] = {
        "BWR\r",
        "BWR\r" + header,
        "BWR\r" + header + block,
        "BRD\r" + header,
        "BRD\r" + header + "\x02" + "N",
    };
    for (const auto& prefix : cases) {
        Monitor monitor;
        feed(monitor, prefix);
        ASSERT_TRUE(monitor.inExchange()) << prefix.size();
        EXPECT_EQ(feed(monitor, "\xff"), "");
        EXPECT_FALSE(monitor.inExchange());
        EXPECT_EQ(monitor.exchangesAborted(), 1);
        EXPECT_EQ(monitor.exchangesCompleted(), 0);
        // Back at commands at once.
        EXPECT_EQ(feed(monitor, "sr epc 7\r"), "sr epc 7\r\n\r\n>> ");
        EXPECT_EQ(monitor.registers().get(sim::RegisterFile::epcIndex), 7u);
    }
}

TEST(MonitorExchange, UnexpectedBytesAndSilenceAbandonTheExchange) {
    Monitor monitor;
    feed(monitor, "BWR\r");
    feed(monitor, "\n");  // no header start
    EXPECT_FALSE(monitor.inExchange());
    EXPECT_EQ(monitor.exchangesAborted(), 1);

    feed(monitor, "BWR\r" + frames::header(base, 1) + "\x03");  // no block start
    EXPECT_FALSE(monitor.inExchange());
    EXPECT_EQ(monitor.exchangesAborted(), 2);

    feed(monitor, "BRD\r" + frames::header(base, 1));
    monitor.timeOut();
    EXPECT_FALSE(monitor.inExchange());
    EXPECT_EQ(monitor.exchangesAborted(), 3);
    // A silent line at the command prompt is nothing to abandon.
    monitor.timeOut();
    EXPECT_EQ(monitor.exchangesAborted(), 3);
}

TEST(MonitorExchange, ReadSendsBlocksWithChecksumAndResendsOnRequest) {
    Monitor monitor;
    const std::string data = frames::pattern(2 * frames::blockSize + 5, 3);
    monitor.memory().write(base, reinterpret_cast<const std::uint8_t*>(data.data()), std::uint32_t(data.size()));
    const std::string beyond = frames::pattern(frames::blockSize, 4);
    monitor.memory().write(base + std::uint32_t(data.size()), reinterpret_cast<const std::uint8_t*>(beyond.data()),
                           std::uint32_t(beyond.size()));

    EXPECT_EQ(feed(monitor, "BRD\r"), "BRD\r\nbinary\r");
    EXPECT_EQ(feed(monitor, frames::header(base, std::uint32_t(data.size()))), "");
    const std::string first = frames::block(data.substr(0, frames::blockSize)).substr(1);
    EXPECT_EQ(feed(monitor, "\x02"), first);
    EXPECT_EQ(feed(monitor, "N"), "");
    EXPECT_EQ(feed(monitor, "\x02"), first);
    EXPECT_EQ(feed(monitor, "Y"), "");
    EXPECT_EQ(feed(monitor, "\x02"), frames::block(data.substr(frames::blockSize, frames::blockSize)).substr(1));
    EXPECT_EQ(feed(monitor, "Y"), "");
    // The final block is whole: memory past the length fills it.
    EXPECT_EQ(feed(monitor, "\x02"), frames::block(data.substr(2 * frames::blockSize) + beyond).substr(1));
    EXPECT_EQ(feed(monitor, "Y"), "end binary\r\r\n>> ");
    EXPECT_EQ(monitor.exchangesCompleted(), 1);
}

TEST(MonitorExchange, EmptyReadClosesAfterTheHeader) {
    Monitor monitor;
    feed(monitor, "BRD\r");
    EXPECT_EQ(feed(monitor, frames::header(base, 0)), "end binary\r\r\n>> ");
    EXPECT_EQ(monitor.exchangesCompleted(), 1);
}

TEST(MonitorFaults, RefusesTheFirstBlocks) {
    sim::Faults faults;
    faults.nakFirstBlocks = 2;
    Monitor monitor(faults);
    openWrite(monitor, base, 10);
    const std::string block = frames::block("0123456789");
    EXPECT_EQ(feed(monitor, block), "N");
    EXPECT_EQ(feed(monitor, block), "N");
    EXPECT_EQ(memoryAt(monitor, base, 10), std::string(10, '\0'));
    EXPECT_EQ(feed(monitor, block), "Y");
    EXPECT_EQ(memoryAt(monitor, base, 10), "0123456789");
}

TEST(MonitorFaults, SpoilsTheFirstChecksums) {
    sim::Faults faults;
    faults.badChecksumFirstBlocks = 1;
    Monitor monitor(faults);
    feed(monitor, "BRD\r" + frames::header(base, 1));
    const std::string spoiled = feed(monitor, "\x02");
    feed(monitor, "N");
    const std::string good = feed(monitor, "\x02");
    ASSERT_EQ(good.size(), frames::blockSize + 1);
    EXPECT_EQ(spoiled.substr(0, frames::blockSize), good.substr(0, frames::blockSize));
    EXPECT_NE(spoiled.back(), good.back());
    EXPECT_EQ(std::uint8_t(good.back()), frames::checksum(good.substr(0, frames::blockSize)));
}

namespace {

bool isSubsequence(const std::string& text, const std::string& in) {
    std::size_t p = 0;
    for (char c : in) {
        if (p < text.size() && c == text[p]) ++p;
    }
    return p == text.size();
}

}  // namespace

TEST(MonitorFaults, NoiseSurroundsTheAcknowledgements) {
    sim::Faults faults;
    faults.noiseAroundAcknowledgements = true;
    Monitor monitor(faults);
    const std::string open = feed(monitor, "BWR\r").substr(5);
    EXPECT_NE(open, "binary\r");
    EXPECT_TRUE(isSubsequence("binary\r", open)) << open;
    EXPECT_EQ(open.find(">"), std::string::npos);
    // Nothing may follow: the next byte the host reads is a block reply.
    EXPECT_TRUE(open.ends_with("\r"));
    feed(monitor, frames::header(base, 0));
    const std::string close = feed(monitor, "\r");
    EXPECT_EQ(close.find("end binary\r"), std::string::npos);
    EXPECT_TRUE(isSubsequence("end binary\r", close)) << close;
    EXPECT_TRUE(close.ends_with("\r\n>> "));
}

TEST(MonitorFaults, CanLeaveOutThePromptAfterAnExchange) {
    sim::Faults faults;
    faults.noPromptAfterExchange = true;
    Monitor monitor(faults);
    feed(monitor, "BWR\r" + frames::header(base, 0));
    EXPECT_EQ(feed(monitor, "\r"), "end binary\r");
    EXPECT_EQ(monitor.exchangesCompleted(), 1);
    // Commands still prompt.
    EXPECT_EQ(feed(monitor, "\r"), "\r\n\r\n>> ");
}

TEST(MonitorExchange, SurvivesAnyInput) {
    Monitor monitor;
    std::string noise = frames::pattern(1 << 20, 11);
    // Open exchanges now and then, so that the noise reaches every state.
    for (std::size_t at = 0; at + 40 < noise.size(); at += 5000) {
        noise.replace(at, 4, at % 10000 == 0 ? "BWR\r" : "BRD\r");
        noise[at + 4] = '\x01';
    }
    std::string out;
    for (char c : noise) monitor.receive(std::uint8_t(c), out);
    EXPECT_GT(monitor.exchangesAborted(), 0);
    monitor.timeOut();
    EXPECT_FALSE(monitor.inExchange());
    feed(monitor, "\r");  // ends whatever half line is left
    EXPECT_TRUE(feed(monitor, "\r").ends_with("\r\n>> "));
}
