#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "tests/sim/frames.h"
#include "tests/support/pty_line.h"
#include "sim/sim_target.h"

using namespace std::chrono;
using sim::Direction;
using sim::SimTarget;

namespace {

constexpr std::uint32_t base = 0x80040000;

// A target already greeted on a freshly opened line.
struct Session {
    explicit Session(sim::Options options = {}) : target(options) {
        started = target.start();
        if (started) line = std::make_unique<PtyLine>(target.slavePath());
        if (line && line->isOpen()) greeting = line->readUntil("\r\n>> ");
    }
    SimTarget target;
    bool started = false;
    std::unique_ptr<PtyLine> line;
    std::string greeting;
};

std::string toText(const std::vector<std::uint8_t>& bytes) { return frames::asText(bytes); }

}  // namespace

TEST(SimTarget, GreetsAndAnswersEachLineWithOnePrompt) {
    Session s;
    ASSERT_TRUE(s.started);
    ASSERT_TRUE(s.line->isOpen());
    EXPECT_TRUE(s.greeting.ends_with("\r\n>> ")) << s.greeting;
    EXPECT_NE(s.greeting.find("monitor"), std::string::npos);

    s.line->send("sr epc 80010000\r\n");
    EXPECT_EQ(s.line->readUntil(">> "), "sr epc 80010000\r\n\r\n>> ");
    EXPECT_EQ(s.line->drain(), "");
    EXPECT_EQ(s.target.reg("epc"), 0x80010000u);

    s.line->send("dr\n");
    EXPECT_NE(s.line->readUntil(">> ").find("epc=80010000"), std::string::npos);
    EXPECT_EQ(s.line->drain(), "");
}

TEST(SimTarget, RegistersAndMemoryAreOpenToTheTest) {
    Session s;
    ASSERT_TRUE(s.started);
    s.target.setReg("gp", 0x8001abcd);
    s.target.setReg("nonsense", 1);
    EXPECT_EQ(s.target.reg("nonsense"), 0u);
    s.target.writeMemory(base, {0x78, 0x56, 0x34, 0x12});
    s.line->send("dr\rdw 80040000 1\r");
    std::string out = s.line->readUntil("12345678");
    EXPECT_NE(out.find("gp=8001abcd"), std::string::npos) << out;
    EXPECT_EQ(s.target.readMemory(base, 5), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12, 0}));
}

TEST(SimTarget, WriteExchangeStoresTheBlocksAndTheTranscriptHoldsEveryByte) {
    Session s;
    ASSERT_TRUE(s.started);
    const std::string data = frames::pattern(frames::blockSize + 1, 9);
    std::string sent = "BWR\r";
    s.line->send(sent);
    std::string received = s.greeting + s.line->readUntil("binary\r");
    EXPECT_TRUE(received.ends_with("BWR\r\nbinary\r"));

    const std::string header = frames::header(base, std::uint32_t(data.size()));
    const std::string first = frames::block(data.substr(0, frames::blockSize));
    std::string spoiled = frames::block(data.substr(frames::blockSize));
    spoiled.back() = char(spoiled.back() ^ 0x40);
    const std::string last = frames::block(data.substr(frames::blockSize));
    const std::vector<std::pair<std::string, std::string>> steps = {
        {header + first, "Y"}, {spoiled, "N"}, {last, "Y"}};
    for (const auto& [bytes, reply] : steps) {
        s.line->send(bytes);
        sent += bytes;
        const std::string answer = s.line->readCount(1);
        EXPECT_EQ(answer, reply);
        received += answer;
    }
    s.line->send("\r");
    sent += "\r";
    const std::string closing = s.line->readUntil(">> ");
    EXPECT_EQ(closing, "end binary\r\r\n>> ");
    received += closing;

    EXPECT_EQ(s.target.readMemory(base, std::uint32_t(data.size() + 1)), frames::asBytes(data + '\0'));
    EXPECT_EQ(s.target.exchangesCompleted(), 1);
    EXPECT_EQ(toText(s.target.bytes(Direction::ToTarget)), sent);
    EXPECT_EQ(toText(s.target.bytes(Direction::FromTarget)), received);

    const auto entries = s.target.transcript();
    ASSERT_EQ(entries.size(), sent.size() + received.size());
    for (std::size_t i = 1; i < entries.size(); ++i) ASSERT_LE(entries[i - 1].at, entries[i].at);
    s.target.clearTranscript();
    EXPECT_TRUE(s.target.transcript().empty());
}

TEST(SimTarget, ReadExchangeSendsMemoryAndResendsOnRequest) {
    Session s;
    ASSERT_TRUE(s.started);
    const std::string data = frames::pattern(3000, 5);
    s.target.writeMemory(base, frames::asBytes(data));
    s.line->send("BRD\r");
    EXPECT_EQ(s.line->readUntil("binary\r"), "BRD\r\nbinary\r");
    s.line->send(frames::header(base, 3000));
    s.line->send("\x02");
    const std::string first = s.line->readCount(frames::blockSize + 1);
    EXPECT_EQ(first, frames::block(data.substr(0, frames::blockSize)).substr(1));
    s.line->send("N\x02");
    EXPECT_EQ(s.line->readCount(frames::blockSize + 1), first);
    s.line->send("Y\x02");
    EXPECT_EQ(s.line->readCount(frames::blockSize + 1), frames::block(data.substr(frames::blockSize)).substr(1));
    s.line->send("Y");
    EXPECT_EQ(s.line->readUntil(">> "), "end binary\r\r\n>> ");
    EXPECT_EQ(s.target.exchangesCompleted(), 1);
}

TEST(SimTarget, SilentHostLosesTheExchangeAfterASecond) {
    Session s;
    ASSERT_TRUE(s.started);
    s.line->send("BWR\r");
    s.line->readUntil("binary\r");
    s.line->send(frames::header(base, 10) + "\x02" + "abc");
    const auto since = steady_clock::now();
    ASSERT_TRUE(s.target.waitUntil([&] { return s.target.exchangesAborted() == 1; }, seconds(3)));
    const auto took = steady_clock::now() - since;
    EXPECT_GE(took, milliseconds(900));
    EXPECT_LE(took, milliseconds(2000));
    // The next command is a command again, not block data.
    s.line->send("sr epc 1\r");
    EXPECT_TRUE(s.line->readUntil(">> ").ends_with("\r\n>> "));
    EXPECT_EQ(s.target.reg("epc"), 1u);
}

TEST(SimTarget, AbortByteReturnsToCommandsSilently) {
    Session s;
    ASSERT_TRUE(s.started);
    s.line->send("BRD\r");
    s.line->readUntil("binary\r");
    s.line->send("\xff");
    ASSERT_TRUE(s.target.waitUntil([&] { return s.target.exchangesAborted() == 1; }, seconds(2)));
    EXPECT_EQ(s.line->drain(milliseconds(50)), "");
    s.line->send("\r");
    EXPECT_EQ(s.line->readUntil(">> "), "\r\n\r\n>> ");
}

TEST(SimTarget, GoesSilentAfterSoManyBytesSent) {
    sim::Options options;
    Session probe;  // the greeting's length, whatever the text
    ASSERT_TRUE(probe.started);
    options.faults.silentAfterSentBytes = long(probe.greeting.size()) + 3;
    Session s(options);
    ASSERT_TRUE(s.started);
    s.line->send("dr\r");
    EXPECT_EQ(s.line->drain(), "dr\r");
    EXPECT_EQ(s.target.bytes(Direction::FromTarget).size(), probe.greeting.size() + 3);
}

TEST(SimTarget, GoesSilentAfterSoManyBytesReceived) {
    sim::Options options;
    options.faults.silentAfterReceivedBytes = 2;
    Session s(options);
    ASSERT_TRUE(s.started);
    s.line->send("BWR\r");
    EXPECT_EQ(s.line->drain(), "BW");
    EXPECT_EQ(toText(s.target.bytes(Direction::ToTarget)), "BWR\r");
}

TEST(SimTarget, SaysWhatTheTestWants) {
    Session s;
    ASSERT_TRUE(s.started);
    s.target.say("a>b>\r\n>> ");
    EXPECT_EQ(s.line->readUntil(">> "), "a>b>\r\n>> ");
}

TEST(SimTarget, PacesBothDirections) {
    sim::Options options;
    options.baud = 230400;  // 23,040 bytes per second
    Session s(options);
    ASSERT_TRUE(s.started);
    ASSERT_TRUE(s.greeting.ends_with(">> "));

    // Out: 2,000 bytes take about 86.8 ms.
    const std::string text = frames::pattern(2000, 3);
    auto since = steady_clock::now();
    s.target.say(text);
    EXPECT_EQ(s.line->readCount(2000), text);
    auto took = steady_clock::now() - since;
    EXPECT_GE(took, milliseconds(80));
    EXPECT_LE(took, milliseconds(400));

    // In: a block of 2,050 bytes is taken in about 89 ms before its "Y".
    s.line->send("BWR\r");
    s.line->readUntil("binary\r");
    s.line->send(frames::header(base, 1));
    ASSERT_TRUE(s.target.waitUntil([&] { return s.target.bytes(Direction::ToTarget).size() == 13; }, seconds(1)));
    since = steady_clock::now();
    s.line->send(frames::block("z"));
    EXPECT_EQ(s.line->readCount(1), "Y");
    took = steady_clock::now() - since;
    EXPECT_GE(took, milliseconds(85));
    EXPECT_LE(took, milliseconds(400));

    // Taken in small batches, not all at once. The "Y" is logged just after
    // it is written, so it may reach the transcript a moment after the line.
    ASSERT_TRUE(s.target.waitUntil(
        [&] {
            const auto sent = s.target.bytes(Direction::FromTarget);
            return !sent.empty() && sent.back() == 'Y';
        },
        seconds(1)));
    const auto entries = s.target.transcript();
    const auto last = entries.end() - 2;  // the "Y" follows the block
    const auto first = last - 2049;
    EXPECT_EQ(first->direction, Direction::ToTarget);
    EXPECT_EQ(first->byte, 0x02);
    EXPECT_GE(last->at - first->at, milliseconds(80));

    // The block's first byte was seen on the line a byte time (10 bits at
    // 230400 baud) before it was taken and stamped.
    const auto starts = s.target.burstStarts();
    const auto index = std::size_t(first - entries.begin());
    const auto start = std::find_if(starts.begin(), starts.end(),
                                    [&](const sim::BurstStart& burst) { return burst.index == index; });
    ASSERT_NE(start, starts.end());
    EXPECT_GE(first->at - start->seen, nanoseconds(43'402));
    EXPECT_LE(first->at - start->seen, milliseconds(50));
}

TEST(SimTarget, ReopenedDeviceKeepsServing) {
    Session s;
    ASSERT_TRUE(s.started);
    s.line->close();
    PtyLine again(s.target.slavePath());
    ASSERT_TRUE(again.isOpen());
    again.send("\r");
    EXPECT_EQ(again.readUntil(">> "), "\r\n\r\n>> ");
}

TEST(SimTarget, ClosedMasterLeavesADeadDevice) {
    Session s;
    ASSERT_TRUE(s.started);
    s.target.closeMaster();
    pollfd p{s.line->fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    char byte;
    EXPECT_LE(::read(s.line->fd(), &byte, 1), 0);
    // Whatever is said now goes nowhere, and stopping is still clean.
    s.target.say("x");
    s.target.stop();
}

TEST(SimTarget, LinksToTheDeviceWhileRunning) {
    char folder[] = "/tmp/sim-link-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/port";
    {
        sim::Options options;
        options.linkPath = link;
        SimTarget target(options);
        ASSERT_TRUE(target.start());
        char buffer[256] = {};
        ASSERT_GT(::readlink(link.c_str(), buffer, sizeof buffer - 1), 0);
        EXPECT_EQ(std::string(buffer), target.slavePath());
        PtyLine line(link);
        EXPECT_TRUE(line.readUntil("\r\n>> ").ends_with(">> "));
        EXPECT_FALSE(target.start());  // already running
    }
    struct stat info {};
    EXPECT_NE(::lstat(link.c_str(), &info), 0);

    // Never over a real file.
    std::ofstream(link) << "keep";
    {
        sim::Options options;
        options.linkPath = link;
        SimTarget target(options);
        EXPECT_FALSE(target.start());
    }
    std::ifstream kept(link);
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "keep");
    ::unlink(link.c_str());
    ::rmdir(folder);
}
