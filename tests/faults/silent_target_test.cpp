// A target that stops talking at some point of an exchange, in both
// directions: the host gives up after one read time-out, sends no abort byte,
// says "transfer failed", asks for a fresh prompt, and leaves on disk and in
// target memory exactly what was confirmed before the silence.
#include "tests/faults/fault_rig.h"

namespace faults {
namespace {

const Bytes FailedTail = {CarriageReturn};

sim::Options silentAfterSent(long bytes) {
    sim::Options options;
    options.faults.silentAfterSentBytes = bytes;
    return options;
}

sim::Options silentAfterReceived(long bytes) {
    sim::Options options;
    options.faults.silentAfterReceivedBytes = bytes;
    return options;
}

TEST(SilentTarget, FromTheStartNothingButTheFirstCommandByteGoesOut) {
    TempFolder folder;
    const Bytes data = randomBytes(3000, 1);
    const std::string source = folder.write("in.bin", data);
    const std::string saved = folder.write("out.bin", randomBytes(500, 2));
    {
        FaultRig rig(silentAfterSent(0));
        EXPECT_FALSE(dload(rig.console, source.c_str(), Base, &rig.sim.port));
        EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
        EXPECT_EQ(rig.sent(), bytesOf("B\r")) << "no echo: the command stops at its first byte";
        EXPECT_EQ(rig.console.state, Typing);
        EXPECT_EQ(rig.memory(3000), Bytes(3000, 0));
    }
    {
        FaultRig rig(silentAfterSent(0));
        EXPECT_FALSE(dsave(rig.console, saved.c_str(), Base, 3000, &rig.sim.port));
        EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
        EXPECT_EQ(rig.sent(), bytesOf("B\r"));
        EXPECT_TRUE(TempFolder::read(saved).empty()) << "the old file is emptied all the same";
    }
}

TEST(SilentTarget, AfterTheEchoTheAcknowledgementIsAwaitedOnceAndNoHeaderFollows) {
    TempFolder folder;
    const Bytes data = randomBytes(3000, 3);
    const std::string source = folder.write("in.bin", data);
    const long echoed = greetingLength() + CommandEchoLength;
    {
        FaultRig rig(silentAfterSent(echoed));
        EXPECT_FALSE(dload(rig.console, source.c_str(), Base, &rig.sim.port));
        EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
        EXPECT_EQ(rig.sent(), bytesOf("BWR\r\r"));
        EXPECT_EQ(rig.memory(3000), Bytes(3000, 0));
    }
    {
        FaultRig rig(silentAfterSent(echoed));
        const std::string saved = folder.file("out.bin");
        EXPECT_FALSE(dsave(rig.console, saved.c_str(), Base, 3000, &rig.sim.port));
        EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
        EXPECT_EQ(rig.sent(), bytesOf("BRD\r\r"));
        EXPECT_TRUE(std::filesystem::exists(saved));
        EXPECT_TRUE(TempFolder::read(saved).empty());
    }
}

TEST(SilentTarget, InTheMiddleOfASentBlockTheFirstBlockStaysInMemory) {
    TempFolder folder;
    const Bytes data = randomBytes(2 * BlockSize, 4);
    const std::string source = folder.write("in.bin", data);
    // The monitor stops listening 1000 bytes into the second block.
    const long received = long(dloadOpening(0).size()) + (BlockSize + 2) + 1 + 1000;
    FaultRig rig(silentAfterReceived(received));
    EXPECT_FALSE(dload(rig.console, source.c_str(), Base, &rig.sim.port));
    EXPECT_TRUE(screenIs(rig.screen(), "\ntransfer failed\n")) << rig.screen();
    // The whole second block goes out, then its reply never comes: no retry,
    // no abort byte.
    EXPECT_EQ(rig.sent(), dloadOpening(2 * BlockSize) + wireBlock(data, 0) + wireBlock(data, 1) +
                              FailedTail);
    EXPECT_EQ(rig.memory(BlockSize), Bytes(data.begin(), data.begin() + BlockSize));
    EXPECT_EQ(rig.memory(BlockSize, Base + BlockSize), Bytes(BlockSize, 0));
}

TEST(SilentTarget, InTheMiddleOfAReceivedBlockTheFileKeepsTheWholeBlocksBefore) {
    TempFolder folder;
    const Bytes memory = randomBytes(3 * BlockSize, 5);
    // Silent 1000 bytes into the second block the target sends.
    const long sent = greetingLength() + CommandEchoLength + AcknowledgementLength + (BlockSize + 1) + 1000;
    FaultRig rig(silentAfterSent(sent));
    rig.sim.target.writeMemory(Base, memory);
    const std::string saved = folder.file("out.bin");
    EXPECT_FALSE(dsave(rig.console, saved.c_str(), Base, 3 * BlockSize, &rig.sim.port));
    EXPECT_TRUE(screenIs(rig.screen(), "\ntransfer failed\n")) << rig.screen();
    // The half block is neither answered nor asked for again.
    EXPECT_EQ(rig.sent(), (dsaveOpening(3 * BlockSize) + Bytes{BlockStartByte, AckByte, BlockStartByte} +
                              FailedTail));
    EXPECT_EQ(TempFolder::read(saved), Bytes(memory.begin(), memory.begin() + BlockSize));
}

}  // namespace
}  // namespace faults
