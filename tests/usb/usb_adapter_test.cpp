// The console binary in a Linux guest on /dev/ttyUSB0: QEMU's emulated FTDI
// adapter under the kernel's own ftdi_sio driver, its far end the simulator
// (or the Malta board) on this side. Several checks share one boot: a boot
// costs seconds of emulation.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "sim/sim_target.h"
#include "tests/loader/loader_files.h"
#include "tests/support/qemu_board.h"
#include "tests/support/usb_guest.h"

namespace {

using namespace std::chrono_literals;
using e2e::AdapterControl;

constexpr unsigned reset = 0x4000, modemLines = 0x4001, flowControl = 0x4002, baudRate = 0x4003,
                   dataFormat = 0x4004, latencyTimer = 0x4009;
constexpr unsigned dtrOff = 0x0100, rtsOn = 0x0202, rtsOff = 0x0200, bothOff = 0x0300;

// Every byte value first, then bytes that differ from block to block.
std::string everyByte(std::size_t size, std::uint32_t seed) {
    std::string bytes = e2e::patternBytes(size, seed);
    for (std::size_t i = 0; i < std::min<std::size_t>(256, size); ++i) bytes[i] = char(i);
    return bytes;
}

std::string text(const loadertest::Bytes& bytes) { return {bytes.begin(), bytes.end()}; }

// What the adapter got from one open of the port to its close (the driver
// resets the chip at every open), and the latency timer it had before.
struct Session {
    std::vector<AdapterControl> controls;
    unsigned latencyBefore = ~0u;

    std::size_t find(unsigned request, unsigned value, std::size_t from = 0) const {
        for (std::size_t i = from; i < controls.size(); ++i) {
            if (controls[i].request == request && controls[i].value == value) return i;
        }
        return controls.size();
    }
    // The value last set by `request` before `before` (the session's end by default).
    unsigned last(unsigned request, std::size_t before = ~std::size_t(0)) const {
        for (std::size_t i = std::min(before, controls.size()); i-- > 0;) {
            if (controls[i].request == request) return controls[i].value;
        }
        return ~0u;
    }
    long count(unsigned request, unsigned value) const {
        return std::count_if(controls.begin(), controls.end(), [&](const AdapterControl& control) {
            return control.request == request && control.value == value;
        });
    }
};

std::vector<Session> sessions(const std::vector<AdapterControl>& controls) {
    std::vector<Session> found;
    unsigned latency = ~0u;
    for (const AdapterControl& control : controls) {
        if (control.request == reset) found.push_back({{}, latency});
        if (!found.empty()) found.back().controls.push_back(control);
        if (control.request == latencyTimer) latency = control.value;
    }
    return found;
}

// The line as the console sets it at 230400 baud and leaves it at close.
void expectConsoleLine(const Session& session) {
    EXPECT_EQ(0x0008u, session.last(dataFormat)) << "8 data bits, no parity, one stop bit";
    // 3 MHz / 13 = 230769 baud, the chip's nearest to 230400.
    const std::size_t baud = session.find(baudRate, 0x000d);
    ASSERT_LT(baud, session.controls.size()) << "230400 baud never set";
    const std::size_t dtr = session.find(modemLines, dtrOff, baud);
    const std::size_t rts = session.find(modemLines, rtsOn, dtr);
    const std::size_t fast = session.find(latencyTimer, 1, rts);
    ASSERT_LT(fast, session.controls.size()) << "DTR off, RTS on, then a 1 ms latency timer";
    EXPECT_EQ(1u, session.last(flowControl, fast)) << "RTS/CTS while open";
    EXPECT_EQ(session.latencyBefore, session.last(latencyTimer)) << "the latency timer put back at close";
    EXPECT_EQ(bothOff, session.controls.back().value) << "DTR and RTS dropped at close";
}

class UsbAdapter : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = e2e::UsbGuest::missing();
        if (!reason.empty()) GTEST_SKIP() << reason;
    }
    void startSim() { ASSERT_TRUE(sim.start()); }
    void boot(const std::string& port, const std::string& script) {
        ASSERT_TRUE(guest.start(port, script)) << guest.error();
    }
    std::string memory(std::uint32_t address, std::size_t size) { return text(sim.readMemory(address, size)); }

    sim::SimTarget sim;
    e2e::UsbGuest guest;
};

TEST_F(UsbAdapter, TransfersEveryByteValueAndSetsTheLine) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::string data = everyByte(5 * 2048 + 77, 1);
    const std::string saved = everyByte(4 * 2048 + 5, 2);
    sim.writeMemory(0x80200000, {saved.begin(), saved.end()});
    loadertest::ElfLayout elf;
    elf.entry = 0x80300010;
    elf.segments.push_back(loadertest::segment(0x80300000, loadertest::pattern(3000, 3)));
    std::copy_n(everyByte(256, 0).begin(), 256, elf.segments[0].data.begin());
    loadertest::ExeLayout exe;
    exe.initialPc = 0x80400020;
    exe.loadAddress = 0x80400000;
    exe.data = loadertest::pattern(2100, 4);
    std::copy_n(everyByte(256, 0).begin(), 256, exe.data.begin());
    guest.addFile("data.bin", data);
    guest.addFile("expected.bin", saved);
    guest.addFile("prog.elf", text(loadertest::elfImage(elf)));
    guest.addFile("prog.exe", text(loadertest::exeImage(exe)));
    guest.addFile("main.txt", "local dload /test/data.bin 80100000\nlocal dsave /tmp/saved.bin 80200000 2005\n"
                              "local load /test/prog.elf\nlocal load /test/prog.exe\n");
    guest.addFile("strict.txt", "local dsave /tmp/strict.bin 80200000 800\n");
    ASSERT_NO_FATAL_FAILURE(boot(sim.slavePath(), "tolvanis --list\n" + e2e::guestBatch("main", "main.txt") +
                                                      "cmp /tmp/saved.bin /test/expected.bin && echo saved-matches\n" +
                                                      e2e::guestBatch("strict", "strict.txt", "--strict-rts")));
    ASSERT_EQ(0, guest.finish(120s)) << guest.console();
    const std::string shown = guest.scriptOutput();

    EXPECT_TRUE(std::regex_search(shown, std::regex("/dev/ttyUSB0 +ftdi_sio"))) << shown;
    EXPECT_EQ(0, e2e::batchStatus(shown, "main")) << shown;
    EXPECT_TRUE(data == memory(0x80100000, data.size())) << "dload";
    EXPECT_NE(std::string::npos, shown.find("saved-matches")) << shown;
    EXPECT_TRUE(text(elf.segments[0].data) == memory(0x80300000, 3000)) << "LOAD of an ELF";
    EXPECT_TRUE(text(exe.data) == memory(0x80400000, 2100)) << "LOAD of an EXE";
    EXPECT_EQ(0x80400020u, sim.reg("epc"));

    const std::vector<Session> opened = sessions(guest.controls());
    ASSERT_EQ(2u, opened.size()) << "one open for each batch run, none for --list";
    for (const Session& session : opened) expectConsoleLine(session);
    // Five blocks read at full speed: the pulses merge while bytes come faster
    // than they can follow, across a block's end too (its "Y" does not wait
    // for them), so one pulse after each byte at most, and at least the last.
    EXPECT_GE(opened[0].count(modemLines, rtsOff), 1);
    EXPECT_LE(opened[0].count(modemLines, rtsOff), 5 * 2048);
    EXPECT_EQ(opened[0].count(modemLines, rtsOff), opened[0].count(modemLines, rtsOn) - 1);
    EXPECT_EQ(2048, opened[1].count(modemLines, rtsOff)) << "strict: one pulse after every byte of the block";
}

// Bytes the console sent during the last read exchange ("BRD\r" on).
long repliesInLastRead(const sim::SimTarget& target, char reply) {
    const std::vector<std::uint8_t> sent = target.bytes(sim::Direction::ToTarget);
    const std::string all(sent.begin(), sent.end());
    const std::size_t start = all.rfind("BRD\r");
    return start == std::string::npos ? 0 : std::count(all.begin() + long(start), all.end(), reply);
}

TEST_F(UsbAdapter, AnAdapterUnpluggedAndPluggedInAgain) {
    ASSERT_NO_FATAL_FAILURE(startSim());
    const std::string data = everyByte(3 * 2048 + 9, 5);
    const std::string saved = everyByte(32 * 2048, 6);
    sim.writeMemory(0x80200000, {saved.begin(), saved.end()});
    guest.addFile("data.bin", data);
    guest.addFile("expected.bin", saved);
    guest.addFile("replug.txt", "local sh printf unplug-now\nlocal dload /test/data.bin 80100000\n");
    guest.addFile("cut.txt", "local dsave /tmp/cut.bin 80200000 10000\n");
    ASSERT_NO_FATAL_FAILURE(boot(sim.slavePath(),
                                 e2e::guestBatch("replug", "replug.txt", "--reconnect") +
                                     e2e::guestBatch("cut", "cut.txt") +
                                     "size=$(wc -c < /tmp/cut.bin)\necho \"cut $size bytes\"\n"
                                     "head -c $size /test/expected.bin | cmp - /tmp/cut.bin && echo cut-matches\n"));

    // A shell line sends the monitor nothing: the script waits for a prompt
    // that only the test gives, and the adapter goes meanwhile. (A local line
    // runs every keyword it holds: with "echo" in it, it would also hand the
    // line back with a carriage return, and the monitor's prompt would start
    // the dload before the unplug.)
    ASSERT_TRUE(guest.waitFor("unplug-now", 60s)) << guest.scriptOutput();
    ASSERT_TRUE(guest.unplug());
    ASSERT_TRUE(guest.waitFor("port lost, waiting for it", 20s)) << guest.scriptOutput();
    ASSERT_TRUE(guest.plugIn()) << guest.error();
    ASSERT_TRUE(guest.waitFor("port back", 20s)) << guest.scriptOutput();
    sim.say("\r\n>> ");
    ASSERT_TRUE(guest.waitFor("replug status", 60s)) << guest.scriptOutput();
    EXPECT_EQ(0, e2e::batchStatus(guest.console(), "replug")) << guest.scriptOutput();
    EXPECT_TRUE(data == memory(0x80100000, data.size())) << "the dload after the adapter came back";

    // Gone after three blocks of a dsave were confirmed.
    ASSERT_TRUE(sim.waitUntil([&] { return repliesInLastRead(sim, 'Y') >= 3; }, 60s)) << guest.scriptOutput();
    ASSERT_TRUE(guest.unplug());
    ASSERT_GE(guest.finish(60s), 0) << guest.scriptOutput();
    const std::string shown = guest.scriptOutput();
    EXPECT_NE(std::string::npos, shown.find("transfer failed")) << shown;
    // The failed transfer ends the script (2) before the loss is seen (4), or after.
    const int status = e2e::batchStatus(shown, "cut");
    EXPECT_TRUE(status == 2 || status == 4) << shown;
    std::smatch size;
    ASSERT_TRUE(std::regex_search(shown, size, std::regex("cut ([0-9]+) bytes"))) << shown;
    const long blocks = std::stol(size[1]) / 2048;
    EXPECT_EQ(0, std::stol(size[1]) % 2048) << "whole blocks only";
    // What the target saw confirmed, and at most the block whose "Y" the unplug took.
    const long confirmed = repliesInLastRead(sim, 'Y');
    EXPECT_TRUE(blocks == confirmed || blocks == confirmed + 1) << blocks << " blocks, " << confirmed << " confirmed";
    EXPECT_NE(std::string::npos, shown.find("cut-matches")) << shown;
}

// Processes that keep every core busy while they live, as other builds do.
struct BusyHost {
    explicit BusyHost(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids.push_back(pid);
        }
    }
    ~BusyHost() {
        for (const pid_t pid : pids) ::kill(pid, SIGKILL);
        for (const pid_t pid : pids) ::waitpid(pid, nullptr, 0);
    }
    std::vector<pid_t> pids;
};

// Starved by a busy host, the emulation and the simulator handed the reply
// to a block on after the console's 110 ms ("transfer failed" after a few
// blocks): both stand for hardware and run ahead of the load.
TEST_F(UsbAdapter, DloadsLandWholeOnABusyHost) {
    BusyHost busy(3);
    // The simulator's thread stands for the board, which no host load slows.
    if (!e2e::UsbGuest::aheadOfTheHost(true)) GTEST_SKIP() << "priorities cannot be raised here (not root)";
    const bool started = sim.start();
    e2e::UsbGuest::aheadOfTheHost(false);
    ASSERT_TRUE(started);
    const std::string data = e2e::patternBytes(512 * 1024, 7);
    guest.addFile("data.bin", data);
    guest.addFile("busy.txt", "local dload /test/data.bin 80100000\nlocal dload /test/data.bin 80100000\n");
    ASSERT_NO_FATAL_FAILURE(boot(sim.slavePath(), e2e::guestBatch("busy", "busy.txt")));
    ASSERT_EQ(0, guest.finish(120s)) << guest.scriptOutput();
    EXPECT_EQ(0, e2e::batchStatus(guest.scriptOutput(), "busy")) << guest.scriptOutput();
    EXPECT_TRUE(data == memory(0x80100000, data.size()));
}

// The whole chain: the console in the guest, the adapter, QEMU's Malta board
// with our monitor firmware running the example programs.
TEST_F(UsbAdapter, LoadsAndRunsProgramsOnTheBoard) {
    const std::string reason = e2e::QemuBoard::missing();
    if (!reason.empty()) GTEST_SKIP() << reason;
    e2e::QemuBoard board;
    ASSERT_TRUE(board.start()) << board.error();
    guest.addFile("hello.elf", e2e::readFile(e2e::QemuBoard::example("hello.elf")));
    guest.addFile("fill.elf", e2e::readFile(e2e::QemuBoard::example("fill.elf")));
    guest.addFile("expected.bin", e2e::patternBytes(0x1234, 0x5eed));
    guest.addFile("board.txt", "local load /test/hello.elf\ng\nlocal load /test/fill.elf\nsr a0 80180000\n"
                               "sr a1 1234\nsr a2 5eed\ng\nlocal dsave /tmp/filled.bin 80180000 1234\n");
    ASSERT_NO_FATAL_FAILURE(boot(board.port(), e2e::guestBatch("board", "board.txt") +
                                                   "cmp /tmp/filled.bin /test/expected.bin && echo filled-matches\n"));
    ASSERT_EQ(0, guest.finish(120s)) << guest.scriptOutput();
    const std::string shown = guest.scriptOutput();
    EXPECT_EQ(0, e2e::batchStatus(shown, "board")) << shown;
    EXPECT_NE(std::string::npos, shown.find("hello from the board")) << shown;
    EXPECT_NE(std::string::npos, shown.find("program returned 0000002a")) << shown;
    EXPECT_NE(std::string::npos, shown.find("filled-matches")) << shown;
}

}  // namespace
