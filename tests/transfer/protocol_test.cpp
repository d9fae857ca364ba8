// The wire protocol, against a line whose far end is scripted byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/terminal.h"
#include "tests/support/fakes.h"
#include "transfer/block_codec.h"
#include "transfer/data_file_job.h"
#include "transfer/rts_pulses.h"
#include "tests/transfer/temp_file.h"

namespace {

std::string bytesOf(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::string block(const std::string& data) {
    std::string padded = data;
    padded.resize(BlockSize, '\0');
    const auto checksum = blockChecksum(reinterpret_cast<const std::uint8_t*>(padded.data()));
    return "\x02" + padded + std::string(1, static_cast<char>(checksum));
}

class Protocol : public ::testing::Test {
protected:
    // A job over a file of the given bytes, run on the test's own thread.
    DataFileJob& jobOver(const std::vector<std::uint8_t>& bytes) {
        EXPECT_TRUE(job.openFile(folder.write("data.bin", bytes).c_str()));
        return job;
    }
    void TearDown() override {
        if (job.isOpen()) job.close();
    }

    TempFolder folder;
    fakes::RecordingPort line;
    DataFileJob job;
    RtsPulses strictPulses{&line, PulseMode::Strict};
};

TEST_F(Protocol, WordsGoOutMostSignificantByteFirst) {
    EXPECT_EQ(job.sendWord(&line, 0x80010203), 4);
    EXPECT_EQ(line.written, "\x80\x01\x02\x03");
}

TEST_F(Protocol, AwaitedTextIsFoundInOrderAmongOtherBytes) {
    line.chunks = {"xxbiXnaryy\r\n"};
    EXPECT_TRUE(job.waitForText(&line, "binary\r"));
    EXPECT_EQ(line.chunks.front(), "\n");  // nothing read past the text

    line.chunks = {"binar", "", "y\r"};  // a silent read ends the wait
    EXPECT_FALSE(job.waitForText(&line, "binary\r"));

    line.chunks = {"yranib\r"};  // the right bytes in the wrong order
    EXPECT_FALSE(job.waitForText(&line, "binary\r"));
}

TEST_F(Protocol, EchoesAreReadButNotCompared) {
    line.chunks = {"wxyz"};
    EXPECT_TRUE(job.sendEchoed(&line, "BWR\r"));
    EXPECT_EQ(line.written, "BWR\r");

    line.written.clear();
    line.chunks = {"BWR"};  // no echo after the last byte is fine
    EXPECT_TRUE(job.sendEchoed(&line, "BWR\r"));

    line.written.clear();
    line.chunks = {"B"};  // a missing echo with bytes left stops the command
    EXPECT_FALSE(job.sendEchoed(&line, "BWR\r"));
    EXPECT_EQ(line.written, "BW");
}

TEST_F(Protocol, ARefusedBlockIsSentAgainUnchangedAndThreeRefusalsAbort) {
    std::memset(blockCodec.buffer, 0x5A, BlockSize);
    const std::string once = block(std::string(BlockSize, '\x5A'));

    line.chunks = {"N", "Y"};
    EXPECT_TRUE(blockCodec.sendBlock(&line, &job));
    EXPECT_EQ(line.written, once + once);
    // Each whole, in one write: no wait for the line to drain inside a block.
    EXPECT_EQ(line.writes, (std::vector<std::string>{once, once}));

    line.written.clear();
    line.chunks = {"N", "?", "N", "Y"};
    EXPECT_FALSE(blockCodec.sendBlock(&line, &job));
    EXPECT_EQ(line.written, once + once + once + "\xff");
    EXPECT_EQ(line.chunks.front(), "Y");

    line.written.clear();
    line.chunks = {};  // no reply at all: no abort byte
    EXPECT_FALSE(blockCodec.sendBlock(&line, &job));
    EXPECT_EQ(line.written, once);
}

TEST_F(Protocol, ChecksumsAddEveryByteOfTheBlock) {
    std::uint8_t data[BlockSize] = {};
    EXPECT_EQ(blockChecksum(data), 0x00);
    data[5] = 0x80;
    data[2047] = 0x90;
    EXPECT_EQ(blockChecksum(data), 0x10);
}

TEST_F(Protocol, AReceivedBlockIsCheckedAndAskedForAgainWithPulsesAfterEveryByte) {
    const std::string data = bytesOf(randomBytes(BlockSize, 1));
    const auto good = static_cast<char>(
        blockChecksum(reinterpret_cast<const std::uint8_t*>(data.data())));
    const char bad = static_cast<char>(good + 1);

    // Strict pulses on a port whose pulse is a driver call: one per byte read.
    line.lineControlPulses = true;
    RtsPulses strict(&line, PulseMode::Strict);
    line.chunks = {data + bad, data + good};
    EXPECT_TRUE(blockCodec.receiveBlock(&line, &job, strict));
    EXPECT_EQ(line.written, "\x02N\x02");  // the reply is the caller's
    EXPECT_EQ(line.rtsPulses, 2 * BlockSize);
    EXPECT_EQ(std::memcmp(blockCodec.buffer, data.data(), BlockSize), 0);

    line.written.clear();
    line.chunks = {data + bad, data + bad, data + bad};
    EXPECT_FALSE(blockCodec.receiveBlock(&line, &job, strict));
    EXPECT_EQ(line.written, "\x02N\x02N\x02N\xff");

    // A pulse that is no driver call is made in place, before the next read,
    // even when asked to overlap: on a pty or the network, as ever.
    line.written.clear();
    line.rtsPulses = 0;
    line.reads = 0;
    line.lineControlPulses = false;
    RtsPulses inPlace(&line, PulseMode::Overlapped);
    int pulsedLate = 0;
    line.beforeRead = [&](int reads) { pulsedLate += line.rtsPulses != reads - 1; };
    line.chunks = {data.substr(0, 100)};  // the target stops mid-block
    EXPECT_FALSE(blockCodec.receiveBlock(&line, &job, inPlace));
    EXPECT_EQ(line.written, "\x02");
    EXPECT_EQ(line.rtsPulses, 101);  // the read that got nothing is pulsed too
    EXPECT_EQ(pulsedLate, 0);
}

TEST_F(Protocol, StreamingCutsTheDataIntoBlocksAndPadsTheLastWithZeros) {
    // Leave something in the buffer that must not leak into this transfer.
    std::memset(blockCodec.buffer, 0xEE, BlockSize);
    const auto data = randomBytes(BlockSize + 1, 2);
    jobOver(data);
    line.chunks = {"YY"};
    EXPECT_TRUE(job.streamToTarget(&line, 0x80010000, BlockSize + 1));
    const std::string expected = std::string("\x01\x80\x01\x00\x00\x00\x00\x08\x01", 9) +
                                 block(bytesOf(data).substr(0, BlockSize)) +
                                 block(bytesOf(data).substr(BlockSize));
    EXPECT_EQ(line.written, expected);
    EXPECT_EQ(job.bytesDone(), BlockSize + 1u);
}

TEST_F(Protocol, TheNextBlockIsReadFromTheFileWhileTheReplyIsAwaited) {
    const auto data = randomBytes(2 * BlockSize, 6);
    const std::string path = folder.write("data.bin", data);
    ASSERT_TRUE(job.openFile(path.c_str()));
    // Overwritten while the first reply is awaited: too late for the second block.
    line.beforeRead = [&](int reads) {
        if (reads != 1) return;
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(BlockSize);
        file << std::string(BlockSize, 'x');
    };
    line.chunks = {"YY"};
    EXPECT_TRUE(job.streamToTarget(&line, 0x80010000, 2 * BlockSize));
    EXPECT_EQ(line.written.substr(9 + BlockSize + 2), block(bytesOf(data).substr(BlockSize)));
}

TEST_F(Protocol, AnEmptyStreamIsOnlyItsHeader) {
    jobOver({});
    EXPECT_TRUE(job.streamToTarget(&line, 0x12345678, 0));
    EXPECT_EQ(line.written, std::string("\x01\x12\x34\x56\x78\x00\x00\x00\x00", 9));
}

TEST_F(Protocol, AFileShorterThanAnnouncedAbortsInsteadOfSendingMadeUpData) {
    jobOver(randomBytes(BlockSize + 10, 3));
    line.chunks = {"Y"};
    EXPECT_FALSE(job.streamToTarget(&line, 0x80010000, 3 * BlockSize));
    ASSERT_EQ(line.written.size(), 9u + (BlockSize + 2) + 1);
    EXPECT_EQ(line.written.back(), '\xff');
}

TEST_F(Protocol, ACancelledJobSendsTheAbortByteAtItsNextTest) {
    jobOver(randomBytes(100, 4));
    job.cancelAndWait();  // no worker: only the flag is set
    EXPECT_FALSE(job.streamToTarget(&line, 0, 100));
    EXPECT_EQ(line.written, "\xff");

    line.written.clear();
    EXPECT_FALSE(blockCodec.sendBlock(&line, &job));
    EXPECT_EQ(line.written, "\xff");

    line.written.clear();
    EXPECT_FALSE(blockCodec.receiveBlock(&line, &job, strictPulses));
    EXPECT_EQ(line.written, "\xff");
}

// A stop while the first reply is on its way, the reply there on waking,
// and nothing yet from the thread that will count the stop: no second block.
TEST_F(Protocol, AStopNotYetCountedEndsTheStreamBeforeItsNextBlock) {
    const auto data = randomBytes(2 * BlockSize, 7);
    jobOver(data);
    platform::noteRunning();  // the process was last seen running now
    line.beforeRead = [&](int reads) {
        if (reads == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    };
    line.chunks = {"YY"};
    EXPECT_FALSE(job.streamToTarget(&line, 0x80010000, 2 * BlockSize));
    EXPECT_EQ(line.written.substr(9), block(bytesOf(data).substr(0, BlockSize)) + "\xff");
}

TEST_F(Protocol, ReceivedStreamsKeepOnlyTheAnnouncedLength) {
    const std::string target = bytesOf(randomBytes(2 * BlockSize, 5));
    auto sum = [&](std::size_t at) {
        return std::string(1, static_cast<char>(blockChecksum(
                                  reinterpret_cast<const std::uint8_t*>(target.data() + at))));
    };
    ASSERT_TRUE(job.openForWrite(folder.file("out.bin").c_str()));
    line.chunks = {target.substr(0, BlockSize) + sum(0) + target.substr(BlockSize) + sum(BlockSize)};
    EXPECT_TRUE(job.streamFromTarget(&line, 0xA0000000, BlockSize + 7));
    job.close();
    EXPECT_EQ(bytesOf(TempFolder::read(folder.file("out.bin"))), target.substr(0, BlockSize + 7));
    EXPECT_EQ(line.written, std::string("\x01\xa0\x00\x00\x00\x00\x00\x08\x07\x02Y\x02Y", 13));
    // A block's "Y" takes the next block's request along, in one write.
    EXPECT_EQ(line.writes.end()[-2], "Y\x02");
}

TEST_F(Protocol, ABlockWhoseYesCannotGoOutIsNotKept) {
    const std::string target = bytesOf(randomBytes(2 * BlockSize, 7));
    const auto sum = [&](std::size_t at) {
        return std::string(1, static_cast<char>(blockChecksum(
                                  reinterpret_cast<const std::uint8_t*>(target.data() + at))));
    };
    ASSERT_TRUE(job.openForWrite(folder.file("out.bin").c_str()));
    line.chunks = {target.substr(0, BlockSize) + sum(0) + target.substr(BlockSize) + sum(BlockSize)};
    // The header's three writes and the first request go out, nothing after.
    line.accepts = [&](std::int32_t count) { return line.writes.size() < 4 ? count : 0; };
    EXPECT_FALSE(job.streamFromTarget(&line, 0xA0000000, 2 * BlockSize));
    job.close();
    EXPECT_EQ(TempFolder::read(folder.file("out.bin")).size(), 0u);

    // The "Y" went out, the next request did not: the block is the file's.
    line.chunks = {target.substr(0, BlockSize) + sum(0)};
    line.accepts = [](std::int32_t count) { return count == 2 ? 1 : count; };
    ASSERT_TRUE(job.openForWrite(folder.file("out.bin").c_str()));
    EXPECT_FALSE(job.streamFromTarget(&line, 0xA0000000, 2 * BlockSize));
    job.close();
    EXPECT_EQ(bytesOf(TempFolder::read(folder.file("out.bin"))), target.substr(0, BlockSize));
}

TEST_F(Protocol, ExchangesOpenAndCloseWithTheirTexts) {
    line.chunks = {"BWR\r", "\nbinary\r"};
    EXPECT_TRUE(job.beginBinaryWrite(&line));
    line.chunks = {"end binary\r\n>> "};
    EXPECT_TRUE(job.endBinaryWrite(&line));
    EXPECT_EQ(line.written, "BWR\r\r");

    line.written.clear();
    line.chunks = {"BRD\r", "binary\r"};
    EXPECT_TRUE(job.beginBinaryRead(&line));
    line.chunks = {"end binary\r"};
    EXPECT_TRUE(job.endBinaryRead(&line));
    EXPECT_EQ(line.written, "BRD\r");

    line.written.clear();
    line.chunks = {};  // a silent target: nothing but the first byte goes out
    EXPECT_FALSE(job.beginBinaryWrite(&line));
    EXPECT_EQ(line.written, "B");
}

}  // namespace
