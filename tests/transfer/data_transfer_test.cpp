// dload and dsave end to end: the console, a real serial port and the
// simulated monitor, looked at through its memory and its transcript.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "transfer/block_codec.h"
#include "transfer/data_commands.h"
#include "transfer/data_file_job.h"
#include "tests/transfer/sim_console.h"
#include "tests/transfer/temp_file.h"

namespace {

constexpr std::uint32_t Base = 0x80010000;

std::vector<std::uint8_t> header(std::uint32_t address, std::uint32_t length) {
    return {0x01,
            static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
}

// What the host sends for a whole dload: command, header, blocks, closing CR.
std::vector<std::uint8_t> expectedDload(const std::vector<std::uint8_t>& data,
                                        std::uint32_t address) {
    std::vector<std::uint8_t> wire = {'B', 'W', 'R', '\r'};
    const auto head = header(address, static_cast<std::uint32_t>(data.size()));
    wire.insert(wire.end(), head.begin(), head.end());
    for (std::size_t at = 0; at < data.size(); at += BlockSize) {
        std::uint8_t block[BlockSize] = {};
        std::memcpy(block, data.data() + at, std::min<std::size_t>(BlockSize, data.size() - at));
        wire.push_back(0x02);
        wire.insert(wire.end(), block, block + BlockSize);
        wire.push_back(blockChecksum(block));
    }
    wire.push_back('\r');
    return wire;
}

TEST(Dload, TheFileLandsInTargetMemoryCutIntoZeroPaddedBlocks) {
    SimConsole sim;
    TempFolder folder;
    // An earlier transfer leaves bytes in the block buffer; they must not
    // reach the next one.
    std::memset(blockCodec.buffer, 0xA5, BlockSize);
    unsigned seed = 10;
    for (std::uint32_t length : {0u, 1u, 2047u, 2048u, 2049u, 3u * 2048u + 100u}) {
        const auto data = randomBytes(length, ++seed);
        const std::string path = folder.write("data.bin", data);
        sim.console.state = AtPrompt;
        ASSERT_TRUE(dload(sim.console, path.c_str(), Base, &sim.port)) << length;
        EXPECT_EQ(sim.console.state, Typing);
        EXPECT_EQ(sim.target.readMemory(Base, length), data) << length;

        auto wire = sim.sent();
        ASSERT_FALSE(wire.empty());
        EXPECT_EQ(wire.back(), '\r') << "the console asks for a fresh prompt";
        wire.pop_back();
        EXPECT_EQ(wire, expectedDload(data, Base)) << length;
        EXPECT_EQ(sim.screen.text.back(), '\n');
        EXPECT_EQ(sim.screen.text.find("transfer failed"), std::string::npos);
        EXPECT_LE(std::count(sim.screen.text.begin(), sim.screen.text.end(), '*'),
                  static_cast<long>(length / BlockSize));
        sim.settle();
    }
}

TEST(Dload, TheLargestFileGoesThroughWhole) {
    SimConsole sim;
    TempFolder folder;
    const auto data = randomBytes(MaxDataFileSize, 77);
    const std::string path = folder.write("big.bin", data);
    ASSERT_TRUE(dload(sim.console, path.c_str(), 0x801FFFFF, &sim.port));
    EXPECT_EQ(sim.target.readMemory(0x801FFFFF, MaxDataFileSize), data);
    EXPECT_EQ(sim.target.exchangesCompleted(), 1);
}

TEST(Dload, RefusedFilesAndAddressesAreReportedBeforeTheTargetHearsAnything) {
    SimConsole sim;
    TempFolder folder;
    const std::string small = folder.write("small.bin", randomBytes(16, 1));
    const std::string tooBig = folder.write("big.bin", randomBytes(MaxDataFileSize + 1, 2));
    struct Case {
        std::string path;
        std::uint32_t address;
        const char* message;
    };
    const Case cases[] = {
        {folder.file("missing.bin"), Base, "cannot open file\n"},
        {folder.file("missing.bin"), 0x07FFFFFF, "cannot open file\n"},
        {tooBig, Base, "cannot open file\n"},
        {small, 0x07FFFFFF, "invalid address\n"},
        {small, 0x80200000, "invalid address\n"},
        {small, 0xFFFFFFFF, "invalid address\n"},
    };
    for (const Case& c : cases) {
        sim.settle();
        sim.console.state = AtPrompt;
        EXPECT_FALSE(dload(sim.console, c.path.c_str(), c.address, &sim.port));
        EXPECT_EQ(sim.screen.text, c.message);
        EXPECT_EQ(sim.sent(), std::vector<std::uint8_t>{'\r'});
        EXPECT_EQ(sim.console.state, Typing);
    }
    for (std::uint32_t address : {0x08000000u, 0x801FFFFFu}) {
        sim.settle();
        EXPECT_TRUE(dload(sim.console, small.c_str(), address, &sim.port));
        EXPECT_EQ(sim.screen.text, "\n");
    }
}

TEST(Dsave, TargetMemoryLandsInANewFile) {
    SimConsole sim;
    TempFolder folder;
    const auto memory = randomBytes(3 * 2048 + 100, 5);
    sim.target.writeMemory(Base, memory);
    for (std::uint32_t length : {0u, 1u, 2048u, 2049u, 3u * 2048u + 100u}) {
        const std::string path = folder.file("out.bin");
        folder.write("out.bin", randomBytes(10000, 6));  // emptied, not overwritten in place
        sim.console.state = AtPrompt;
        ASSERT_TRUE(dsave(sim.console, path.c_str(), Base, length, &sim.port)) << length;
        EXPECT_EQ(TempFolder::read(path),
                  std::vector<std::uint8_t>(memory.begin(), memory.begin() + length));
        auto wire = sim.sent();
        const std::vector<std::uint8_t> opening = {'B', 'R', 'D', '\r'};
        ASSERT_GE(wire.size(), 13u);
        EXPECT_TRUE(std::equal(opening.begin(), opening.end(), wire.begin()));
        const auto head = header(Base, length);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), wire.begin() + 4));
        // One request and one "Y" per block, then only the console's CR.
        std::vector<std::uint8_t> rest(wire.begin() + 13, wire.end());
        std::vector<std::uint8_t> expected;
        for (std::uint32_t at = 0; at < length; at += BlockSize) {
            expected.push_back(0x02);
            expected.push_back('Y');
        }
        expected.push_back('\r');
        EXPECT_EQ(rest, expected) << length;
        sim.settle();
    }
}

TEST(Dsave, AFileThatCannotBeCreatedIsReported) {
    SimConsole sim;
    TempFolder folder;
    EXPECT_FALSE(dsave(sim.console, folder.file("no/such/dir/out.bin").c_str(), Base, 16, &sim.port));
    EXPECT_EQ(sim.screen.text, "cannot open file\n");
    EXPECT_EQ(sim.sent(), std::vector<std::uint8_t>{'\r'});
    EXPECT_EQ(sim.console.state, Typing);
}

TEST(Retries, ARefusedBlockIsResentAndThreeRefusalsAbortTheTransfer) {
    TempFolder folder;
    const auto data = randomBytes(2 * BlockSize, 8);
    const std::string path = folder.write("data.bin", data);
    {
        sim::Options options;
        options.faults.nakFirstBlocks = 2;
        SimConsole sim(options);
        ASSERT_TRUE(dload(sim.console, path.c_str(), Base, &sim.port));
        EXPECT_EQ(sim.target.readMemory(Base, 2 * BlockSize), data);
        // The first block went out three times, the second once.
        EXPECT_EQ(sim.sent().size(), 4 + 9 + 4 * (BlockSize + 2) + 1 + 1u);
    }
    {
        sim::Options options;
        options.faults.nakFirstBlocks = 3;
        SimConsole sim(options);
        EXPECT_FALSE(dload(sim.console, path.c_str(), Base, &sim.port));
        EXPECT_EQ(sim.screen.text, "\ntransfer failed\n");
        const auto wire = sim.sent();
        ASSERT_EQ(wire.size(), 4 + 9 + 3 * (BlockSize + 2) + 1 + 1u);
        EXPECT_EQ(wire[wire.size() - 2], AbortByte);
        EXPECT_EQ(wire.back(), '\r');
        EXPECT_EQ(sim.target.exchangesAborted(), 1);
    }
}

TEST(Retries, BadChecksumsFromTheTargetAreAskedForAgain) {
    TempFolder folder;
    const auto memory = randomBytes(BlockSize, 9);
    {
        sim::Options options;
        options.faults.badChecksumFirstBlocks = 2;
        SimConsole sim(options);
        sim.target.writeMemory(Base, memory);
        ASSERT_TRUE(dsave(sim.console, folder.file("a.bin").c_str(), Base, BlockSize, &sim.port));
        EXPECT_EQ(TempFolder::read(folder.file("a.bin")), memory);
        EXPECT_EQ(countByte(sim.sent(), 'N'), 2u);
    }
    {
        sim::Options options;
        options.faults.badChecksumFirstBlocks = 3;
        SimConsole sim(options);
        sim.target.writeMemory(Base, memory);
        EXPECT_FALSE(dsave(sim.console, folder.file("b.bin").c_str(), Base, BlockSize, &sim.port));
        EXPECT_EQ(sim.screen.text, "\ntransfer failed\n");
        const auto wire = sim.sent();
        const std::vector<std::uint8_t> tail = {0x02, 'N', 0x02, 'N', 0x02, 'N', AbortByte, '\r'};
        ASSERT_GE(wire.size(), tail.size());
        EXPECT_TRUE(std::equal(tail.begin(), tail.end(), wire.end() - 8));
        EXPECT_TRUE(TempFolder::read(folder.file("b.bin")).empty());
    }
}

TEST(Retries, ASilentTargetFailsWithoutAnAbortByte) {
    TempFolder folder;
    const std::string path = folder.write("data.bin", randomBytes(100, 3));
    sim::Options options;
    options.faults.silentAfterSentBytes = 0;
    SimConsole sim(options);
    EXPECT_FALSE(dload(sim.console, path.c_str(), Base, &sim.port));
    EXPECT_EQ(sim.screen.text, "\ntransfer failed\n");
    EXPECT_EQ(sim.sent(), (std::vector<std::uint8_t>{'B', '\r'}));
}

TEST(Retries, NoiseAroundTheTextsAndWrongEchoesAreAccepted) {
    TempFolder folder;
    const auto data = randomBytes(3000, 4);
    const std::string path = folder.write("data.bin", data);
    sim::Options options;
    options.faults.noiseAroundAcknowledgements = true;
    options.faults.wrongEcho = true;
    SimConsole sim(options);
    ASSERT_TRUE(dload(sim.console, path.c_str(), Base, &sim.port)) << sim.screen.text;
    EXPECT_EQ(sim.target.readMemory(Base, 3000), data);
    sim.settle();
    ASSERT_TRUE(dsave(sim.console, folder.file("back.bin").c_str(), Base, 3000, &sim.port));
    EXPECT_EQ(TempFolder::read(folder.file("back.bin")), data);
}

TEST(Dsave, AFailedTransferLeavesWhatArrivedOnDisk) {
    TempFolder folder;
    const auto memory = randomBytes(4 * BlockSize, 12);
    sim::Options options;
    // Silent after the echo, "binary\r" (with its prompt-free framing) and
    // two whole blocks with their checksums.
    options.faults.silentAfterSentBytes = 4 + 7 + 2 * (BlockSize + 1) + 100;
    SimConsole sim(options);
    sim.target.writeMemory(Base, memory);
    const std::string path = folder.write("out.bin", randomBytes(50000, 1));
    EXPECT_FALSE(dsave(sim.console, path.c_str(), Base, 4 * BlockSize, &sim.port));
    EXPECT_EQ(TempFolder::read(path),
              std::vector<std::uint8_t>(memory.begin(), memory.begin() + 2 * BlockSize));
}

TEST(Cancel, EscStopsATransferAndOtherKeysNeverReachTheTarget) {
    TempFolder folder;
    // Data without the byte typed, so that any 'x' on the wire would be the key.
    const std::string path =
        folder.write("data.bin", std::vector<std::uint8_t>(64 * BlockSize, 0x11));
    sim::Options options;
    options.baud = 921600;  // long enough to be cancelled midway
    for (bool save : {false, true}) {
        SimConsole sim(options);
        sim.keys.type({'x', 0, 59, 27});
        const bool result = save ? dsave(sim.console, folder.file("out.bin").c_str(), Base,
                                                     64 * BlockSize, &sim.port)
                                 : dload(sim.console, path.c_str(), Base, &sim.port);
        EXPECT_FALSE(result);
        EXPECT_EQ(sim.console.state, Typing);
        EXPECT_EQ(sim.screen.text.back(), '\n');
        EXPECT_EQ(sim.screen.text.find("transfer failed"), std::string::npos);
        const auto wire = sim.sent();
        ASSERT_FALSE(wire.empty());
        EXPECT_EQ(wire.back(), AbortByte) << "no carriage return after a cancel";
        EXPECT_EQ(countByte(wire, 'x'), 0u);
        EXPECT_TRUE(sim.keys.queue.empty());
        EXPECT_TRUE(sim.target.waitUntil([&] { return sim.target.exchangesAborted() == 1; },
                                         std::chrono::seconds(3)));
    }
}

TEST(Stars, OneStarPerConfirmedBlockCountedAfreshForEachTransfer) {
    TempFolder folder;
    sim::Options options;
    options.baud = 460800;
    SimConsole sim(options);
    const std::string path = folder.write("data.bin", randomBytes(20 * BlockSize + 100, 14));
    for (int round = 0; round < 2; ++round) {
        sim.settle();
        ASSERT_TRUE(dload(sim.console, path.c_str(), Base, &sim.port));
        const auto stars = std::count(sim.screen.text.begin(), sim.screen.text.end(), '*');
        EXPECT_GT(stars, 0);
        EXPECT_LE(stars, 20);
        EXPECT_EQ(sim.screen.text.back(), '\n');
    }
    const std::string tiny = folder.write("tiny.bin", randomBytes(2047, 15));
    sim.settle();
    ASSERT_TRUE(dload(sim.console, tiny.c_str(), Base, &sim.port));
    EXPECT_EQ(sim.screen.text, "\n");
}

}  // namespace
