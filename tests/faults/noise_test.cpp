// Stray bytes on the line and echoes that differ from what was sent. The
// awaited texts are found as in-order matches, so noise around and inside
// them costs nothing; a byte right after "binary\r" cannot be told from the
// first reply or data byte, which the protocol has no way round.
#include "tests/faults/fault_rig.h"

namespace faults {
namespace {

// A dload and a dsave that must go through untouched: the wire is byte for
// byte that of a clean line.
void expectCleanRoundTrip(const sim::Options& options) {
    TempFolder folder;
    const Bytes data = randomBytes(BlockSize + 900, 31);
    const std::string source = folder.write("in.bin", data);
    const auto length = std::uint32_t(data.size());
    FaultRig rig(options);

    ASSERT_TRUE(dload(rig.console, source.c_str(), Base, &rig.sim.port)) << rig.screen();
    EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
    EXPECT_EQ(rig.sent(), (dloadWire(data) + Bytes{CarriageReturn}));
    EXPECT_EQ(rig.memory(length), data);

    rig.sim.settle();
    const std::string saved = folder.file("out.bin");
    ASSERT_TRUE(dsave(rig.console, saved.c_str(), Base, length, &rig.sim.port)) << rig.screen();
    EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
    EXPECT_EQ(rig.sent(), (dsaveWire(length) + Bytes{CarriageReturn}));
    EXPECT_EQ(TempFolder::read(saved), data);
    EXPECT_EQ(rig.sim.target.exchangesCompleted(), 2);
}

TEST(Noise, BytesBeforeInsideAndAfterTheAwaitedTextsAreSkipped) {
    sim::Options options;
    options.faults.noiseAroundAcknowledgements = true;
    expectCleanRoundTrip(options);
}

TEST(Noise, EchoesThatDifferFromWhatWasSentAreAccepted) {
    sim::Options options;
    options.faults.wrongEcho = true;
    expectCleanRoundTrip(options);
}

// Write direction. The monitor takes "BWR" and then hears nothing more; the
// test answers in its place, with one stray byte right after "binary\r".
TEST(Noise, AByteRightAfterBinaryIsTakenAsTheFirstBlocksReply) {
    TempFolder folder;
    const Bytes data = randomBytes(1000, 32);
    const std::string source = folder.write("in.bin", data);
    sim::Options options;
    options.faults.silentAfterReceivedBytes = 3;
    FaultRig rig(options);
    sim::SimTarget& target = rig.sim.target;
    auto hostSent = [&](const Bytes& wire) {
        return target.waitUntil(
            [&] { return target.bytes(sim::Direction::ToTarget).size() >= wire.size(); },
            milliseconds(3000));
    };
    const Bytes block = wireBlock(data, 0);
    const Bytes twice = dloadOpening(1000) + block + block;

    std::thread far([&] {
        if (!hostSent(bytesOf("BWR\r"))) return;
        target.say("\r\nbinary\rZ");
        if (!hostSent(twice)) return;
        target.say("Y");
        if (!hostSent(twice + bytesOf("\r"))) return;
        target.say("end binary\r\r\n>> ");
    });
    const bool result = dload(rig.console, source.c_str(), Base, &rig.sim.port);
    far.join();
    // The stray byte was a refusal: the block went out a second time.
    EXPECT_TRUE(result);
    EXPECT_EQ(rig.screen(), "\n");
    EXPECT_EQ(rig.sent(), (twice + Bytes{'\r', CarriageReturn}));
}

// Read direction, with the monitor itself: the stray byte is said while the
// host pauses after "BRD\r", so it follows "binary\r" on the line and shifts
// every block by one byte.
TEST(Noise, AByteRightAfterBinaryShiftsTheReceivedBlocksUntilTheHostGivesUp) {
    TempFolder folder;
    FaultRig rig;
    sim::SimTarget& target = rig.sim.target;
    // Bytes whose shifted sums never match: see the checksum arithmetic below.
    target.writeMemory(Base, Bytes(BlockSize, 0x01));
    std::thread far([&] {
        const Bytes acknowledgement = bytesOf("binary\r");
        const bool seen = target.waitUntil(
            [&] {
                const Bytes said = target.bytes(sim::Direction::FromTarget);
                return std::search(said.begin(), said.end(), acknowledgement.begin(),
                                   acknowledgement.end()) != said.end();
            },
            milliseconds(3000));
        if (seen) target.say("Z");
    });
    const std::string saved = folder.file("out.bin");
    const bool result = dsave(rig.console, saved.c_str(), Base, BlockSize, &rig.sim.port);
    far.join();
    // First try: 'Z' and 2047 ones against a checksum byte of 1; then the
    // real checksum (0) and 2047 ones against 1, twice.
    EXPECT_FALSE(result);
    EXPECT_EQ(rig.screen(), "\ntransfer failed\n");
    const Bytes again = {BlockStartByte, NakByte};
    EXPECT_EQ(rig.sent(),
              (dsaveOpening(BlockSize) + again + again + again + Bytes{AbortByte, CarriageReturn}));
    EXPECT_TRUE(TempFolder::read(saved).empty());
    EXPECT_TRUE(target.waitUntil([&] { return target.exchangesAborted() == 1; }, milliseconds(2000)));
}

}  // namespace
}  // namespace faults
