// Blocks refused by the target ("N" in the write direction) and blocks that
// arrive with a bad checksum (read direction): each block is tried three
// times, then the exchange is abandoned with the abort byte.
#include "tests/faults/fault_rig.h"

namespace faults {
namespace {

sim::Options refusing(int blocks) {
    sim::Options options;
    options.faults.nakFirstBlocks = blocks;
    return options;
}

sim::Options spoiling(int blocks) {
    sim::Options options;
    options.faults.badChecksumFirstBlocks = blocks;
    return options;
}

TEST(Refusals, NToEveryBlockAbandonsTheExchangeAfterThreeTries) {
    TempFolder folder;
    const Bytes data = randomBytes(2 * BlockSize, 21);
    const std::string source = folder.write("in.bin", data);
    FaultRig rig(refusing(1'000'000));
    EXPECT_FALSE(dload(rig.console, source.c_str(), Base, &rig.sim.port));
    EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
    const Bytes first = wireBlock(data, 0);
    EXPECT_EQ(rig.sent(), (dloadOpening(2 * BlockSize) + first + first + first +
                              Bytes{AbortByte, CarriageReturn}));
    EXPECT_EQ(rig.memory(2 * BlockSize), Bytes(2 * BlockSize, 0));
    EXPECT_EQ(rig.sim.target.exchangesAborted(), 1);
    EXPECT_EQ(rig.sim.target.exchangesCompleted(), 0);
}

TEST(Refusals, NTwiceThenYSendsTheSameBlockThreeTimesAndGoesOn) {
    TempFolder folder;
    const Bytes data = randomBytes(2 * BlockSize + 10, 22);
    const std::string source = folder.write("in.bin", data);
    FaultRig rig(refusing(2));
    EXPECT_TRUE(dload(rig.console, source.c_str(), Base, &rig.sim.port));
    EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
    const Bytes first = wireBlock(data, 0);
    EXPECT_EQ(rig.sent(), (dloadOpening(std::uint32_t(data.size())) + first + first + first +
                              wireBlock(data, 1) + wireBlock(data, 2) +
                              Bytes{'\r', CarriageReturn}));
    EXPECT_EQ(rig.memory(std::uint32_t(data.size())), data);
    EXPECT_EQ(rig.sim.target.exchangesCompleted(), 1);
}

TEST(Refusals, BadChecksumsAreAskedForAgainUpToThreeTimes) {
    TempFolder folder;
    const std::uint32_t length = 2 * BlockSize;
    const Bytes memory = randomBytes(length, 23);
    const Bytes again = {BlockStartByte, NakByte};
    const Bytes accept = {BlockStartByte, AckByte};
    for (int spoiled : {1, 2}) {
        FaultRig rig(spoiling(spoiled));
        rig.sim.target.writeMemory(Base, memory);
        const std::string saved = folder.file("out" + std::to_string(spoiled) + ".bin");
        EXPECT_TRUE(dsave(rig.console, saved.c_str(), Base, length, &rig.sim.port)) << spoiled;
        EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
        Bytes wire = dsaveOpening(length);
        for (int i = 0; i < spoiled; ++i) wire += again;
        wire += accept + accept + Bytes{CarriageReturn};
        EXPECT_EQ(rig.sent(), wire) << spoiled;
        EXPECT_EQ(TempFolder::read(saved), memory) << spoiled;
    }
    FaultRig rig(spoiling(3));
    rig.sim.target.writeMemory(Base, memory);
    const std::string saved = folder.file("out3.bin");
    EXPECT_FALSE(dsave(rig.console, saved.c_str(), Base, length, &rig.sim.port));
    EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
    EXPECT_EQ(rig.sent(), (dsaveOpening(length) + again + again + again +
                              Bytes{AbortByte, CarriageReturn}));
    EXPECT_TRUE(TempFolder::read(saved).empty()) << "a block never matched is not written";
    EXPECT_TRUE(rig.sim.target.waitUntil([&] { return rig.sim.target.exchangesAborted() == 1; },
                                         milliseconds(2000)));
}

}  // namespace
}  // namespace faults
