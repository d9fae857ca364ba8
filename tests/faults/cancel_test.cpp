// ESC in each phase of a transfer. The worker looks at the cancel flag only
// at the start of the stream and before each block and attempt, so an ESC
// in a wait for the monitor takes effect at the next look, and one while an
// exchange closes or the start registers of a load go out not at all. Every
// cancel prints "\n", sends no carriage return and makes the command give
// false.
#include "tests/faults/fault_rig.h"
#include "loader/load_command.h"
#include "tests/loader/loader_files.h"

namespace faults {
namespace {

std::size_t countOf(const Bytes& bytes, std::uint8_t byte) {
    return std::size_t(std::count(bytes.begin(), bytes.end(), byte));
}

// The monitor takes the command's first three bytes and then hears nothing;
// the test keeps the line busy with stray bytes, so that the host goes on
// waiting for "binary\r", until ESC has been read, and then says it.
void expectCancelBeforeAcknowledgement(bool save) {
    TempFolder folder;
    sim::Options options;
    options.faults.silentAfterReceivedBytes = 3;
    FaultRig rig(options);
    rig.escWhen([] { return true; });
    std::thread far([&] {
        const auto deadline = std::chrono::steady_clock::now() + milliseconds(3000);
        while (!rig.escTaken() && std::chrono::steady_clock::now() < deadline) {
            rig.sim.target.say(".");
            // Well inside the host's 110 ms wait for a byte.
            std::this_thread::sleep_for(milliseconds(20));
        }
        rig.sim.target.say("\r\nbinary\r");
    });
    const std::string source = folder.write("in.bin", randomBytes(5000, 41));
    const std::string saved = folder.write("out.bin", randomBytes(100, 42));
    const bool result = save ? dsave(rig.console, saved.c_str(), Base, 5000, &rig.sim.port)
                             : dload(rig.console, source.c_str(), Base, &rig.sim.port);
    far.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(rig.escTaken());
    EXPECT_EQ(rig.screen(), "\n");
    EXPECT_EQ(rig.console.state, Typing);
    // The abort byte goes out in place of the header, and nothing after it.
    EXPECT_EQ(rig.sent(), (bytesOf(save ? "BRD\r" : "BWR\r") + Bytes{AbortByte}));
    if (save) {
        EXPECT_TRUE(TempFolder::read(saved).empty());
    }
}

TEST(Cancel, EscBeforeBinaryArrivesSendsTheAbortByteOnceItHas) {
    expectCancelBeforeAcknowledgement(false);
    expectCancelBeforeAcknowledgement(true);
}

TEST(Cancel, EscBetweenBlocksKeepsWhatTheTargetConfirmed) {
    TempFolder folder;
    constexpr std::uint32_t Blocks = 64;
    const Bytes data = randomBytes(Blocks * BlockSize, 43);
    const std::string source = folder.write("in.bin", data);
    sim::Options options;
    options.baud = 921600;  // some 1.5 s for the whole file
    for (bool save : {false, true}) {
        FaultRig rig(options);
        if (save) rig.sim.target.writeMemory(Base, data);
        // Acknowledged blocks: "Y" from the target on a dload, from the host on a dsave.
        const sim::Direction acks = save ? sim::Direction::ToTarget : sim::Direction::FromTarget;
        rig.escWhen([&] { return countOf(rig.sim.target.bytes(acks), AckByte) >= 2; });
        const std::string saved = folder.file("out.bin");
        const bool result = save ? dsave(rig.console, saved.c_str(), Base, Blocks * BlockSize, &rig.sim.port)
                                 : dload(rig.console, source.c_str(), Base, &rig.sim.port);
        EXPECT_FALSE(result);
        EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
        const Bytes wire = rig.sent();
        ASSERT_FALSE(wire.empty());
        EXPECT_EQ(wire.back(), AbortByte) << "no carriage return after a cancel";
        EXPECT_TRUE(rig.sim.target.waitUntil([&] { return rig.sim.target.exchangesAborted() == 1; },
                                             milliseconds(2000)));

        const std::size_t confirmed = countOf(rig.sim.target.bytes(acks), AckByte);
        EXPECT_GE(confirmed, 2u);
        EXPECT_LT(confirmed, Blocks);
        EXPECT_LE(stars(rig.screen()), confirmed);
        const auto kept = std::uint32_t(confirmed * BlockSize);
        if (save) {
            EXPECT_EQ(TempFolder::read(saved), Bytes(data.begin(), data.begin() + kept));
        } else {
            EXPECT_EQ(rig.memory(kept), Bytes(data.begin(), data.begin() + kept));
            EXPECT_EQ(rig.memory(BlockSize, Base + kept), Bytes(BlockSize, 0));
        }
    }
}

// Passes the worker's traffic to the real line, but holds the worker at one
// write, chosen by what it has written before, until ESC has been read.
class HoldingPort final : public SerialPort {
public:
    using Before = std::function<bool(const std::string& written)>;
    HoldingPort(SerialPort& line, fakes::ScriptedKeys& keysIn, Before holdBefore)
        : inner(line), keys(keysIn), before(std::move(holdBefore)) {}

    // Only the worker reads and writes here.
    std::int32_t read(void* buffer, std::int32_t count) override { return inner.read(buffer, count); }
    std::int32_t write(const void* buffer, std::int32_t count) override {
        if (!held && before(written)) {
            held = true;
            holding.store(true);
            waitFor([&] { return keys.taken.load() > 0; }, milliseconds(3000));
            // The main thread sets the cancel flag right after reading ESC.
            std::this_thread::sleep_for(milliseconds(20));
            holding.store(false);
        }
        written.append(static_cast<const char*>(buffer), std::size_t(count));
        return inner.write(buffer, count);
    }
    void pulseRts() override { inner.pulseRts(); }

    std::atomic<bool> holding{false};

private:
    SerialPort& inner;
    fakes::ScriptedKeys& keys;
    Before before;
    std::string written;
    bool held = false;
};

TEST(Cancel, EscWhileTheExchangeClosesLetsItFinish) {
    TempFolder folder;
    const Bytes data = randomBytes(2 * BlockSize + 5, 45);
    const std::string source = folder.write("in.bin", data);
    const std::size_t blocksEnd = dloadWire(data).size() - 1;
    FaultRig rig;
    // Held with every block confirmed, just before the closing "\r".
    HoldingPort worker(rig.sim.port, rig.keys,
                       [&](const std::string& written) { return written.size() == blocksEnd; });
    rig.escWhen([&] { return worker.holding.load(); });
    EXPECT_FALSE(dload(rig.console, source.c_str(), Base, &worker));
    EXPECT_TRUE(rig.escTaken());
    EXPECT_TRUE(screenIs(rig.screen(), "\n")) << rig.screen();
    // The exchange was closed as usual, and nothing came after it.
    EXPECT_EQ(rig.sent(), dloadWire(data));
    EXPECT_EQ(rig.memory(std::uint32_t(data.size())), data);
    EXPECT_EQ(rig.sim.target.exchangesCompleted(), 1);
    EXPECT_EQ(rig.sim.target.exchangesAborted(), 0);
}

TEST(Cancel, EscDuringTheStartRegistersTakesEffectAfterThem) {
    loadertest::ScratchDir dir;
    loadertest::ExeLayout layout;
    layout.initialPc = 0x80010040;
    layout.initialGp = 0x80018000;
    layout.loadAddress = Base;
    layout.stackBase = 0x801f0000;
    layout.stackSize = 0x1000;
    layout.data = randomBytes(3000, 44);
    const std::string path = dir.write("prog.exe", loadertest::exeImage(layout));

    FaultRig rig;
    // Held after "sr epc ...\r", before "sr gp" goes out.
    HoldingPort worker(rig.sim.port, rig.keys, [](const std::string& written) {
        return written.find("sr epc") != std::string::npos && written.ends_with("\r");
    });
    rig.escWhen([&] { return worker.holding.load(); });
    EXPECT_FALSE(load(rig.console, path.c_str(), &worker));
    EXPECT_TRUE(rig.escTaken());
    EXPECT_TRUE(screenIs(rig.screen().substr(16), "\n")) << rig.screen();
    EXPECT_EQ(rig.screen().substr(0, 16), "QORA-EXE format\n");
    EXPECT_EQ(rig.console.state, Typing);

    // The sequence ran to its end: all three registers are set, no abort.
    EXPECT_EQ(rig.sim.target.reg("epc"), 0x80010040u);
    EXPECT_EQ(rig.sim.target.reg("gp"), 0x80018000u);
    EXPECT_EQ(rig.sim.target.reg("sp"), 0x801f1000u);
    EXPECT_EQ(rig.memory(3000), layout.data);
    EXPECT_EQ(rig.sim.target.exchangesCompleted(), 1);
    EXPECT_EQ(rig.sim.target.exchangesAborted(), 0);
    // After the block only the closing "\r" and the three register commands:
    // no abort byte, and no carriage return after the last one.
    const Bytes wire = rig.sent();
    const Bytes tail = bytesOf("\rsr epc 80010040\rsr gp 80018000\rsr sp 801f1000\r");
    ASSERT_GE(wire.size(), tail.size());
    EXPECT_EQ(Bytes(wire.end() - std::ptrdiff_t(tail.size()), wire.end()), tail);
    EXPECT_EQ(wire.size(), dloadWire(layout.data).size() - 1 + tail.size());
}

}  // namespace
}  // namespace faults
