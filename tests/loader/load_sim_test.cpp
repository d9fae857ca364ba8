// Whole loads through the console against the simulated monitor.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "console/console.h"
#include "loader/load_command.h"
#include "loader/ecoff_file_job.h"
#include "serial/serial_port.h"
#include "sim/sim_target.h"
#include "tests/loader/loader_files.h"
#include "tests/support/fakes.h"

namespace {

using loadertest::Bytes;
using loadertest::EcoffLayout;
using loadertest::ExeLayout;
using loadertest::ScratchDir;
using loadertest::section;

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

class SimLoad : public ::testing::Test {
protected:
    void startTarget(sim::Options options = {}) {
        target = std::make_unique<sim::SimTarget>(options);
        ASSERT_TRUE(target->start());
        ASSERT_TRUE(port.open(target->slavePath().c_str(), 115200));
        console.port = &port;
        // Whatever the monitor said on start-up stays out of the exchanges.
        drainLine();
        target->clearTranscript();
    }
    void drainLine() { loadertest::drainPort(port); }
    void TearDown() override {
        port.close();
        if (target) target->stop();
    }

    std::string sentToTarget() const {
        const auto bytes = target->bytes(sim::Direction::ToTarget);
        return std::string(bytes.begin(), bytes.end());
    }
    // Address and length of each write exchange, from the headers on the wire.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> exchangeHeaders() const {
        const std::string wire = sentToTarget();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> headers;
        for (auto at = wire.find("BWR\r"); at != std::string::npos; at = wire.find("BWR\r", at + 1)) {
            const std::size_t header = at + 4;
            if (header + 9 > wire.size() || wire[header] != '\x01') {
                ADD_FAILURE() << "no transfer header after BWR";
                continue;
            }
            headers.emplace_back(bigEndian32(wire, header + 1), bigEndian32(wire, header + 5));
        }
        return headers;
    }
    // The simulator logs what it reads on its own thread: wait for the last
    // bytes the host wrote to show up.
    std::string wireEndingWith(const std::string& tail) const {
        std::string wire;
        target->waitUntil(
            [&] {
                wire = sentToTarget();
                return wire.size() >= tail.size() &&
                       wire.compare(wire.size() - tail.size(), tail.size(), tail) == 0;
            },
            std::chrono::milliseconds(2000));
        return wire;
    }
    bool abortsReach(int count) const {
        return target->waitUntil([&] { return target->exchangesAborted() == count; },
                                 std::chrono::milliseconds(2000));
    }
    void expectMemory(std::uint32_t address, const Bytes& expected) const {
        EXPECT_EQ(expected, target->readMemory(address, static_cast<std::uint32_t>(expected.size())))
            << "at " << std::hex << address;
    }

    std::unique_ptr<sim::SimTarget> target;
    SerialPort port;
    fakes::ScriptedKeys keys;
    fakes::RecordingScreen screen;
    fakes::RecordingHost host;
    Console console{keys, screen, host};
    ScratchDir dir;
};

TEST_F(SimLoad, ExeDataLandsAtItsAddressAndTheRegistersAreSet) {
    startTarget();
    ExeLayout layout;
    layout.initialPc = 0x80010000;
    layout.initialGp = 0x8001abcd;
    layout.loadAddress = 0x80010000;
    layout.stackBase = 0x801f0000;
    layout.stackSize = 0x8000;
    layout.data = loadertest::pattern(3 * 2048 + 100, 7);
    const std::string path = dir.write("prog.exe", loadertest::exeImage(layout));

    EXPECT_TRUE(load(console, path.c_str(), &port));
    EXPECT_EQ(Typing, console.state);
    EXPECT_EQ(0u, screen.text.find("QORA-EXE format\n"));
    EXPECT_EQ('\n', screen.text.back());
    EXPECT_EQ(std::string::npos, screen.text.find("failed"));

    expectMemory(0x80010000, layout.data);
    EXPECT_EQ(0x80010000u, target->reg("epc"));
    EXPECT_EQ(0x8001abcdu, target->reg("gp"));
    EXPECT_EQ(0x801f8000u, target->reg("sp"));

    // After the last register only the carriage return that asks for a prompt.
    const std::string wire = wireEndingWith("sr sp 801f8000\r\r");
    const auto epc = wire.find("sr epc 80010000\r");
    const auto gp = wire.find("sr gp 8001abcd\r");
    const auto sp = wire.find("sr sp 801f8000\r");
    ASSERT_NE(std::string::npos, epc);
    ASSERT_NE(std::string::npos, gp);
    ASSERT_NE(std::string::npos, sp);
    EXPECT_LT(wire.find("BWR\r"), epc);
    EXPECT_LT(epc, gp);
    EXPECT_LT(gp, sp);
    EXPECT_EQ(sp + std::string("sr sp 801f8000\r").size() + 1, wire.size());
    EXPECT_EQ(1, target->exchangesCompleted());
}

TEST_F(SimLoad, EmptyExeStillOpensAnExchangeAndSetsTheRegisters) {
    startTarget();
    target->setReg("sp", 0x12345678);
    ExeLayout layout;
    layout.initialPc = 0x10;
    layout.initialGp = 0;
    layout.loadAddress = 0x80030000;
    const std::string path = dir.write("empty.exe", loadertest::exeImage(layout));

    EXPECT_TRUE(load(console, path.c_str(), &port));
    const auto headers = exchangeHeaders();
    ASSERT_EQ(1u, headers.size());
    EXPECT_EQ(0x80030000u, headers[0].first);
    EXPECT_EQ(0u, headers[0].second);
    EXPECT_EQ(1, target->exchangesCompleted());
    const std::string wire = sentToTarget();
    EXPECT_NE(std::string::npos, wire.find("sr epc 00000010\r"));
    EXPECT_NE(std::string::npos, wire.find("sr gp 00000000\r"));
    EXPECT_NE(std::string::npos, wire.find("sr sp 801ffff0\r"));
    EXPECT_EQ(0x10u, target->reg("epc"));
    EXPECT_EQ(0x801ffff0u, target->reg("sp"));
}

TEST_F(SimLoad, HeaderBytesOutsideTheFieldsDoNotChangeTheWire) {
    startTarget();
    ExeLayout layout;
    layout.data = loadertest::pattern(2100, 3);
    const std::string plain = dir.write("plain.exe", loadertest::exeImage(layout));
    layout.filler = 0x5A;
    const std::string noisy = dir.write("noisy.exe", loadertest::exeImage(layout));

    ASSERT_TRUE(load(console, plain.c_str(), &port));
    const std::string first = wireEndingWith("sr sp 801ffff0\r\r");
    target->clearTranscript();
    ASSERT_TRUE(load(console, noisy.c_str(), &port));
    const std::string second = wireEndingWith("sr sp 801ffff0\r\r");
    EXPECT_EQ(first.size(), second.size());
    EXPECT_TRUE(first == second);
}

TEST_F(SimLoad, ExeShorterThanItsLoadSizeIsRefusedBeforeAnythingIsSent) {
    startTarget();
    ExeLayout layout;
    layout.data = loadertest::pattern(3000, 5);
    layout.loadSize = 5000;
    const std::string path = dir.write("short.exe", loadertest::exeImage(layout));

    EXPECT_FALSE(load(console, path.c_str(), &port));
    EXPECT_EQ(screen.text, "QORA-EXE format\ncannot open file\n");
    EXPECT_EQ(Typing, console.state);
    // The carriage return reaches the target's thread a little later.
    target->waitUntil([&] { return !sentToTarget().empty(); }, std::chrono::milliseconds(2000));
    EXPECT_EQ(sentToTarget(), "\r");
    EXPECT_EQ(0, target->exchangesCompleted() + target->exchangesAborted());
}

TEST_F(SimLoad, NoPromptAfterTheExchangeMeansNoRegisters) {
    sim::Options options;
    options.faults.noPromptAfterExchange = true;
    startTarget(options);
    ExeLayout layout;
    layout.data = loadertest::pattern(500, 9);
    const std::string path = dir.write("prog.exe", loadertest::exeImage(layout));

    EXPECT_FALSE(load(console, path.c_str(), &port));
    EXPECT_NE(std::string::npos, screen.text.find("transfer failed\n"));
    EXPECT_EQ(std::string::npos, sentToTarget().find("sr "));
    expectMemory(0x80010000, layout.data);
}

TEST_F(SimLoad, EscapeStopsALongLoad) {
    sim::Options options;
    options.baud = 921600;  // about 90 KB/s: the load below takes over a second
    startTarget(options);
    ExeLayout layout;
    layout.data = loadertest::pattern(128 * 1024, 11);
    const std::string path = dir.write("long.exe", loadertest::exeImage(layout));
    // Read at the wait's first look at the keyboard, some 200 ms in.
    keys.type({'x', keys::Escape});

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(load(console, path.c_str(), &port));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_EQ(Typing, console.state);
    EXPECT_EQ("QORA-EXE format\n", screen.text.substr(0, 16));
    EXPECT_EQ('\n', screen.text.back());
    EXPECT_EQ(std::string::npos, screen.text.find("failed"));

    EXPECT_TRUE(keys.queue.empty());  // the other key was read and dropped
    ASSERT_TRUE(abortsReach(1));
    const std::string wire = sentToTarget();
    EXPECT_EQ(std::string::npos, wire.find("sr "));
    // The abort byte is the last thing sent: no carriage return after it.
    EXPECT_EQ('\xff', wire.back());
    EXPECT_LT(wire.size(), layout.data.size());  // stopped well before the end
}

EcoffLayout mixedSections() {
    EcoffLayout layout;
    layout.entry = 0x80040010;
    layout.gpValue = 0x80058000;
    // Table order is not address order, and the table order is what counts.
    layout.sections.push_back(section(".data", 0x40, 0x80050000, loadertest::pattern(2500, 1)));
    layout.sections.push_back(section(".text", 0x20, 0x80040000, loadertest::pattern(4096, 2)));
    layout.sections.back().vaddr = 0x00400000;  // bytes go to the physical address
    layout.sections.push_back(section(".rdata", 0x100, 0x80048000, loadertest::pattern(10, 3)));
    layout.sections.push_back(section(".sdata", 0x200, 0x80058000, {}));  // empty, still sent
    layout.sections.push_back(section(".sbss", 0x400, 0x80059000, loadertest::pattern(16, 4)));
    layout.sections.push_back(section(".bss", 0x80, 0x8005a000, loadertest::pattern(16, 5)));
    layout.sections.push_back(section(".data", 0x20, 0x8005b000, loadertest::pattern(16, 6)));
    layout.sections.push_back(section(".textxyz", 0x20, 0x8005c000, loadertest::pattern(16, 7)));
    layout.sections.push_back(section(".rodata", 0x40, 0x8005d000, loadertest::pattern(16, 8)));
    return layout;
}

TEST_F(SimLoad, EcoffSendsEachLoadableSectionInTableOrder) {
    startTarget();
    const EcoffLayout layout = mixedSections();
    const std::string path = dir.write("prog.ecoff", loadertest::ecoffImage(layout));

    EXPECT_TRUE(load(console, path.c_str(), &port));
    EXPECT_EQ(0u, screen.text.find("kembri format\n"));
    EXPECT_EQ(std::string::npos, screen.text.find("failed"));

    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {0x80050000, 2500}, {0x80040000, 4096}, {0x80048000, 10}, {0x80058000, 0}};
    EXPECT_EQ(expected, exchangeHeaders());
    EXPECT_EQ(4, target->exchangesCompleted());
    for (std::size_t i = 0; i < 3; ++i) {
        expectMemory(layout.sections[i].paddr, layout.sections[i].data);
    }
    EXPECT_EQ(Bytes(16, 0), target->readMemory(0x00400000, 16));
    for (std::size_t i = 4; i < layout.sections.size(); ++i) {
        EXPECT_EQ(Bytes(16, 0), target->readMemory(layout.sections[i].paddr, 16)) << i;
    }
    EXPECT_EQ(0x80040010u, target->reg("epc"));
    EXPECT_EQ(0x80058000u, target->reg("gp"));
    EXPECT_EQ(0x801ffff0u, target->reg("sp"));
    EXPECT_NE(std::string::npos, sentToTarget().find("sr epc 80040010\r"));
}

TEST_F(SimLoad, EcoffProgressCountsAllSections) {
    startTarget();
    const std::string path = dir.write("prog.ecoff", loadertest::ecoffImage(mixedSections()));
    EcoffFileJob job;
    ASSERT_TRUE(job.openFile(path.c_str()));
    ASSERT_TRUE(job.start(&port));
    EXPECT_TRUE(job.waitFinished(10000));
    EXPECT_TRUE(job.workerSucceeded());
    EXPECT_EQ(2500u + 4096u + 10u, job.bytesDone());
    job.close();
}

TEST_F(SimLoad, EcoffWithoutSectionsOnlySetsTheRegisters) {
    startTarget();
    EcoffLayout layout;
    layout.entry = 0x80001000;
    layout.gpValue = 0x80002000;
    const std::string path = dir.write("none.ecoff", loadertest::ecoffImage(layout));

    // With no exchange there is no prompt after one: the register sequence
    // has nothing to start on and sends nothing.
    EXPECT_FALSE(load(console, path.c_str(), &port));
    EXPECT_NE(std::string::npos, screen.text.find("transfer failed\n"));
    EXPECT_EQ("\r", wireEndingWith("\r"));

    // A prompt still waiting on the line starts it.
    target->clearTranscript();
    drainLine();
    target->say(">>");
    EXPECT_TRUE(load(console, path.c_str(), &port));
    const std::string wire = wireEndingWith("sr sp 801ffff0\r\r");
    EXPECT_EQ(std::string::npos, wire.find("BWR"));
    EXPECT_EQ(0, target->exchangesCompleted());
    EXPECT_EQ(0u, wire.find("sr epc 80001000\rsr gp 80002000\rsr sp 801ffff0\r"));
    EXPECT_EQ(0x80001000u, target->reg("epc"));
    EXPECT_EQ(0x80002000u, target->reg("gp"));
}

TEST_F(SimLoad, EcoffSectionRunningPastTheFileEndIsRefusedBeforeAnythingIsSent) {
    startTarget();
    EcoffLayout layout;
    layout.sections.push_back(section(".text", 0x20, 0x80010000, loadertest::pattern(1000, 1)));
    layout.sections.push_back(section(".data", 0x40, 0x80020000, loadertest::pattern(3000, 2)));
    layout.sections.back().size = 6000;
    layout.sections.push_back(section(".sdata", 0x200, 0x80030000, {}));
    const std::string path = dir.write("cut.ecoff", loadertest::ecoffImage(layout));

    EXPECT_FALSE(load(console, path.c_str(), &port));
    EXPECT_EQ(screen.text, "kembri format\ncannot open file\n");
    EXPECT_EQ(Typing, console.state);
    // The carriage return reaches the target's thread a little later.
    target->waitUntil([&] { return !sentToTarget().empty(); }, std::chrono::milliseconds(2000));
    EXPECT_EQ(sentToTarget(), "\r");
    EXPECT_EQ(0, target->exchangesCompleted() + target->exchangesAborted());
    EXPECT_EQ(Bytes(1000, 0), target->readMemory(0x80010000, 1000));
}

TEST_F(SimLoad, ElfSendsEachSegmentsFileBytesToItsPhysicalAddress) {
    startTarget();
    loadertest::ElfLayout layout;
    layout.entry = 0x80060040;
    // Table order is not address order, and the table order is what counts.
    layout.segments.push_back(loadertest::segment(0x80070000, loadertest::pattern(2100, 1)));
    layout.segments.back().extraMemory = 0x800;
    layout.segments.push_back(loadertest::segment(0x80060000, loadertest::pattern(4096, 2)));
    layout.segments.back().vaddr = 0x00400000;
    layout.segments.push_back(loadertest::segment(0x80078000, {}));  // all bss: not sent
    layout.segments.back().extraMemory = 0x100;
    layout.hasRegisterInfo = true;
    layout.registerInfoGp = 0x80077ff0;
    const std::string path = dir.write("prog.elf", loadertest::elfImage(layout));
    target->writeMemory(0x80070000 + 2100, Bytes(16, 0xA5));

    EXPECT_TRUE(load(console, path.c_str(), &port));
    EXPECT_EQ(0u, screen.text.find("ELF format\n"));
    EXPECT_EQ(std::string::npos, screen.text.find("failed"));

    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {0x80070000, 2100}, {0x80060000, 4096}};
    EXPECT_EQ(expected, exchangeHeaders());
    EXPECT_EQ(2, target->exchangesCompleted());
    expectMemory(0x80070000, layout.segments[0].data);
    expectMemory(0x80060000, layout.segments[1].data);
    // Memory beyond the file bytes is the program's to clear, not the load's.
    expectMemory(0x80070000 + 2100, Bytes(16, 0xA5));
    EXPECT_EQ(Bytes(16, 0), target->readMemory(0x00400000, 16));
    const std::string wire = wireEndingWith("sr sp 801ffff0\r\r");
    EXPECT_NE(std::string::npos, wire.find("sr epc 80060040\rsr gp 80077ff0\rsr sp 801ffff0\r"));
    EXPECT_EQ(0x80060040u, target->reg("epc"));
    EXPECT_EQ(0x80077ff0u, target->reg("gp"));
    EXPECT_EQ(0x801ffff0u, target->reg("sp"));
}

}  // namespace
